#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

// Turns the filter and sort texts the views build into SQL clauses. Column names are
// checked against the cursor's columns and every user text becomes a bound parameter, so
// no filter text ever reaches SQL as SQL. Thread-safe.
namespace filtertext {

struct Clause
{
    QString sql;         // "" for an empty filter; otherwise conditions joined by " AND "
    QVariantList params; // in the order of the '?' in sql
};

// Conditions joined by " and ":
//   col = number | col > number | col >= number | col <= number | col < number
//   col like %text%          (contains; the text runs to the next " and " or the end)
//   col = 'text'             (equality with a quoted text)
//   col = true | col = false
// Nothing (with error set) for any other text or an unknown column.
std::optional<Clause> parseFilter(const QString& filter, const QStringList& columns, QString* error);

// "col", "col DESC " or several of those separated by commas, as ORDER BY text.
std::optional<QString> parseSort(const QString& sort, const QStringList& columns, QString* error);

} // namespace filtertext
