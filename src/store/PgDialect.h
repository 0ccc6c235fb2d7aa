#pragma once

#include <QString>
#include <QStringList>

// The program's statements (already passed through dialect::rewrite) as PostgreSQL text,
// with the same meaning they have on the SQLite file. Thread-safe.
namespace pgdialect {

struct Statement
{
    QString sql;            // PostgreSQL text, placeholders $1..$n
    QStringList parameters; // for $i the lower-cased parameter name (without ':'); "" for a '?'
};

// :name and ? become $n (one $n per name, any letter case); like becomes a case-blind ilike
// without an escape character; the date functions become the server schema's k_ functions;
// ORDER BY keys place NULLs where SQLite does; a unary plus (SQLite's way of keeping a
// column off an index) is dropped. String literals, quoted names and comments stay as
// written, as does everything else.
Statement rewrite(const QString& sql);

// The result column names SQLite gives this statement, from the server's names (lower-cased
// identifiers, "count" for count(*)): an alias as written, a column as written without its
// table, each column of a * in its declared letter case, any other expression its text.
// serverNames unchanged when the select list does not match their count.
QStringList columnNames(const QString& sql, const QStringList& serverNames);

// The server type of each $i of the statement made from sql by rewrite: the type of the
// column its parameter is stored in or compared with ("timestamp", "bigint", "boolean",
// "double precision", "text"), "" where it meets none and the server infers it. Declared,
// a time parameter also used as text (substr(:beginDate,1,13)) keeps its one type.
QStringList parameterTypes(const QString& sql, const Statement& statement);

// A time parameter's text as the server should get it. A bare date "yyyy-MM-dd" becomes the
// last instant before that midnight: the file compares times as texts, where a stored time
// is greater than the bare date of its own day and never equal to it, and so it compares
// on the server too. Anything else is unchanged.
QString timestampValue(const QString& text);

} // namespace pgdialect
