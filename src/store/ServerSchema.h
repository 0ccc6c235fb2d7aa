#pragma once

#include <QList>
#include <QString>

// The schema on a PostgreSQL server: the same tables, view and indexes as the SQLite file,
// and the date functions the program's statements call (which SQLite gets from
// SqlFunctions.cpp), giving the same answers.
namespace serverschema {

// type: "function", "table", "column", "view", "index" or "trigger". A function is named with its
// argument types ("k_hour(timestamp)"), a column of dianBase or pjInfo as "table.column".
struct Piece
{
    QString type;
    QString name;
    QString sql;
};

// Every piece in creation order: functions, then each table followed by its columns
// (ALTER TABLE ... ADD COLUMN, so a dropped column is added back), the view, the indexes,
// the analyses' tallies and their triggers.
// Function pieces are CREATE OR REPLACE and can be run again at any time.
const QList<Piece>& objects();

// One query without parameters whose rows are (type, name) for every piece of objects()
// present in the current database, named as objects() names them.
QString presentPiecesSql();

} // namespace serverschema
