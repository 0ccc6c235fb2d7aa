#pragma once

#include "analysis/AnalysisSql.h"

#include <QStringList>

class QComboBox;
class QDate;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QSplitter;
class QTableView;
class QWidget;
class TTable;

// Controls the three analysis views build alike. UI thread only.
namespace analysisui {

// A date field of the top bar, in the short date format with a calendar.
QDateEdit* dateEdit(const char* name, const QDate& date, QWidget* parent);
QLabel* namedLabel(const char* name, const QString& text, QWidget* parent);
// A fixed list with its first item chosen.
QComboBox* choiceList(const char* name, const QStringList& items, QWidget* parent);
// The hidden percentage gauge shown while a run is under way.
QProgressBar* runGauge(QWidget* parent);
// A caption and its input, side by side on the top bar.
void addLabelled(QHBoxLayout* bar, const QString& caption, QWidget* input);
// A read-only result table that selects whole rows; the caller sets its model.
QTableView* resultTable(const char* name, QWidget* parent);
// The chart above, the shop's panel and the result table side by side below it.
QSplitter* chartOverShopAndTable(QWidget* chart, QWidget* shop, QWidget* table, QWidget* parent);
// The range a run works on: the current shop of the shop cursor and the inputs' values.
analysis::Range currentRange(TTable* shops, const QDateEdit* begin, const QDateEdit* end,
                             const QComboBox* pj);

} // namespace analysisui
