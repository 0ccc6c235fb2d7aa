#pragma once

#include <QStyledItemDelegate>

// Draws a cell's own text colour (Qt::ForegroundRole) on the selected row too: the selection
// would otherwise draw it in the palette's highlighted-text colour, hiding a row's red mark.
// UI thread only.
class TTextColourDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
