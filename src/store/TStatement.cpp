#include "store/TStatement.h"

#include "store/PgDialect.h"
#include "store/PgLink.h"
#include "store/SqlDialect.h"
#include "store/SqlValue.h"
#include "store/TConnection.h"

#include <atomic>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace {

bool isPostgres(const TConnection* c)
{
    return c && c->engine() == TConnection::Engine::Postgres;
}

// The catalog numbers of the types the dialect declares; 0 lets the server infer.
Oid serverTypeOid(const QString& type)
{
    static const QHash<QString, Oid> oids{{QStringLiteral("timestamp"), 1114},
                                          {QStringLiteral("bigint"), 20},
                                          {QStringLiteral("boolean"), 16},
                                          {QStringLiteral("double precision"), 701},
                                          {QStringLiteral("text"), 25}};
    return oids.value(type, 0);
}

constexpr Oid kTimestampOid = 1114;

} // namespace

TStatement::~TStatement()
{
    finalize();
}

void TStatement::finalize()
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_slots.clear();
    if (!m_serverName.isEmpty()) {
        dropServerResult();
        // A statement of an earlier link died with it; only a live one is given back.
        if (!m_token.expired() && m_preparedGeneration == m_connection->generation() &&
            PQstatus(m_connection->serverLink()) == CONNECTION_OK) {
            const QByteArray sql = "DEALLOCATE " + m_serverName.toLatin1();
            PQclear(PQexec(m_connection->serverLink(), sql.constData()));
        }
        m_serverName.clear();
    }
    m_types.clear();
    m_values.clear();
    m_nulls.clear();
    m_names.clear();
}

bool TStatement::prepare(TConnection& connection, const QString& sql)
{
    finalize();
    m_connection = &connection;
    m_db = connection.handle();
    m_error.clear();
    m_code = 0;
    if (isPostgres(&connection)) {
        m_sql = sql;
        m_token = connection.serverToken();
        return prepareServer();
    }
    if (!m_db) {
        m_error = TConnection::notOpenError();
        m_code = SQLITE_MISUSE;
        return false;
    }
    const QByteArray text = dialect::rewrite(sql).toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), static_cast<int>(text.size()), &m_stmt, &tail) !=
        SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        m_code = sqlite3_errcode(m_db) & 0xff;
        m_stmt = nullptr;
        return false;
    }
    if (!m_stmt) {
        m_error = QStringLiteral("The statement is empty.");
        return false;
    }
    for (const char* p = tail; p && *p; ++p) {
        if (!isspace(static_cast<unsigned char>(*p)) && *p != ';') {
            m_error = QStringLiteral("Only one statement can be run at a time.");
            finalize();
            return false;
        }
    }
    const QHash<QString, QString> columns = dialect::parameterColumns(sql);
    const int count = sqlite3_bind_parameter_count(m_stmt);
    m_slots.resize(count);
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_bind_parameter_name(m_stmt, i + 1);
        Slot& slot = m_slots[i];
        slot.name = name ? QString::fromUtf8(name + 1).toLower() : QString();
        auto it = columns.find(slot.name);
        if (it != columns.end())
            slot.type = schema::columnType(*it);
    }
    return true;
}

bool TStatement::bind(const QHash<QString, QVariant>& params)
{
    if (!isPrepared()) {
        m_error = QStringLiteral("The statement is not prepared.");
        return false;
    }
    reset();
    for (size_t i = 0; i < m_slots.size(); ++i) {
        const Slot& slot = m_slots[i];
        const int index = static_cast<int>(i) + 1;
        auto it = params.find(slot.name);
        if (it == params.end()) {
            m_error = QStringLiteral("No value given for parameter :%1.").arg(slot.name);
            return false;
        }
        auto value = sqlvalue::forColumn(*it, slot.type, &m_error);
        if (!value)
            return false;
        if (!bindValue(index, *value))
            return false;
    }
    return true;
}

bool TStatement::bindList(const QVariantList& values)
{
    if (!isPrepared()) {
        m_error = QStringLiteral("The statement is not prepared.");
        return false;
    }
    reset();
    if (values.size() != static_cast<qsizetype>(m_slots.size())) {
        m_error = QStringLiteral("Wrong number of parameter values.");
        return false;
    }
    for (qsizetype i = 0; i < values.size(); ++i)
        if (!bindValue(static_cast<int>(i) + 1, values[i]))
            return false;
    return true;
}

