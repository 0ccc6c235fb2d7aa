#include "cli/JsonOut.h"

#include <cmath>

namespace jsonout {

QString string(const QString& s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += u'"';
    for (QChar c : s) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString value(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("null");
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
        // JSON has no infinity or NaN ("inf" would break every reader of the line).
        if (!std::isfinite(v.toDouble()))
            return QStringLiteral("null");
        // 15 significant digits, as everywhere else: a sum of prices shows 108.9, not its
        // binary neighbour 108.90000000000001.
        return QString::number(v.toDouble(), 'g', 15);
    default:
        return string(v.toString());
    }
}

} // namespace jsonout
