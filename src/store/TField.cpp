#include "store/TField.h"

#include "text/Formats.h"

namespace {

// "yyyy-MM-dd HH:mm:ss" with digits in their places.
bool isStoredForm(const QString& s)
{
    static constexpr char kShape[] = "0000-00-00 00:00:00";
    if (s.size() != 19)
        return false;
    for (int i = 0; i < 19; ++i) {
        const char16_t c = s[i].unicode();
        if (kShape[i] == '0' ? (c < u'0' || c > u'9') : c != static_cast<char16_t>(kShape[i]))
            return false;
    }
    return true;
}

} // namespace

QString TField::asString() const
{
    using schema::ColumnType;
    if (m_value.isNull())
        return QString();
    switch (m_type) {
    case ColumnType::DateTime: {
        // The stored form needs no calendar: only the hour loses its leading zero. Parsing
        // with QDateTime consults the time zone files for every value, which grids and
        // exports over many rows cannot afford.
        const QString stored = m_value.toString();
        if (isStoredForm(stored))
            return stored[11] == u'0' ? stored.left(11) + stored.mid(12) : stored;
        QDateTime dt = QDateTime::fromString(m_value.toString(), QLatin1String(formats::kStoredDateTime));
        return dt.isValid() ? formats::dateTime(dt) : m_value.toString();
    }
    case ColumnType::Boolean:
        return asBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        break;
    }
    if (m_value.typeId() == QMetaType::Double)
        return QString::number(m_value.toDouble(), 'g', 15);
    return m_value.toString();
}

qlonglong TField::asInteger() const
{
    if (m_value.typeId() == QMetaType::Double)
        return static_cast<qlonglong>(m_value.toDouble());
    return m_value.toString().trimmed().toLongLong();
}

double TField::asFloat() const
{
    if (m_value.typeId() == QMetaType::Double || m_value.typeId() == QMetaType::LongLong)
        return m_value.toDouble();
    return m_value.toString().trimmed().toDouble();
}

bool TField::asBoolean() const
{
    const QString t = m_value.toString().trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    return t.toDouble() != 0;
}
