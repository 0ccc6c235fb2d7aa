#include "app/TPlaceholderView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

TPlaceholderView::TPlaceholderView(const QString& objectName, const QString& caption,
                                   const QString& description, QWidget* parent)
    : TView(parent)
{
    setObjectName(objectName);
    setWindowTitle(caption);

    auto* title = new QLabel(caption, this);
    title->setObjectName(QStringLiteral("placeholderCaption"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);

    auto* text = new QLabel(description, this);
    text->setObjectName(QStringLiteral("placeholderText"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setMaximumWidth(560);

    auto* note = new QLabel(QStringLiteral("此功能正在制作中，完成后将在这里显示。"), this);
    note->setAlignment(Qt::AlignCenter);
    note->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(2);
    layout->addWidget(title);
    layout->addSpacing(12);
    // Centred by stretches, not by an alignment flag, which would cost the wrapped text its
    // height-for-width and squeeze it into one line.
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(text, 1);
    row->addStretch();
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addWidget(note);
    layout->addStretch(3);
}
