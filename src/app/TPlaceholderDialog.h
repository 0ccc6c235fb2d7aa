#pragma once

#include <QDialog>

// Stands in for a modal dialog that is not built yet: its caption, a note and "关闭".
// UI thread only.
class TPlaceholderDialog : public QDialog
{
    Q_OBJECT

public:
    TPlaceholderDialog(const QString& objectName, const QString& caption, const QString& description,
                       QWidget* parent = nullptr);
};
