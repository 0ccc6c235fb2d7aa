#include "store/TQuery.h"

#include "store/TConnection.h"

TQuery::TQuery(TConnection* connection, const QString& name, QObject* parent)
    : TCursor(name, parent), m_connection(connection)
{
}

void TQuery::SetSQL(const QString& sql)
{
    if (sql == m_sql)
        return;
    if (Active())
        Close();
    m_sql = sql;
}

void TQuery::SetParam(const QString& name, const QVariant& value)
{
    m_params.insert(name.toLower(), value);
}

bool TQuery::prepare()
{
    if (!m_connection || !m_connection->isOpen()) {
        setError(TConnection::notOpenError());
        return false;
    }
    if (m_statement.isPrepared() && m_preparedSql == m_sql &&
        m_preparedGeneration == m_connection->generation())
        return true;
    m_preparedSql.clear();
    if (!m_statement.prepare(*m_connection, m_sql)) {
        setError(m_statement.error());
        return false;
    }
    m_preparedSql = m_sql;
    m_preparedGeneration = m_connection->generation();
    return true;
}

bool TQuery::Open()
{
    m_rows.clear();
    setActive(false);
    if (!prepare()) {
        notifyReset();
        return false;
    }
    if (!m_statement.bind(m_params)) {
        setError(m_statement.error());
        notifyReset();
        return false;
    }
    setColumns(m_statement.columnNames());
    const int columns = m_statement.columnCount();
    while (m_statement.step()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << m_statement.column(c);
        m_rows.push_back(std::move(row));
    }
    const QString error = m_statement.error();
    m_statement.reset();
    if (!error.isEmpty()) {
        setError(error);
        m_rows.clear();
        notifyReset();
        return false;
    }
    setActive(true);
    resetTo(0);
    return true;
}

void TQuery::SetSnapshot(const QStringList& columns, std::vector<QVariantList> rows, int recNo)
{
    setColumns(columns);
    m_rows = std::move(rows);
    setActive(true);
    resetTo(recNo - 1);
}

void TQuery::Close()
{
    m_rows.clear();
    TCursor::Close();
}

int TQuery::ExecSQL()
{
    if (!prepare())
        return -1;
    if (!m_statement.bind(m_params)) {
        setError(m_statement.error());
        return -1;
    }
    int changed = m_statement.execute();
    if (changed < 0)
        setError(m_statement.error());
    return changed;
}

QVariant TQuery::value(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return QVariant();
    return m_rows[row].value(column);
}

bool TQuery::ReturnsRows()
{
    return prepare() && m_statement.columnCount() > 0;
}
