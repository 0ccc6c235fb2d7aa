#pragma once

#include <QDialog>

// The about box: product name, version, update date, what the program does, the data folder
// in use, "关闭".
// Modal; UI thread only.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget* parent = nullptr);
};
