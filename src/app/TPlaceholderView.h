#pragma once

#include "app/TView.h"

// Stands in for a view that is not built yet: its caption and a note on what it will do.
// UI thread only.
class TPlaceholderView : public TView
{
    Q_OBJECT

public:
    TPlaceholderView(const QString& objectName, const QString& caption, const QString& description,
                     QWidget* parent = nullptr);
};
