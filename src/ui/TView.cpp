#include "ui/TView.h"

TView::TView(QWidget* parent) : QWidget(parent) {}

std::optional<int> TView::backgroundProgress() const
{
    return std::nullopt;
}
