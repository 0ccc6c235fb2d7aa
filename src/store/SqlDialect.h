#pragma once

#include <QHash>
#include <QString>

// The statements of the program are written in the dialect of its original engine. These
// helpers bring them to SQLite and tell which column each parameter meets, so a parameter
// given as text can be converted by that column's type. Thread-safe.
namespace dialect {

// "select top N ..." becomes "select ... LIMIT N"; everything else stays as written.
QString rewrite(const QString& sql);

// Lower-cased parameter name -> the column it is stored in (insert lists, "col=:p" in
// set lists) or compared with ("col>=:p", "col like :p", ...). Parameters that meet no
// column are absent.
QHash<QString, QString> parameterColumns(const QString& sql);

} // namespace dialect
