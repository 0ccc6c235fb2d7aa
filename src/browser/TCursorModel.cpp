#include "browser/TCursorModel.h"

#include "browser/BrowserTexts.h"
#include "store/TTable.h"

TCursorModel::TCursorModel(TTable* cursor, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_cursor(cursor), m_columns(std::move(columns))
{
    for (const Column& c : m_columns) {
        m_cursorColumns << m_cursor->FieldIndex(c.field);
        m_titles << c.title;
    }
    m_rows = m_cursor->RecordCount();
    connect(m_cursor, &TCursor::dataReset, this, &TCursorModel::cursorReset);
}

int TCursorModel::columnOf(const QString& field) const
{
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns[c].field.compare(field, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

void TCursorModel::cursorReset()
{
    if (m_quiet)
        return;
    // The cursor has already changed; the views only need to forget what they read.
    beginResetModel();
    m_rows = m_cursor->RecordCount();
    endResetModel();
}

bool TCursorModel::sortByColumn(int column)
{
    if (column < 0 || column >= m_columns.size())
        return false;
    const QString field = m_columns[column].field;
    bool ascending = false;
    const QString sort = browsertexts::nextSort(m_cursor->Sort(), field, &ascending);
    if (!m_cursor->SetSort(sort))
        return false;
    for (QString& t : m_titles)
        t = browsertexts::stripArrow(t);
    m_titles[column] =
        QChar(ascending ? browsertexts::kUpArrow : browsertexts::kDownArrow) + m_titles[column];
    m_sorted = column;
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(m_columns.size()) - 1);
    return true;
}

bool TCursorModel::postCurrent(const QVariantHash& values)
{
    const int row = m_cursor->RecNo() - 1;
    if (row < 0 || !m_cursor->Edit())
        return false;
    for (auto it = values.begin(); it != values.end(); ++it)
        m_cursor->SetFieldValue(it.key(), it.value());
    // Posting resets the cursor's views; the rows stay where they are, so only one changed.
    m_quiet = true;
    const bool ok = m_cursor->Post();
    m_quiet = false;
    if (ok)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    return ok;
}

int TCursorModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TCursorModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QString TCursorModel::displayText(int row, int column) const
{
    return m_cursor->DisplayText(row, cursorColumn(column));
}

QVariant TCursorModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || role != Qt::DisplayRole)
        return QVariant();
    return displayText(index.row(), index.column());
}

QVariant TCursorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return m_titles.value(section);
}
