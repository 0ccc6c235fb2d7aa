#pragma once

#include <QDialog>

// The about box: product name, version, update date, what the program does, "关闭".
// Modal; UI thread only.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget* parent = nullptr);
};
