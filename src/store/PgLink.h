#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef unsigned int Oid;

// The few things the data layer needs from libpq, so that the connection and statement
// classes read alike on both engines. Every function is for the thread that owns the link.
namespace pglink {

// Connects to a libpq URI and sets the session up the way the data layer reads values
// (UTF-8, ISO dates, shortest exact floats, no notices on standard error). Null with *error
// set when the server cannot be reached or refuses.
PGconn* connect(const QString& url, QString* error);
// Sets the session up again after a reconnect.
bool setUpSession(PGconn* conn, QString* error);

// The server's message of a failed result or of the connection, on one line.
QString message(PGconn* conn, const PGresult* result);

// The SQLite result code that stands for the server's error state, so that storage faults
// and busy are judged alike on both engines; SQLITE_OK for a result that succeeded.
int codeOf(PGconn* conn, const PGresult* result);

// True when the result is a success of a command or a query.
bool succeeded(const PGresult* result);

// A value of a result cell, converted by the column's type the way the file engine gives it:
// integers and booleans as qlonglong, floats as double, bytea as bytes, the rest as text.
QVariant value(const PGresult* result, int row, int column);

// The text form of a parameter value for a parameter of the given type;
// SQL NULL (nothing). Texts lose NUL characters to U+FFFD (the server's texts cannot hold
// them).
std::optional<QByteArray> parameterText(const QVariant& value, Oid type);

// The server's version as "15.18".
QString serverVersion(PGconn* conn);

} // namespace pglink
