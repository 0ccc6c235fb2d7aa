#include "store/TField.h"

#include "store/Formats.h"

QString TField::asString() const
{
    using schema::ColumnType;
    if (m_value.isNull())
        return QString();
    switch (m_type) {
    case ColumnType::DateTime: {
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
