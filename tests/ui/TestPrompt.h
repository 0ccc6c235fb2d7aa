#pragma once

#include "ui/TPrompt.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QStringList>
#include <QTest>

// Answers the program's message boxes and dialogs inside a test, without a modal loop: it
// records every message and presses the named button of each dialog that is run, in order.
class TestPrompt : public TPrompt
{
public:
    TestPrompt() { TPrompt::install(this); }
    ~TestPrompt() override { TPrompt::install(nullptr); }
    TestPrompt(const TestPrompt&) = delete;
    TestPrompt& operator=(const TestPrompt&) = delete;

    QStringList informations;
    QStringList noticeTitles; // the titles of the information boxes that have their own
    QStringList errors;
    QStringList questions;
    bool answerYes = false;

    // One button object name per dialog to come; with none left a dialog is rejected (Esc).
    QStringList presses;
    QStringList dialogs;     // "objectName|window title" of each dialog run
    QStringList dialogTexts; // each dialog's label texts, joined by line breaks
    int dialogsLeftOpen = 0; // dialogs the pressed button did not close
    QStringList warnings;
    // The names the save dialogs answer, in order; with none left a dialog is cancelled.
    QStringList saveFiles;
    QStringList saveDialogs; // "title|default name|filter" of each save dialog shown

    void information(QWidget*, const QString& text) override { informations << text; }
    void notice(QWidget*, const QString& title, const QString& text) override
    {
        noticeTitles << title;
        informations << text;
    }
    void error(QWidget*, const QString& text) override { errors << text; }
    bool question(QWidget*, const QString& text) override
    {
        questions << text;
        return answerYes;
    }
    void warning(QWidget*, const QString& text) override { warnings << text; }
    QString saveFileName(QWidget*, const QString& title, const QString& defaultName,
                         const QString& filter) override
    {
        saveDialogs << title + u'|' + defaultName + u'|' + filter;
        return saveFiles.isEmpty() ? QString() : saveFiles.takeFirst();
    }
    int exec(QDialog* dialog) override
    {
        dialogs << dialog->objectName() + u'|' + dialog->windowTitle();
        QStringList texts;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                texts << label->text();
        dialogTexts << texts.join(u'\n');
        dialog->show();
        QAbstractButton* button = nullptr;
        if (!presses.isEmpty())
            button = dialog->findChild<QAbstractButton*>(presses.takeFirst());
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            dialog->reject();
        if (dialog->isVisible()) {
            ++dialogsLeftOpen;
            dialog->reject();
        }
        return dialog->result();
    }
};
