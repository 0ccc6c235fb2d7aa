#pragma once

#include <QGroupBox>
#include <QHash>
#include <QPointer>

class QLabel;
class TCursor;

// Read-only fields of the current shop row, refreshed whenever the shop cursor moves or is
// rebuilt. Each field label is named after its column. UI thread only.
class TShopPanel : public QGroupBox
{
    Q_OBJECT

public:
    struct Field
    {
        QString caption;
        QString column;
    };

    TShopPanel(TCursor* shops, const QList<Field>& fields, QWidget* parent = nullptr);

    QString text(const QString& column) const;

private:
    void refresh();

    QPointer<TCursor> m_shops;
    QHash<QString, QLabel*> m_values;
};
