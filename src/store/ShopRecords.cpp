#include "store/ShopRecords.h"

#include "store/TQuery.h"
#include "text/Formats.h"

#include <QDateTime>

namespace shoprecords {
namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The first column of a statement's first row (0 without rows), with its one parameter.
std::optional<qint64> number(TConnection& connection, const QString& sql, const QString& name,
                             const QVariant& value, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(sql);
    q.SetParam(name, value);
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    return q.RecordCount() > 0 ? q.value(0, 0).toLongLong() : 0;
}

} // namespace

std::optional<qint64> store(TConnection& connection, const ShopRow& row, QString* error)
{
    const bool own = !connection.inTransaction();
    if (own && !connection.beginTransaction()) {
        setError(error, connection.error());
        return std::nullopt;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        if (own)
            connection.rollback();
        return std::nullopt;
    };
    const QString sql = QStringLiteral("select id from dianbase where webaddr=:webaddr");
    const QString key = QStringLiteral("webaddr");
    QString lookUpError;
    const std::optional<qint64> found = number(connection, sql, key, row.webaddr, &lookUpError);
    if (!found)
        return fail(lookUpError);
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(*found > 0
                 ? QStringLiteral("update dianbase set dianzhu=:dianzhu,addr=:addr,dianming=:dianming,"
                                  "commodityNum=:commodityNum,loc=:loc,updateDate=:updateDate,"
                                  "commodityKind=:commodityKind where webaddr=:webaddr")
                 : QStringLiteral("insert into dianbase(dianzhu,addr,dianming,commodityNum,loc,updateDate,"
                                  "commodityKind,webaddr) values(:dianzhu,:addr,:dianming,:commodityNum,:loc,"
                                  ":updateDate,:commodityKind,:webaddr)"));
    q.SetParam(QStringLiteral("dianzhu"), row.shopkeeper);
    q.SetParam(QStringLiteral("addr"), row.location);
    q.SetParam(QStringLiteral("dianming"), row.name);
    q.SetParam(QStringLiteral("commodityNum"), row.goods);
    q.SetParam(QStringLiteral("loc"), row.business);
    q.SetParam(QStringLiteral("updateDate"), formats::dateTime(QDateTime::currentDateTime()));
    q.SetParam(QStringLiteral("commodityKind"), row.category);
    q.SetParam(key, row.webaddr);
    if (q.ExecSQL() < 0)
        return fail(q.lastError());
    const std::optional<qint64> id = number(connection, sql, key, row.webaddr, &lookUpError);
    if (!id)
        return fail(lookUpError);
    if (own && !connection.commit())
        return fail(connection.error());
    return id;
}

qint64 idOf(TConnection& connection, const QString& webaddr, QString* error)
{
    return number(connection, QStringLiteral("select id from dianbase where webaddr=:webaddr"),
                  QStringLiteral("webaddr"), webaddr, error)
        .value_or(0);
}

ShopRow rowOf(TConnection& connection, const QString& webaddr)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select * from dianbase where webaddr=:webaddr"));
    q.SetParam(QStringLiteral("webaddr"), webaddr);
    if (q.Open() && q.RecordCount() > 0)
        return ShopRow::fromCursor(q);
    ShopRow row;
    row.webaddr = webaddr;
    row.goods = QStringLiteral("0");
    return row;
}

std::optional<bool> exists(TConnection& connection, qint64 id, QString* error)
{
    const auto n = number(connection, QStringLiteral("select count(*) from dianbase where id=:id"),
                          QStringLiteral("id"), id, error);
    return n ? std::optional<bool>(*n > 0) : std::nullopt;
}

qint64 storedRatings(TConnection& connection, const QString& shopId)
{
    return number(connection,
                  QStringLiteral("select count(distinct itemId_pjsj) from pjinfo where dian_id=:dianId"),
                  QStringLiteral("dianId"), shopId, nullptr)
        .value_or(0);
}

int unknownRatings(TConnection& connection, const QString& shopId, const QStringList& keys, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select count(*) from pjinfo where dian_id=:dianId and itemId_pjsj=:key"));
    int unknown = 0;
    for (const QString& key : keys) {
        q.SetParam(QStringLiteral("dianId"), shopId);
        q.SetParam(QStringLiteral("key"), key);
        if (!q.Open()) {
            setError(error, q.lastError());
            return -1;
        }
        if (q.value(0, 0).toLongLong() == 0)
            ++unknown;
        q.Close();
    }
    return unknown;
}

} // namespace shoprecords
