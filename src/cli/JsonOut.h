#pragma once

#include <QString>
#include <QVariant>

// JSON texts for the command line's output lines (keys kept in the order given).
namespace jsonout {

// The keys of a shop line, for the record's texts 0 to 5.
inline constexpr const char* kShopKeys[] = {"dianzhu", "dianming", "loc", "webaddr", "commodityNum", "addr"};

QString string(const QString& s);
// Numbers as JSON numbers, texts as strings, booleans as true/false, NULL as null; a number
// that is infinite or not a number is null too.
QString value(const QVariant& v);

} // namespace jsonout
