#include "store/TStatement.h"

#include "store/SqlDialect.h"
#include "store/SqlValue.h"

#include <sqlite3.h>

TStatement::~TStatement()
{
    finalize();
}

void TStatement::finalize()
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_slots.clear();
}

bool TStatement::prepare(sqlite3* db, const QString& sql)
{
    finalize();
    m_db = db;
    m_error.clear();
    m_code = 0;
    const QByteArray text = dialect::rewrite(sql).toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &m_stmt, &tail) !=
        SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(db));
        m_code = sqlite3_errcode(db) & 0xff;
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
    if (!m_stmt) {
        m_error = QStringLiteral("The statement is not prepared.");
        return false;
    }
    sqlite3_reset(m_stmt);
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
    if (!m_stmt) {
        m_error = QStringLiteral("The statement is not prepared.");
        return false;
    }
    sqlite3_reset(m_stmt);
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
    return m_stmt && sqlite3_reset(m_stmt) == SQLITE_OK;
}

int TStatement::columnCount() const
{
    return m_stmt ? sqlite3_column_count(m_stmt) : 0;
}

QStringList TStatement::columnNames() const
{
    QStringList names;
    for (int i = 0; i < columnCount(); ++i)
        names << QString::fromUtf8(sqlite3_column_name(m_stmt, i));
    return names;
}

QVariant TStatement::column(int index) const
{
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
