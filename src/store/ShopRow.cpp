#include "store/ShopRow.h"

#include "store/TCursor.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// dianbase's column of each field, in the grid's order.
struct Field
{
    const char* column;
    QString ShopRow::*member;
};
constexpr Field kFields[] = {
    {"dianzhu", &ShopRow::shopkeeper},     {"dianming", &ShopRow::name},      {"loc", &ShopRow::business},
    {"webaddr", &ShopRow::webaddr},        {"commodityNum", &ShopRow::goods}, {"addr", &ShopRow::location},
    {"commodityKind", &ShopRow::category},
};

// Earlier versions joined the grid's texts with it; it never occurs in a page's text.
constexpr QChar kOldSeparator = QChar(0x1f);

} // namespace

ShopRow ShopRow::fromCursor(const TCursor& cursor, int at)
{
    if (at < 0)
        at = cursor.RecNo() - 1;
    ShopRow row;
    for (const Field& f : kFields) {
        const int column = cursor.FieldIndex(QLatin1String(f.column));
        if (column >= 0 && at >= 0 && at < cursor.RecordCount())
            row.*f.member = TField(QString(), cursor.value(at, column), cursor.columnType(column)).asString();
    }
    if (row.goods.isEmpty())
        row.goods = QStringLiteral("0");
    return row;
}

ShopRow ShopRow::fromColumns(const QStringList& columns)
{
    ShopRow row;
    for (qsizetype i = 0; i < qsizetype(std::size(kFields)); ++i)
        row.*kFields[i].member = columns.value(i);
    return row;
}

QStringList ShopRow::columns() const
{
    QStringList texts;
    for (const Field& f : kFields)
        texts << this->*f.member;
    return texts;
}

QString ShopRow::stored() const
{
    QJsonObject object;
    for (const Field& f : kFields)
        object.insert(QLatin1String(f.column), this->*f.member);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ShopRow ShopRow::fromStored(const QString& text)
{
    // An old row holds separators, which JSON refuses: it is never read as an object.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return fromColumns(text.split(kOldSeparator));
    const QJsonObject object = document.object();
    ShopRow row;
    for (const Field& f : kFields)
        row.*f.member = object.value(QLatin1String(f.column)).toString();
    return row;
}
