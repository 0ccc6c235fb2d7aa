#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <optional>

// Prices are currency with four fraction digits: sums and comparisons of money are made in
// whole units of 1/10,000 as 64-bit integers, so that ten sales at 0.1 tie with one at 1.0.
// A stored price with more digits is rounded to the unit, half away from zero, as SQLite's
// round() does; every engine and this code round the same double the same way.
namespace money {

constexpr qint64 kUnitsPerYuan = 10000;

// The units of a price; a price beyond 2^52 units is taken whole.
qint64 unitsOf(double price);
// The units of a stored value (a whole number is taken exactly); empty for NULL.
std::optional<qint64> unitsOf(const QVariant& price);
// A sum of units as the nearest double, which prints as its decimal (702.9, not
// 702.899999999999); NULL stays NULL.
QVariant amountOf(const QVariant& units);
double amountOf(qint64 units);

// The units of a price column in a statement of the file without the program's functions
// (triggers, tallies): round() and a whole-number cast are SQLite's own.
QString plainUnitsSql(const QString& column);

} // namespace money
