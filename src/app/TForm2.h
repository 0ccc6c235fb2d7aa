#pragma once

#include <QDialog>

class QLabel;

// The exit confirmation: one question, "强行退出" or "继续". A new dialog is made for each
// question. UI thread only.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    void setMessage(const QString& text);
    // The answer: true after "强行退出"; "继续" and closing the dialog mean continue.
    bool forceQuit() const { return m_forceQuit; }

private:
    QLabel* m_message;
    bool m_forceQuit = false;
};
