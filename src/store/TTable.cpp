#include "store/TTable.h"

#include "store/FilterText.h"
#include "store/SqlValue.h"
#include "store/TConnection.h"
#include "store/TStatement.h"
#include "text/GbkCodec.h"

#include <charconv>

namespace {
constexpr int kBlock = 200;
// Dropping the cache is the dearest step of scrolling a long grid; a few thousand rows
// cover any visible page many times over and free in a few milliseconds.
constexpr int kCacheLimit = 4000;
// Whole numbers joined by commas.
std::vector<qlonglong> splitKeys(const QByteArray& text)
{
    std::vector<qlonglong> keys;
    keys.reserve(static_cast<size_t>(text.count(',')) + 1);
    const char* p = text.constData();
    const char* end = p + text.size();
    while (p < end) {
        qlonglong key = 0;
        const auto [next, ec] = std::from_chars(p, end, key);
        if (ec == std::errc())
            keys.push_back(key);
        p = next + 1;
    }
    return keys;
}

} // namespace

TTable::TTable(TConnection* connection, const QString& name, const QString& source,
               const QStringList& columns, QObject* parent)
    : TCursor(name, parent), m_connection(connection), m_source(source)
{
    setColumns(columns);
}

bool TTable::Open()
{
    return load(std::nullopt);
}

void TTable::Close()
{
    m_keys.clear();
    m_cache.clear();
    TCursor::Close();
}

bool TTable::Refresh()
{
    if (!Active())
        return Open();
    return load(GetBookmark());
}

bool TTable::SetFilter(const QString& filter)
{
    const QString old = m_filter;
    m_filter = filter;
    if (!Active() || !m_filtered)
        return true;
    if (!load(std::nullopt)) {
        m_filter = old;
        return false;
    }
    return true;
}

bool TTable::SetFiltered(bool on)
{
    const bool old = m_filtered;
    m_filtered = on;
    if (!Active() || old == on)
        return true;
    if (!load(std::nullopt)) {
        m_filtered = old;
        return false;
    }
    return true;
}

bool TTable::SetSort(const QString& sort)
{
    const QString old = m_sort;
    m_sort = sort;
    if (!Active())
        return true;
    if (!load(std::nullopt)) {
        m_sort = old;
        return false;
    }
    return true;
}

void TTable::SetMaster(TCursor* master, const QString& fields)
{
    if (m_master)
        disconnect(m_master, nullptr, this, nullptr);
    m_master = master;
    m_masterFields = fields.split(u';', Qt::SkipEmptyParts);
    if (m_master)
        connect(m_master, &TCursor::currentChanged, this, [this] {
            if (Active())
                load(std::nullopt);
        });
}

void TTable::SetDisplayByteLimit(const QStringList& columns, int bytes)
{
    m_limitedColumns = columns;
    m_byteLimit = bytes;
}

bool TTable::load(std::optional<Bookmark> keep)
{
    if (!m_connection || !m_connection->isOpen()) {
        setError(TConnection::notOpenError());
        return false;
    }
    std::optional<std::vector<qlonglong>> given;
    if (m_keySource && !m_filtered)
        given = m_keySource();
    if (given)
        return show(std::move(*given), keep);
    QString error;
    QStringList conditions;
    QVariantList params;
    if (m_filtered) {
        auto clause = filtertext::parseFilter(m_filter, FieldNames(), &error);
        if (!clause) {
            setError(error);
            return false;
        }
        if (!clause->sql.isEmpty()) {
            conditions << QStringLiteral("(%1)").arg(clause->sql);
            params << clause->params;
        }
    }
    if (m_master) {
        for (const QString& field : m_masterFields) {
            const TField value = m_master->FieldByName(field);
            if (FieldIndex(field) < 0) {
                setError(QStringLiteral("Unknown link field %1.").arg(field));
                return false;
            }
            if (value.isNull()) {
                conditions << QStringLiteral("%1 IS NULL").arg(field);
            } else {
                conditions << QStringLiteral("%1 = ?").arg(field);
                params << value.raw();
            }
        }
    }
    auto order = filtertext::parseSort(m_sort, FieldNames(), &error);
    if (!order) {
        setError(error);
        return false;
    }
    QString sql = QStringLiteral("SELECT id FROM %1").arg(m_source);
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY ") +
           (order->isEmpty() ? QStringLiteral("id") : *order + QStringLiteral(", id"));

    // A server sends a million keys as one text far faster than as a million rows. The
    // subquery's order reaches the aggregate: a sorted subquery is never merged into the
    // query around it.
    const bool joined = m_connection->engine() == TConnection::Engine::Postgres;
    if (joined)
        sql = QStringLiteral("SELECT string_agg(CAST(id AS text), ',') FROM (%1) k").arg(sql);
    TStatement statement;
    if (!statement.prepare(*m_connection, sql) || !statement.bindList(params)) {
        setError(statement.error());
        return false;
    }
    std::vector<qlonglong> keys;
    while (statement.step()) {
        if (joined)
            keys = splitKeys(statement.column(0).toString().toLatin1());
        else
            keys.push_back(statement.column(0).toLongLong());
    }
    if (!statement.error().isEmpty()) {
        setError(statement.error());
        return false;
    }
    return show(std::move(keys), keep);
}

