#include "store/SqlValue.h"

#include <QDateTime>
#include <QRegularExpression>

namespace sqlvalue {

std::optional<QString> storedDateTime(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d{4})[-./](\\d{1,2})[-./](\\d{1,2})(?:[ "
                       "T]+(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:\\.\\d+)?)?)?\\s*$"));
    QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

namespace {

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
        bool ok = false;
        double v = value.toString().trimmed().toDouble(&ok);
        if (!ok) {
            if (error)
                *error = mismatch(value, "a number");
            return std::nullopt;
        }
        return QVariant(v);
    }
    case ColumnType::Boolean: {
        if (!isText)
            return QVariant(value.toBool() ? 1LL : 0LL);
        const QString t = value.toString().trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return QVariant(1LL);
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return QVariant(0LL);
        bool ok = false;
        double v = t.toDouble(&ok);
        if (!ok) {
            if (error)
                *error = mismatch(value, "true or false");
            return std::nullopt;
        }
        return QVariant(v != 0 ? 1LL : 0LL);
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
