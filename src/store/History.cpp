#include "store/History.h"

#include "store/TConnection.h"
#include "store/TQuery.h"

#include <QDateTime>

namespace history {

const QStringList& profileColumns()
{
    static const QStringList columns{"buyerCredit",   "salerCredit",   "buylevel",    "salelevel",
                                     "buyerGoodRate", "salerGoodRate", "buyerGood",   "buyerNotBad",
                                     "buyerBad",      "salerGood",     "salerNotBad", "salerBad",
                                     "createDate"};
    return columns;
}

QList<schema::SchemaObject> fileObjects()
{
    QStringList columns;
    for (const QString& c : profileColumns())
        columns << c + u' ' +
                       (schema::columnType(c) == schema::ColumnType::Integer ? QStringLiteral("INTEGER")
                                                                             : QStringLiteral("TEXT"));
    return {
        {QStringLiteral("table"), QStringLiteral("dianHistory"),
         QStringLiteral("CREATE TABLE dianHistory (id INTEGER PRIMARY KEY AUTOINCREMENT, dian_id INTEGER NOT "
                        "NULL, minedAt TEXT NOT NULL, %1, totalRatings INTEGER, ratings INTEGER, "
                        "lastRatingId INTEGER)")
             .arg(columns.join(QStringLiteral(", ")))},
        {QStringLiteral("index"), QStringLiteral("dianHistory_shop_time"),
         QStringLiteral("CREATE INDEX dianHistory_shop_time ON dianHistory(dian_id, minedAt)")},
        // A trigger on the table rather than on the view: a statement on either, and the
        // browser's delete through the view, all end in a delete from dianBase.
        {QStringLiteral("trigger"), QStringLiteral("dianBase_history_delete"),
         QStringLiteral("CREATE TRIGGER dianBase_history_delete AFTER DELETE ON dianBase "
                        "BEGIN DELETE FROM dianHistory WHERE dian_id = old.id; END")},
    };
}

QList<serverschema::Piece> serverPieces()
{
    return {
        {QStringLiteral("function"), QStringLiteral("k_history_gone()"),
         QStringLiteral("CREATE OR REPLACE FUNCTION k_history_gone() RETURNS trigger LANGUAGE plpgsql AS $$ "
                        "BEGIN DELETE FROM dianHistory h USING k_old o WHERE h.dian_id = o.id; RETURN NULL; "
                        "END $$")},
        // The view of one table is updatable on the server: a delete through it fires this too.
        {QStringLiteral("trigger"), QStringLiteral("dianBase_history_delete"),
         QStringLiteral("CREATE TRIGGER dianBase_history_delete AFTER DELETE ON dianBase REFERENCING OLD "
                        "TABLE AS k_old FOR EACH STATEMENT EXECUTE FUNCTION k_history_gone()")},
    };
}

bool record(TConnection& connection, const QString& shopId, const QHash<QString, QVariant>& profile,
            qlonglong totalRatings, QString* error)
{
    QHash<QString, QVariant> byColumn;
    for (auto it = profile.cbegin(); it != profile.cend(); ++it)
        byColumn.insert(it.key().toLower(), it.value());
    QStringList params;
    for (const QString& c : profileColumns())
        params << u':' + c;
    TQuery q(&connection, QStringLiteral("ADOQuery1"));
    // Parameters named after their columns take those columns' conversions, as the profile
    // update's did; the two counts come last, after every parameter.
    q.SetSQL(QStringLiteral("insert into dianHistory(dian_id,minedAt,%1,totalRatings,ratings,lastRatingId) "
                            "values(:dian_id,:minedAt,%2,:totalRatings,"
                            "(select count(*) from pjInfo where dian_id=:shop1),"
                            "(select max(id) from pjInfo where dian_id=:shop2))")
                 .arg(profileColumns().join(u','), params.join(u',')));
    q.SetParam(QStringLiteral("dian_id"), shopId.toLongLong());
    q.SetParam(QStringLiteral("minedAt"),
               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    // The profile's parameter names (buyLevel, saleLevel) differ from the columns in case only.
    for (const QString& c : profileColumns())
        q.SetParam(c, byColumn.value(c.toLower()));
    q.SetParam(QStringLiteral("totalRatings"), totalRatings);
    q.SetParam(QStringLiteral("shop1"), shopId.toLongLong());
    q.SetParam(QStringLiteral("shop2"), shopId.toLongLong());
    if (q.ExecSQL() < 0) {
        if (error)
            *error = q.lastError();
        return false;
    }
    return true;
}

} // namespace history
