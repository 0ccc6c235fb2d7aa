#include "analysis/TResultModel.h"

#include "store/TCursor.h"

TResultModel::TResultModel(TCursor* cursor, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_cursor(cursor), m_columns(std::move(columns))
{
    connect(cursor, &TCursor::dataReset, this, &TResultModel::reload);
    reload();
}

void TResultModel::reload()
{
    beginResetModel();
    m_fieldIndex.clear();
    for (const Column& c : m_columns)
        m_fieldIndex << (m_cursor ? m_cursor->FieldIndex(c.field) : -1);
    m_rows = m_cursor ? m_cursor->RecordCount() : 0;
    endResetModel();
}

int TResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TResultModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !m_cursor || !index.isValid() || index.row() >= m_rows)
        return QVariant();
    const int field = m_fieldIndex.value(index.column(), -1);
    return field < 0 ? QVariant() : QVariant(m_cursor->DisplayText(index.row(), field));
}

QVariant TResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return m_columns.value(section).title;
    return section + 1;
}
