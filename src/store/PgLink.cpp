#include "store/PgLink.h"

#include <QMetaType>
#include <QRegularExpression>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace pglink {
namespace {

// Type numbers of the server's built-in types; they are fixed in its catalog.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700;

void noNotices(void*, const char*) {}

QString oneLine(const char* text)
{
    return QString::fromUtf8(text ? text : "").simplified();
}

QVariant floatValue(const char* text)
{
    if (std::strcmp(text, "NaN") == 0)
        return QVariant(std::nan(""));
    if (std::strcmp(text, "Infinity") == 0)
        return QVariant(HUGE_VAL);
    if (std::strcmp(text, "-Infinity") == 0)
        return QVariant(-HUGE_VAL);
    return QVariant(std::strtod(text, nullptr));
}

} // namespace

bool setUpSession(PGconn* conn, QString* error)
{
    PQsetNoticeProcessor(conn, noNotices, nullptr);
    if (PQsetClientEncoding(conn, "UTF8") != 0) {
        *error = message(conn, nullptr);
        return false;
    }
    // ISO dates read back in the stored form of the file engine; a lock held by another
    // program is waited for as long as the file engine waits, then reported as busy. No
    // parallel workers: each statement would start its own, cold, and they cost more than they
    // save on reads of a shop's keys and tallies (an analysis ran 4 to 7 times slower). A
    // random page priced as the cached or solid-state page it is, not a disk seek: at the
    // default the planner hashes a shop's whole tally instead of reading it in key order.
    PGresult* r = PQexec(conn, "SET DateStyle = 'ISO, YMD'; SET extra_float_digits = 1; "
                               "SET client_min_messages = warning; SET lock_timeout = '10s'; "
                               "SET IntervalStyle = 'iso_8601'; SET max_parallel_workers_per_gather = 0; "
                               "SET random_page_cost = 1.1");
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok)
        *error = message(conn, r);
    PQclear(r);
    return ok;
}

PGconn* connect(const QString& url, QString* error)
{
    PGconn* conn = PQconnectdb(url.toUtf8().constData());
    if (!conn) {
        *error = QStringLiteral("out of memory");
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        *error = message(conn, nullptr);
        PQfinish(conn);
        return nullptr;
    }
    if (!setUpSession(conn, error)) {
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

QString message(PGconn* conn, const PGresult* result)
{
    if (result) {
        const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
        if (primary && *primary)
            return oneLine(primary);
        const char* whole = PQresultErrorMessage(result);
        if (whole && *whole)
            return oneLine(whole).remove(QRegularExpression(QStringLiteral("^(ERROR|FATAL):\\s*")));
    }
    QString text = oneLine(conn ? PQerrorMessage(conn) : "no connection to the database server");
    if (text.isEmpty())
        text = QStringLiteral("the database server did not answer");
    return text;
}

bool succeeded(const PGresult* result)
{
    const ExecStatusType s = PQresultStatus(result);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_SINGLE_TUPLE;
}

int codeOf(PGconn* conn, const PGresult* result)
{
    if (result && succeeded(result))
        return SQLITE_OK;
    if (!result || (conn && PQstatus(conn) != CONNECTION_OK))
        return SQLITE_IOERR; // the link is gone: every next statement fails alike
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (!state)
        return SQLITE_IOERR;
    const QByteArray s(state);
    if (s == "53100")
        return SQLITE_FULL;
    if (s == "53200")
        return SQLITE_NOMEM;
    if (s.startsWith("53") || s.startsWith("58") || s.startsWith("08") || s.startsWith("57"))
        return SQLITE_IOERR; // resources, system errors, the connection, an administrator
    if (s == "55P03" || s == "40001" || s == "40P01")
        return SQLITE_BUSY;
    if (s == "25006")
        return SQLITE_READONLY;
    if (s == "XX001" || s == "XX002")
        return SQLITE_CORRUPT;
    if (s == "42501")
        return SQLITE_PERM;
    if (s.startsWith("23"))
        return SQLITE_CONSTRAINT;
    if (s.startsWith("22"))
        return SQLITE_MISMATCH;
    return SQLITE_ERROR;
}

QVariant value(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return QVariant();
    const char* text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QVariant(static_cast<qlonglong>(std::strtoll(text, nullptr, 10)));
    case kBool:
        return QVariant(static_cast<qlonglong>(text[0] == 't' ? 1 : 0));
    case kFloat4:
    case kFloat8:
        return floatValue(text);
    case kNumeric: {
        // A sum or average of whole numbers: whole values read as the file engine's integers.
        if (!std::strchr(text, '.') && !std::strchr(text, 'e') && !std::strchr(text, 'N')) {
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(text, &end, 10);
            if (errno == 0 && end && *end == '\0')
                return QVariant(static_cast<qlonglong>(n));
        }
        return floatValue(text);
    }
    case kBytea: {
        size_t length = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
        QByteArray out(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(length));
        PQfreemem(bytes);
        return QVariant(out);
    }
    default:
        return QVariant(QString::fromUtf8(text, PQgetlength(result, row, column)));
    }
}

std::optional<QByteArray> parameterText(const QVariant& value, Oid type)
{
    if (value.isNull() || !value.isValid())
        return std::nullopt;
    switch (value.typeId()) {
    case QMetaType::Bool:
        if (type == kBool)
            return value.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
        return value.toBool() ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (std::isnan(d))
            return QByteArrayLiteral("NaN");
        if (std::isinf(d))
            return d > 0 ? QByteArrayLiteral("Infinity") : QByteArrayLiteral("-Infinity");
        if (type == kInt2 || type == kInt4 || type == kInt8) {
            if (d == std::floor(d) && std::fabs(d) < 9.2e18)
                return QByteArray::number(static_cast<qlonglong>(d));
        }
        return QByteArray::number(d, 'g', 17);
    }
    case QMetaType::QByteArray: {
        if (type != kBytea)
            return value.toByteArray();
        const QByteArray raw = value.toByteArray();
        return "\\x" + raw.toHex();
    }
    default: {
        QString text = value.toString();
        text.replace(QChar(u'\0'), QChar(0xFFFD));
        return text.toUtf8();
    }
    }
}

QString serverVersion(PGconn* conn)
{
    const char* v = PQparameterStatus(conn, "server_version");
    QString text = QString::fromUtf8(v ? v : "");
    return text.section(u' ', 0, 0);
}

} // namespace pglink
