#include "store/SqlValue.h"

#include <QDateTime>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace sqlvalue {

std::optional<QString> storedDateTime(const QString& text)
{
    // Hand-written: the saver converts every rating time, and QDateTime consults the time
    // zone files on each call.
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    auto skipBlanks = [&] {
        while (p < end && p->isSpace())
            ++p;
    };
    auto number = [&](int minDigits, int maxDigits, int& out) {
        int n = 0;
        out = 0;
        while (p < end && n < maxDigits && p->unicode() >= '0' && p->unicode() <= '9') {
            out = out * 10 + (p->unicode() - '0');
            ++p;
            ++n;
        }
        return n >= minDigits;
    };
    auto dateSeparator = [&] {
        if (p < end && (*p == u'-' || *p == u'.' || *p == u'/')) {
            ++p;
            return true;
        }
        return false;
    };
    int year, month, day, hour = 0, minute = 0, second = 0;
    skipBlanks();
    if (!number(4, 4, year) || !dateSeparator() || !number(1, 2, month) || !dateSeparator() ||
        !number(1, 2, day))
        return std::nullopt;
    const QChar* afterDate = p;
    while (p < end && (*p == u' ' || *p == u'T'))
        ++p;
    if (p < end && p > afterDate && p->isDigit()) {
        if (!number(1, 2, hour) || p >= end || *p != u':' || (++p, !number(1, 2, minute)))
            return std::nullopt;
        if (p < end && *p == u':') {
            ++p;
            if (!number(1, 2, second))
                return std::nullopt;
            if (p < end && *p == u'.') {
                ++p;
                int fraction;
                if (!number(1, 9, fraction))
                    return std::nullopt;
            }
        }
    }
    skipBlanks();
    if (p != end || !QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return QString::fromLatin1(buf, 19);
}

namespace {

// A decimal number text in the C locale, with blanks around it and nothing else. QString's
// own conversion consults locale data and dominated the saver's inserts.
std::optional<double> toNumber(const QString& text)
{
    char buf[64];
    qsizetype n = 0;
    for (QChar c : text) {
        if (c.unicode() > 0x7F || n >= static_cast<qsizetype>(sizeof buf) - 1)
            return std::nullopt;
        buf[n++] = static_cast<char>(c.unicode());
    }
    const char* begin = buf;
    const char* end = buf + n;
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    if (begin < end && *begin == '+')
        ++begin;
    double value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (begin == end || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

QString mismatch(const QVariant& value, const char* what)
{
    return QStringLiteral("Data type mismatch: '%1' is not %2").arg(value.toString(), QLatin1String(what));
}

} // namespace

std::optional<QVariant> forColumn(const QVariant& value, schema::ColumnType type, QString* error)
{
    using schema::ColumnType;
    if (value.isNull())
        return QVariant();
    const int id = value.typeId();
    const bool isText = id == QMetaType::QString || id == QMetaType::QByteArray;
    switch (type) {
    case ColumnType::Integer: {
        if (!isText && id != QMetaType::Bool)
            return QVariant(value.toLongLong());
        if (id == QMetaType::Bool)
            return QVariant(value.toBool() ? 1LL : 0LL);
        bool ok = false;
        qlonglong v = value.toString().trimmed().toLongLong(&ok);
        if (!ok) {
            if (error)
                *error = mismatch(value, "a whole number");
            return std::nullopt;
        }
        return QVariant(v);
    }
    case ColumnType::Currency: {
        if (!isText)
            return QVariant(value.toDouble());
        auto v = toNumber(value.toString());
        if (!v) {
            if (error)
                *error = mismatch(value, "a number");
            return std::nullopt;
        }
        return QVariant(*v);
    }
    case ColumnType::Boolean: {
        if (!isText)
            return QVariant(value.toBool() ? 1LL : 0LL);
        const QString t = value.toString().trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return QVariant(1LL);
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return QVariant(0LL);
        auto v = toNumber(t);
        if (!v) {
            if (error)
                *error = mismatch(value, "true or false");
            return std::nullopt;
        }
        return QVariant(*v != 0 ? 1LL : 0LL);
    }
    case ColumnType::DateTime: {
        if (id == QMetaType::QDateTime)
            return QVariant(value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        if (id == QMetaType::QDate)
            return QVariant(value.toDate().toString(QStringLiteral("yyyy-MM-dd 00:00:00")));
        auto stored = storedDateTime(value.toString());
        if (!stored) {
            if (error)
                *error = mismatch(value, "a date");
            return std::nullopt;
        }
        return QVariant(*stored);
    }
    case ColumnType::Text:
    case ColumnType::Memo:
        if (id == QMetaType::Bool)
            return QVariant(value.toBool() ? QStringLiteral("True") : QStringLiteral("False"));
        return QVariant(value.toString());
    case ColumnType::Unknown:
        break;
    }
    return value;
}

} // namespace sqlvalue
