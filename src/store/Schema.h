#pragma once

#include <QString>
#include <QStringList>

// The two tables, the deletable view and the indexes, and what each column holds. The
// column type decides how a parameter given as text is converted.
namespace schema {

enum class ColumnType
{
    Unknown,
    Integer,
    Text,
    Memo,
    DateTime,
    Currency,
    Boolean,
};

// The type of a column of either table, looked up without regard to letter case; an alias
// prefix ("a.dian_id") is ignored.
ColumnType columnType(const QString& column);

// The statements that create an empty database (tables, view dianBaseSort, indexes).
const QStringList& createStatements();

// Column names of the two tables in their stored order.
const QStringList& dianBaseColumns();
const QStringList& pjInfoColumns();

} // namespace schema
