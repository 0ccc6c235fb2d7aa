#pragma once

#include <QString>
#include <QStringList>

// What an analyses' tally keeps, stated once for every statement that writes it: the key it
// keeps a row per, the value each key column takes from a rating, the ratings it counts and
// what one rating adds to each figure. The file's triggers and grouped statements
// (Schema.cpp) and the server's fold (ServerTally.cpp) are written from these.
//
// Values are SQL over one rating's columns that both engines read alike: "%r" stands before
// each column (a row's name and a dot in a trigger, nothing in a grouped statement) and
// "%u(...)" for the units of money of a price (store/Money.h), which each engine spells its
// own way.
namespace tallies {

struct Tally
{
    const char* table;
    QStringList keys;
    QStringList keyValues;
    QString counted;
    QStringList figures;
    QStringList figureValues;
    const char* fileColumns;   // the file's table, when it keeps one
    const char* serverColumns; // the server's
};

// Ratings per shop, hour key ("yyyy-MM-dd HH"), trade type and rating: n (count(*)), items
// (count(itemId)), priced (ratings with a price) and units (the sum of the prices). A NULL
// trade type or rating is held as false or '' with its bit set in nulls (1 trade type,
// 2 rating). Ratings without a shop or a time are not counted.
const Tally& hours();

// The ranking's counts on the file: ratings per shop, item title, item id, price, trade type,
// rating and month ("yyyy-MM"), n. Every rating counts, its NULLs kept as they are and matched
// with IS, so that the tally's index holds the groups in the ranking's own order. (The
// server's, which holds its NULLs as bits, is in ServerTally.cpp.)
const Tally& fileRanking();

// A value spelled for a row ("new", "old", or empty for a statement over the ratings
// themselves), with the units of a price as unitsOf spells them for its column.
QString spell(const QString& value, const QString& row, QString (*unitsOf)(const QString& column));
QStringList spell(const QStringList& values, const QString& row, QString (*unitsOf)(const QString& column));

// The key columns' positions, "1,2,...", for a GROUP BY of a statement that selects the keys
// first.
QString keyPositions(const Tally& tally);

// The units as the file spells them without the program's functions, and as the server does.
QString fileUnits(const QString& column);
QString serverUnits(const QString& column);

} // namespace tallies
