#pragma once

#include <QtGlobal>
#include <string_view>

// One value of a statement's current row as the engine holds it, before it becomes a
// QVariant: for code that formats many rows and must not pay for a QString per value. A text
// is borrowed from the engine and valid until the statement steps on.
struct TRawValue
{
    enum class Type
    {
        Null,
        Integer,
        Float,
        Text,
        Other, // anything to be read as a QVariant instead (a blob, a server's typed value)
    };
    Type type = Type::Null;
    qint64 integer = 0;
    double real = 0;
    std::string_view text;
};
