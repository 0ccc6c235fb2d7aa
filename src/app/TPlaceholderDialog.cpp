#include "app/TPlaceholderDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TPlaceholderDialog::TPlaceholderDialog(const QString& objectName, const QString& caption,
                                       const QString& description, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(objectName);
    setWindowTitle(caption);

    auto* text = new QLabel(description + QStringLiteral("\n\n此功能正在制作中。"), this);
    text->setObjectName(QStringLiteral("placeholderText"));
    text->setWordWrap(true);
    text->setMinimumWidth(320);

    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(close, 0, Qt::AlignRight);
}
