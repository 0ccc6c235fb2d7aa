#include "app/TForm2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TForm2::TForm2(QWidget* parent) : QDialog(parent), m_message(new QLabel(this))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("退出确认？"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(40, 40));
    m_message->setObjectName(QStringLiteral("msgLabel"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(260);

    auto* force = new QPushButton(QStringLiteral("强行退出"), this);
    force->setObjectName(QStringLiteral("btnForceQuit"));
    auto* keepOn = new QPushButton(QStringLiteral("继续"), this);
    keepOn->setObjectName(QStringLiteral("btnContinue"));
    // Enter keeps the program running: quitting is the answer that can lose work.
    keepOn->setDefault(true);
    connect(force, &QPushButton::clicked, this, [this] {
        m_forceQuit = true;
        accept();
    });
    connect(keepOn, &QPushButton::clicked, this, [this] {
        m_forceQuit = false;
        reject();
    });

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(m_message, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(force);
    buttons->addWidget(keepOn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

void TForm2::setMessage(const QString& text)
{
    m_message->setText(text);
}
