#pragma once

#include <QList>
#include <QPair>
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

// One piece of the schema: its kind as the engine names it ("table", "view", "trigger",
// "index"), its name and the statement that creates it.
struct SchemaObject
{
    QString type;
    QString name;
    QString sql;
};

// Every piece in the order it must be created (tables before what refers to them).
const QList<SchemaObject>& objects();

// Columns the run records and the queue gained after their tables were first made (kind
// "column", named "table.column"), added to an older store at open; a new table has them.
const QList<SchemaObject>& addedColumns();

// The statements that create an empty database (tables, view dianBaseSort, indexes).
const QStringList& createStatements();

// The stored hour key of a rating, "yyyy-MM-dd HH" cut from pjsj, as SQL over pjInfo: the
// hour tally's key.
const char* hourKeySql();

// A writer of many ratings in one transaction of the file: the statements that make the
// analyses' tallies leave its ratings alone, and those that count what it added since in a
// few grouped statements. Run the fold before the transaction deletes any rating.
QStringList bulkStartStatements();
QStringList bulkFoldStatements();
// Before the fold: the writer's new ratings that repeat a rating of their shop with the same
// item and time (itemId_pjsj) stored before them go, uncounted; the first copy stays, as the
// saver's removal of duplicates keeps it, which then finds only older repeats.
const char* bulkNewDuplicatesSql();
// In place of the fold, when the transaction deleted every rating of the shop :dian_id: its
// counts go at once.
QStringList bulkShopGoneStatements();

// Column names of the two tables in their stored order.
const QStringList& dianBaseColumns();
const QStringList& pjInfoColumns();

// The columns of dianBase or pjInfo (any letter case) with their types, in stored order;
// empty for any other name.
const QList<QPair<QString, ColumnType>>& columns(const QString& table);

} // namespace schema
