#include "ui/TPrompt.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {
TPrompt* g_installed = nullptr;

const QString kTitle = QStringLiteral("Kestrova");
} // namespace

TPrompt::~TPrompt() = default;

TPrompt& TPrompt::instance()
{
    static TPrompt real;
    return g_installed ? *g_installed : real;
}

void TPrompt::install(TPrompt* prompt)
{
    g_installed = prompt;
}

void TPrompt::information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, kTitle, text);
}

void TPrompt::notice(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text);
}

void TPrompt::error(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, kTitle, text);
}

bool TPrompt::question(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, kTitle, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

int TPrompt::exec(QDialog* dialog)
{
    return dialog->exec();
}

void TPrompt::warning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, kTitle, text);
}

QString TPrompt::saveFileName(QWidget* parent, const QString& title, const QString& defaultName,
                              const QString& filter)
{
    // The export replaces an existing file without a further question.
    return QFileDialog::getSaveFileName(parent, title, defaultName, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void TPrompt::downloadFailed(QWidget* parent)
{
    notice(parent, QStringLiteral("提示"),
           QStringLiteral("网络连阻塞或断开，请检查网络并退出程序重新启动！"));
}
