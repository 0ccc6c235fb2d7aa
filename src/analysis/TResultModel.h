#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>

class TCursor;

// A read-only grid model over chosen columns of a cursor, shown as the cursor shows them
// (display texts, cut texts); it reloads when the cursor is rebuilt. UI thread only.
class TResultModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString field;
        QString title;
    };

    TResultModel(TCursor* cursor, QList<Column> columns, QObject* parent = nullptr);

    TCursor* cursor() const { return m_cursor; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void reload();

    QPointer<TCursor> m_cursor;
    QList<Column> m_columns;
    QList<int> m_fieldIndex; // cursor column of each grid column, -1 when absent
    int m_rows = 0;
};
