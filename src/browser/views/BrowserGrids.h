#pragma once

#include <QStringList>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QObject;
class QWidget;
class TCursorModel;
class TTable;

// The browser's two grids (their columns, colours, title fonts and widths) and its named
// controls. UI thread only.
namespace browsergrids {

// The shop list: rows of a high seller level in red, every other row tinted.
TCursorModel* newShopModel(TTable* shops, QObject* parent);
// The trade detail: the buyer flag as "买家" or "卖家", every other row tinted.
TCursorModel* newRatingModel(TTable* ratings, QObject* parent);

// A read-only grid over the model that selects whole rows, with the hint as its tool tip.
QTableView* shopGrid(TCursorModel* model, const QString& hint, QWidget* parent);
QTableView* ratingGrid(TCursorModel* model, const QString& hint, QWidget* parent);

QLineEdit* namedEdit(QWidget* parent, const char* name);
QComboBox* namedList(QWidget* parent, const char* name, const QStringList& items);
QPushButton* namedButton(QWidget* parent, const char* name, const QString& caption);

} // namespace browsergrids
