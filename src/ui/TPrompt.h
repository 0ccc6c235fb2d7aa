#pragma once

#include <QString>

class QDialog;
class QWidget;

// Every message box and modal dialog of the program goes through the installed prompt, so a
// test can answer them without a modal loop. UI thread only.
class TPrompt
{
public:
    virtual ~TPrompt();

    // The installed prompt; the real one (message boxes, exec()) unless a test installed one.
    static TPrompt& instance();
    // Installs a prompt the caller keeps alive; nullptr returns to the real one.
    static void install(TPrompt* prompt);

    virtual void information(QWidget* parent, const QString& text);
    // An information box with a title of its own instead of the program's name.
    virtual void notice(QWidget* parent, const QString& title, const QString& text);
    // The notice of a download that failed for good (a run's page, the proxy test).
    void downloadFailed(QWidget* parent);
    // An error box, e.g. with the database engine's message.
    virtual void error(QWidget* parent, const QString& text);
    // Yes or No; true for Yes.
    virtual bool question(QWidget* parent, const QString& text);
    // Runs a modal dialog and returns its result code.
    virtual int exec(QDialog* dialog);
    // A warning box with an OK button.
    virtual void warning(QWidget* parent, const QString& text);
    // The save-file dialog; an empty text when the user cancels. An existing file is chosen
    // without a second question.
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& defaultName,
                                 const QString& filter);
};
