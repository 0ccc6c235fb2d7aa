#include "store/TBatchInsert.h"

#include "store/SqlValue.h"
#include "store/TConnection.h"

TBatchInsert::TBatchInsert(TConnection& connection, const QString& table, const QStringList& columns)
    : m_connection(connection), m_table(table), m_columns(columns)
{
    for (const QString& c : columns)
        m_types.push_back(schema::columnType(c));
}

bool TBatchInsert::add(const QVariantList& values, QString* error)
{
    std::vector<QVariant> row;
    row.reserve(m_types.size());
    for (size_t i = 0; i < m_types.size(); ++i) {
        auto value = sqlvalue::forColumn(values.value(static_cast<qsizetype>(i)), m_types[i], error);
        if (!value) {
            ++m_failed;
            return false;
        }
        row.push_back(*value);
    }
    m_pending.insert(m_pending.end(), row.begin(), row.end());
    if (m_pending.size() >= m_types.size() * kRowsPerStatement)
        return flush();
    return true;
}

QString TBatchInsert::statementFor(int rows) const
{
    QStringList marks;
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        marks << QStringLiteral("?");
    const QString row = u'(' + marks.join(u',') + u')';
    QStringList all;
    for (int r = 0; r < rows; ++r)
        all << row;
    return QStringLiteral("insert into %1(%2) values%3").arg(m_table, m_columns.join(u','), all.join(u','));
}

bool TBatchInsert::send(int rows, const std::vector<QVariant>& values, int* changed)
{
    TStatement one;
    TStatement& s = rows == kRowsPerStatement ? m_full : one;
    if (!s.isPrepared() && !s.prepare(m_connection, statementFor(rows))) {
        m_error = s.error();
        m_code = s.errorCode();
        return false;
    }
    QVariantList list;
    list.reserve(static_cast<qsizetype>(values.size()));
    for (const QVariant& v : values)
        list << v;
    *changed = s.bindList(list) ? s.execute() : -1;
    if (*changed < 0) {
        m_error = s.error();
        m_code = s.errorCode();
        return false;
    }
    return true;
}

bool TBatchInsert::flush()
{
    if (m_broken)
        return false;
    m_broken = !sendPending();
    return !m_broken;
}

bool TBatchInsert::sendPending()
{
    if (m_pending.empty())
        return true;
    const size_t width = m_types.size();
    const int rows = static_cast<int>(m_pending.size() / width);
    std::vector<QVariant> pending;
    pending.swap(m_pending);
    // Outside a transaction every statement is its own, and a refused one spoils nothing.
    const bool inTransaction = m_connection.inTransaction();
    auto exec = [this, inTransaction](const char* sql) {
        if (!inTransaction || m_connection.exec(QString::fromLatin1(sql)))
            return true;
        m_error = m_connection.error();
        m_code = m_connection.engineCode();
        return false;
    };
    const bool guarded = exec("SAVEPOINT batch");
    int changed = 0;
    if (guarded && send(rows, pending, &changed)) {
        m_stored += changed;
        return exec("RELEASE SAVEPOINT batch");
    }
    if (!guarded || TConnection::isStorageFault(m_code))
        return false;
    // One row the server refused: the others are written one by one.
    if (!exec("ROLLBACK TO SAVEPOINT batch"))
        return false;
    for (int r = 0; r < rows; ++r) {
        const std::vector<QVariant> row(pending.begin() + r * width, pending.begin() + (r + 1) * width);
        if (send(1, row, &changed)) {
            m_stored += changed;
            if (!exec("RELEASE SAVEPOINT batch; SAVEPOINT batch"))
                return false;
            continue;
        }
        if (TConnection::isStorageFault(m_code))
            return false;
        ++m_failed;
        if (!exec("ROLLBACK TO SAVEPOINT batch"))
            return false;
    }
    return exec("RELEASE SAVEPOINT batch");
}