bool TStatement::bindValue(int index, const QVariant& value)
{
    if (!m_serverName.isEmpty()) {
        const size_t i = static_cast<size_t>(index - 1);
        auto text = pglink::parameterText(value, m_types[i]);
        // Times compare on the server as the file compares their texts.
        if (text && m_types[i] == kTimestampOid)
            text = pgdialect::timestampValue(QString::fromUtf8(*text)).toUtf8();
        m_nulls[i] = !text.has_value();
        m_values[i] = text.value_or(QByteArray());
        return true;
    }
    int rc;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        rc = sqlite3_bind_null(m_stmt, index);
        break;
    case QMetaType::Bool:
        rc = sqlite3_bind_int(m_stmt, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
        break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), static_cast<int>(bytes.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    default: {
        if (value.isNull()) {
            rc = sqlite3_bind_null(m_stmt, index);
            break;
        }
        const QByteArray utf8 = value.toString().toUtf8();
        rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    }
    if (rc != SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

int TStatement::execute()
{
    if (!m_serverName.isEmpty()) {
        m_code = 0;
        dropServerResult();
        if (!runServer(false))
            return -1;
        const int changed = std::atoi(PQcmdTuples(m_result));
        dropServerResult();
        return changed;
    }
    if (!m_stmt) {
        m_error = QStringLiteral("The statement is not prepared.");
        return -1;
    }
    int rc;
    m_code = 0;
    while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        m_code = rc & 0xff;
        sqlite3_reset(m_stmt);
        return -1;
    }
    sqlite3_reset(m_stmt);
    return sqlite3_changes(m_db);
}

bool TStatement::step()
{
    if (!m_serverName.isEmpty())
        return stepServer();
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    return false;
}

bool TStatement::reset()
{
    m_error.clear();
    if (!m_serverName.isEmpty()) {
        dropServerResult();
        return true;
    }
    return m_stmt && sqlite3_reset(m_stmt) == SQLITE_OK;
}

int TStatement::columnCount() const
{
    if (!m_serverName.isEmpty())
        return static_cast<int>(m_names.size());
    return m_stmt ? sqlite3_column_count(m_stmt) : 0;
}

QStringList TStatement::columnNames() const
{
    if (!m_serverName.isEmpty())
        return m_names;
    QStringList names;
    for (int i = 0; i < columnCount(); ++i)
        names << QString::fromUtf8(sqlite3_column_name(m_stmt, i));
    return names;
}

QVariant TStatement::column(int index) const
{
    if (!m_serverName.isEmpty()) {
        if (!m_result || m_row < 0 || m_row >= PQntuples(m_result) || index < 0 ||
            index >= PQnfields(m_result))
            return QVariant();
        return pglink::value(m_result, m_row, index);
    }
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, index)));
    }
    case SQLITE_BLOB: {
        const char* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, index));
        return QVariant(QByteArray(data, sqlite3_column_bytes(m_stmt, index)));
    }
    default:
        return QVariant();
    }
}

TRawValue TStatement::raw(int index) const
{
    TRawValue v;
    if (!m_serverName.isEmpty()) {
        if (m_result && m_row >= 0 && m_row < PQntuples(m_result) && index >= 0 &&
            index < PQnfields(m_result) && !PQgetisnull(m_result, m_row, index))
            v.type = TRawValue::Type::Other;
        return v;
    }
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_NULL:
        break;
    case SQLITE_INTEGER:
        v.type = TRawValue::Type::Integer;
        v.integer = sqlite3_column_int64(m_stmt, index);
        break;
    case SQLITE_FLOAT:
        v.type = TRawValue::Type::Float;
        v.real = sqlite3_column_double(m_stmt, index);
        break;
    case SQLITE_TEXT: {
        v.type = TRawValue::Type::Text;
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
        v.text = std::string_view(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(m_stmt, index)));
        break;
    }
    default:
        v.type = TRawValue::Type::Other;
        break;
    }
    return v;
}

