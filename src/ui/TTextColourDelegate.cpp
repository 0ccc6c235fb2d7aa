#include "ui/TTextColourDelegate.h"

void TTextColourDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.isValid())
        option->palette.setBrush(QPalette::HighlightedText, foreground.value<QBrush>());
}
