#include "analysis/charts/TShopPanel.h"

#include "store/TCursor.h"

#include <QGridLayout>
#include <QLabel>

TShopPanel::TShopPanel(TCursor* shops, const QList<Field>& fields, QWidget* parent)
    : QGroupBox(parent), m_shops(shops)
{
    setObjectName(QStringLiteral("shopPanel"));
    auto* grid = new QGridLayout(this);
    int row = 0;
    int col = 0;
    for (const Field& f : fields) {
        auto* value = new QLabel(this);
        value->setObjectName(f.column);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setMinimumWidth(80);
        grid->addWidget(new QLabel(f.caption, this), row, col * 2);
        grid->addWidget(value, row, col * 2 + 1);
        m_values.insert(f.column, value);
        if (++col == 2) {
            col = 0;
            ++row;
        }
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    if (shops) {
        connect(shops, &TCursor::currentChanged, this, &TShopPanel::refresh);
        connect(shops, &TCursor::dataReset, this, &TShopPanel::refresh);
    }
    refresh();
}

QString TShopPanel::text(const QString& column) const
{
    QLabel* label = m_values.value(column);
    return label ? label->text() : QString();
}

void TShopPanel::refresh()
{
    for (auto it = m_values.begin(); it != m_values.end(); ++it)
        it.value()->setText(m_shops ? m_shops->FieldByName(it.key()).asString() : QString());
}
