#pragma once

#include "store/Schema.h"

#include <QString>
#include <QVariant>

// One column value of a cursor's current row, readable in the ways the views need.
class TField
{
public:
    TField() = default;
    TField(QString name, QVariant value, schema::ColumnType type)
        : m_name(std::move(name)), m_value(std::move(value)), m_type(type)
    {
    }

    const QString& name() const { return m_name; }
    bool isNull() const { return m_value.isNull(); }
    const QVariant& raw() const { return m_value; }

    // Text as shown: date-times in the display format, prices with up to 15 significant
    // digits, booleans as True/False, NULL as an empty text.
    QString asString() const;
    qlonglong asInteger() const;
    double asFloat() const;
    bool asBoolean() const;

private:
    QString m_name;
    QVariant m_value;
    schema::ColumnType m_type = schema::ColumnType::Unknown;
};