bool TStatement::prepareServer()
{
    if (m_token.expired() || !m_connection->ensureLink()) {
        m_error = m_token.expired() ? TConnection::notOpenError() : m_connection->error();
        m_code = SQLITE_IOERR;
        return false;
    }
    const QString written = dialect::rewrite(m_sql);
    const pgdialect::Statement text = pgdialect::rewrite(written);
    QString bare = text.sql.trimmed();
    while (bare.endsWith(u';'))
        bare.chop(1);
    if (bare.trimmed().isEmpty()) {
        m_error = QStringLiteral("The statement is empty.");
        return false;
    }
    PGconn* pg = m_connection->serverLink();
    static std::atomic<quint64> counter{0};
    const QByteArray name = "kst" + QByteArray::number(++counter);
    // Parameters meeting a column get its type: one used as a time and as a text
    // (substr(:beginDate,1,13)) would otherwise be inferred as text and fail the comparison.
    std::vector<Oid> declared;
    for (const QString& type : pgdialect::parameterTypes(written, text))
        declared.push_back(serverTypeOid(type));
    PGresult* r = PQprepare(pg, name.constData(), bare.toUtf8().constData(),
                            static_cast<int>(declared.size()), declared.empty() ? nullptr : declared.data());
    if (!pglink::succeeded(r)) {
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        failServer(r);
        if (state && QByteArray(state) == "42601" && m_error.contains(QLatin1String("multiple commands")))
            m_error = QStringLiteral("Only one statement can be run at a time.");
        PQclear(r);
        return false;
    }
    PQclear(r);
    r = PQdescribePrepared(pg, name.constData());
    if (!pglink::succeeded(r)) {
        failServer(r);
        PQclear(r);
        PQclear(PQexec(pg, ("DEALLOCATE " + name).constData()));
        return false;
    }
    const int count = PQnparams(r);
    m_types.assign(count, 0);
    m_values.assign(count, QByteArray());
    m_nulls.assign(count, true);
    for (int i = 0; i < count; ++i)
        m_types[i] = PQparamtype(r, i);
    QStringList serverNames;
    for (int i = 0; i < PQnfields(r); ++i)
        serverNames << QString::fromUtf8(PQfname(r, i));
    PQclear(r);
    m_names = pgdialect::columnNames(m_sql, serverNames);
    const QHash<QString, QString> columns = dialect::parameterColumns(m_sql);
    m_slots.assign(count, Slot());
    for (int i = 0; i < count; ++i) {
        Slot& slot = m_slots[i];
        slot.name = i < text.parameters.size() ? text.parameters[i] : QString();
        auto it = columns.find(slot.name);
        if (it != columns.end())
            slot.type = schema::columnType(*it);
    }
    m_serverName = QString::fromLatin1(name);
    m_preparedGeneration = m_connection->generation();
    return true;
}

void TStatement::failServer(PGresult* result)
{
    PGconn* pg = m_token.expired() ? nullptr : m_connection->serverLink();
    m_error = pglink::message(pg, result);
    m_code = pglink::codeOf(pg, result);
}

bool TStatement::runServer(bool query)
{
    if (m_token.expired() || !m_connection->ensureLink()) {
        m_error = m_token.expired() ? TConnection::notOpenError() : m_connection->error();
        m_code = SQLITE_IOERR;
        return false;
    }
    // The connection was made anew since: the server forgot the statement.
    if (m_preparedGeneration != m_connection->generation()) {
        std::vector<QByteArray> values = m_values;
        std::vector<bool> nulls = m_nulls;
        m_serverName.clear();
        if (!prepareServer())
            return false;
        if (values.size() == m_values.size()) {
            m_values = values;
            m_nulls = nulls;
        }
    }
    PGconn* pg = m_connection->serverLink();
    std::vector<const char*> values(m_values.size());
    std::vector<int> lengths(m_values.size());
    for (size_t i = 0; i < m_values.size(); ++i) {
        values[i] = m_nulls[i] ? nullptr : m_values[i].constData();
        lengths[i] = static_cast<int>(m_values[i].size());
    }
    const QByteArray name = m_serverName.toLatin1();
    const int n = static_cast<int>(values.size());
    if (query && m_streaming) {
        if (!PQsendQueryPrepared(pg, name.constData(), n, values.data(), lengths.data(), nullptr, 0)) {
            failServer(nullptr);
            return false;
        }
        PQsetSingleRowMode(pg);
        m_running = true;
        return true;
    }
    m_result = PQexecPrepared(pg, name.constData(), n, values.data(), lengths.data(), nullptr, 0);
    if (!pglink::succeeded(m_result)) {
        failServer(m_result);
        dropServerResult();
        return false;
    }
    m_row = -1;
    return true;
}

bool TStatement::stepServer()
{
    if (!m_result && !m_running) {
        m_code = 0;
        if (!runServer(true))
            return false;
    }
    if (!m_running)
        return ++m_row < PQntuples(m_result);
    PGconn* pg = m_connection->serverLink();
    if (m_result)
        PQclear(m_result);
    m_result = PQgetResult(pg);
    m_row = 0;
    if (m_result && PQresultStatus(m_result) == PGRES_SINGLE_TUPLE)
        return true;
    if (m_result && !pglink::succeeded(m_result))
        failServer(m_result);
    // The end (or a failure): the connection is free once its last result is read.
    while (PGresult* rest = PQgetResult(pg))
        PQclear(rest);
    m_running = false;
    m_row = PQntuples(m_result); // past the end, until reset()
    return false;
}

void TStatement::dropServerResult()
{
    if (m_result) {
        PQclear(m_result);
        m_result = nullptr;
    }
    m_row = -1;
    if (m_running) {
        m_running = false;
        if (m_token.expired())
            return;
        PGconn* pg = m_connection->serverLink();
        // Rows nobody will read: the server is asked to stop sending them.
        if (PGcancel* cancel = PQgetCancel(pg)) {
            char buffer[256];
            PQcancel(cancel, buffer, sizeof buffer);
            PQfreeCancel(cancel);
        }
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
    }
}