bool TTable::show(std::vector<qlonglong> keys, std::optional<Bookmark> keep)
{
    m_keys = std::move(keys);
    m_cache.clear();
    setActive(true);
    int row = 0;
    if (keep) {
        if (auto found = rowOfKey(*keep))
            row = *found;
    }
    resetTo(row);
    return true;
}

std::optional<TCursor::Bookmark> TTable::keyOfRow(int row) const
{
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    return m_keys[row];
}

std::optional<int> TTable::rowOfKey(Bookmark key) const
{
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (m_keys[i] == key)
            return static_cast<int>(i);
    return std::nullopt;
}

void TTable::fetchBlock(int row) const
{
    if (m_cache.size() > kCacheLimit)
        m_cache.clear();
    QStringList marks;
    QVariantList ids;
    for (int r = row; r < rowCount() && r < row + kBlock; ++r) {
        if (m_cache.contains(m_keys[r]))
            continue;
        marks << QStringLiteral("?");
        ids << m_keys[r];
    }
    if (ids.isEmpty())
        return;
    const QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE id IN (%3)")
                            .arg(FieldNames().join(u','), m_source, marks.join(u','));
    TStatement statement;
    if (!statement.prepare(*m_connection, sql) || !statement.bindList(ids))
        return;
    const int idColumn = FieldIndex(QStringLiteral("id"));
    const int columns = statement.columnCount();
    while (statement.step()) {
        QVariantList values;
        values.reserve(columns);
        for (int c = 0; c < columns; ++c)
            values << statement.column(c);
        m_cache.insert(values.value(idColumn).toLongLong(), values);
    }
    // Rows deleted elsewhere since the snapshot read as empty rows.
    for (const QVariant& id : ids)
        if (!m_cache.contains(id.toLongLong()))
            m_cache.insert(id.toLongLong(), QVariantList());
}

QVariant TTable::value(int row, int column) const
{
    if (!Active() || row < 0 || row >= rowCount())
        return QVariant();
    auto it = m_cache.constFind(m_keys[row]);
    if (it == m_cache.constEnd()) {
        fetchBlock(row);
        it = m_cache.constFind(m_keys[row]);
        if (it == m_cache.constEnd())
            return QVariant();
    }
    return it->value(column);
}

QString TTable::DisplayText(int row, int column) const
{
    QString text = TCursor::DisplayText(row, column);
    if (m_byteLimit <= 0 || !m_limitedColumns.contains(FieldNames().value(column), Qt::CaseInsensitive))
        return text;
    const std::string bytes = gbk::fromQString(text);
    if (static_cast<int>(bytes.size()) <= m_byteLimit)
        return text;
    // Cut at the limit without splitting a double-byte character.
    size_t cut = 0;
    while (cut < bytes.size()) {
        size_t step =
            gbk::isLeadByte(static_cast<unsigned char>(bytes[cut])) && cut + 1 < bytes.size() ? 2 : 1;
        if (cut + step > static_cast<size_t>(m_byteLimit))
            break;
        cut += step;
    }
    return gbk::toQString(std::string_view(bytes).substr(0, cut));
}

bool TTable::deleteRow(int row)
{
    TStatement statement;
    if (!statement.prepare(*m_connection, QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(m_source)) ||
        !statement.bindList({m_keys[row]}) || statement.execute() < 0) {
        setError(statement.error());
        return false;
    }
    m_cache.remove(m_keys[row]);
    m_keys.erase(m_keys.begin() + row);
    return true;
}

bool TTable::updateRow(int row, const QVariantHash& values)
{
    QStringList sets;
    QVariantList params;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString column = FieldNames().value(FieldIndex(it.key()));
        QString error;
        auto converted = sqlvalue::forColumn(it.value(), schema::columnType(column), &error);
        if (!converted) {
            setError(error);
            return false;
        }
        sets << column + QStringLiteral(" = ?");
        params << *converted;
    }
    params << m_keys[row];
    TStatement statement;
    const QString sql =
        QStringLiteral("UPDATE %1 SET %2 WHERE id = ?").arg(m_source, sets.join(QStringLiteral(", ")));
    if (!statement.prepare(*m_connection, sql) || !statement.bindList(params) || statement.execute() < 0) {
        setError(statement.error());
        return false;
    }
    m_cache.remove(m_keys[row]);
    return true;
}
