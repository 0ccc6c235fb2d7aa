#pragma once

#include <QDateTime>
#include <QString>

// The one set of display formats: status texts, logs, grids, CSV, copies and the dates of
// the configuration file all use these.
namespace formats {

inline constexpr char kShortDate[] = "yyyy-MM-dd";
inline constexpr char kLongTime[] = "H:mm:ss";
inline constexpr char kDateTime[] = "yyyy-MM-dd H:mm:ss";
// The stored form of a date-time: text order is time order.
inline constexpr char kStoredDateTime[] = "yyyy-MM-dd HH:mm:ss";

inline QString shortDate(const QDate& d)
{
    return d.toString(QLatin1String(kShortDate));
}
inline QString longTime(const QTime& t)
{
    return t.toString(QLatin1String(kLongTime));
}
inline QString dateTime(const QDateTime& dt)
{
    return dt.toString(QLatin1String(kDateTime));
}
// An elapsed time in milliseconds as H:mm:ss.
inline QString elapsed(qint64 ms)
{
    qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace formats
