#pragma once

#include "store/Schema.h"

#include <QString>
#include <QVariant>
#include <optional>

// Conversion of values between the program and the stored form. Thread-safe.
namespace sqlvalue {

// A date or date-time text ("2026-03-01", "2026.3.1 8:05", "2026-03-01 08:05:09") in the
// stored form "yyyy-MM-dd HH:mm:ss"; a date alone is 00:00:00 of that day.
std::optional<QString> storedDateTime(const QString& text);

// Converts a parameter value for a column of the given type: integers from digits,
// currency from a decimal number text, date-times from date texts, booleans from
// true/false in any case or a number. A value of an unknown column stays as given.
// Nothing (with error set) when the text does not convert.
std::optional<QVariant> forColumn(const QVariant& value, schema::ColumnType type, QString* error);

} // namespace sqlvalue
