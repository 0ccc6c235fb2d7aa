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

} // namespace

qint64 store(TConnection& connection, const ShopRow& row, QString* error)
{
    const bool own = !connection.inTransaction();
    if (own && !connection.beginTransaction()) {
        setError(error, connection.error());
        return 0;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        if (own)
            connection.rollback();
        return qint64(0);
    };
    QString lookUpError;
    const bool found = idOf(connection, row.webaddr, &lookUpError) > 0;
    if (!lookUpError.isEmpty())
        return fail(lookUpError);
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(found
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
    q.SetParam(QStringLiteral("webaddr"), row.webaddr);
    if (q.ExecSQL() < 0)
        return fail(q.lastError());
    const qint64 id = idOf(connection, row.webaddr, &lookUpError);
    if (!lookUpError.isEmpty())
        return fail(lookUpError);
    if (own && !connection.commit())
        return fail(connection.error());
    return id;
}

qint64 idOf(TConnection& connection, const QString& webaddr, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select id from dianbase where webaddr=:webaddr"));
    q.SetParam(QStringLiteral("webaddr"), webaddr);
    if (!q.Open()) {
        setError(error, q.lastError());
        return 0;
    }
    return q.RecordCount() > 0 ? q.value(0, 0).toLongLong() : 0;
}

ShopRow rowOf(TConnection& connection, const QString& webaddr)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select * from dianbase where webaddr=:webaddr"));
    q.SetParam(QStringLiteral("webaddr"), webaddr);
    return q.Open() && q.RecordCount() > 0 ? ShopRow::fromCursor(q) : ShopRow::bare(webaddr);
}

std::optional<bool> exists(TConnection& connection, qint64 id, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select count(*) from dianbase where id=:id"));
    q.SetParam(QStringLiteral("id"), id);
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    return q.value(0, 0).toLongLong() > 0;
}

qint64 storedRatings(TConnection& connection, const QString& shopId)
{
    TQuery q(&connection, QStringLiteral("shopRecord"));
    q.SetSQL(QStringLiteral("select count(distinct itemId_pjsj) from pjinfo where dian_id=:dianId"));
    q.SetParam(QStringLiteral("dianId"), shopId);
    return q.Open() ? q.value(0, 0).toLongLong() : 0;
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
