#pragma once

#include <QString>
#include <QVariant>

// JSON texts for the command line's output lines (keys kept in the order given).
namespace jsonout {

QString string(const QString& s);
// Numbers as JSON numbers, texts as strings, booleans as true/false, NULL as null.
QString value(const QVariant& v);

} // namespace jsonout
