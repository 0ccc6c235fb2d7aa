#include "analysis/MarketRanking.h"

#include "extract/RatingWord.h"
#include "store/TConnection.h"
#include "store/TQuery.h"
#include "text/Formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariantList>

namespace analysis {

Result runMarketRank(TConnection& connection, const RankRequest& request,
                     const std::optional<QSet<qlonglong>>& shops)
{
    Result result;
    // The ranking's statement with its one shop replaced by the chosen ones (a JSON list, one
    // bound value however many) or by every shop.
    QString sql = rankSqlAllRows(request);
    sql.replace(QStringLiteral("dian_id=:dianId "),
                shops ? QStringLiteral("dian_id in (select cast(value as integer) from json_each(:shops)) ")
                      : QStringLiteral("dian_id is not null "));
    // Grouped in the order of the item key, shop first: the same groups, read in the order the
    // key holds them instead of sorted; the ties keep that order. The engine keeps only the
    // first rows of the order (the top N and a margin for ties), unless a tie runs past them.
    // On the file a unary plus keeps the engine off the time index.
    result.sql = sql;
    if (connection.engine() == TConnection::Engine::Sqlite)
        sql.replace(QStringLiteral("pjsj>"), QStringLiteral("+pjsj>"))
            .replace(QStringLiteral("pjsj<="), QStringLiteral("+pjsj<="));
    sql.replace(QStringLiteral("group by itemtitle,itemid,dian_id,jg"),
                QStringLiteral("group by dian_id,itemtitle,itemid,jg"));
    sql += QStringLiteral(",dian_id,itemtitle,itemid,jg");
    const int margin = std::max(1, request.top) + 64;
    TQuery query(&connection, QStringLiteral("marketRank"));
    query.SetSQL(sql + QStringLiteral(" limit %1").arg(margin));
    query.SetParam(QStringLiteral("beginDate"), formats::shortDate(request.range.begin));
    query.SetParam(QStringLiteral("endDate"), formats::shortDate(request.range.end));
    if (isRated(request.range.pj))
        query.SetParam(QStringLiteral("spj"), storedRatingWord(request.range.pj));
    if (shops) {
        QJsonArray ids;
        for (qlonglong id : *shops)
            ids.append(id);
        query.SetParam(QStringLiteral("shops"),
                       QString::fromUtf8(QJsonDocument(ids).toJson(QJsonDocument::Compact)));
    }
    if (!query.Open()) {
        result.error = query.lastError();
        return result;
    }
    result.columns = query.FieldNames();
    const int num = result.column(QStringLiteral("num"));
    const int amount = result.column(QStringLiteral("amount"));
    auto ties = [&](int a, int b) {
        return query.value(a, num) == query.value(b, num) && query.value(a, amount) == query.value(b, amount);
    };
    const int shop = result.column(QStringLiteral("dian_id"));
    int keep = std::min(query.RecordCount(), std::max(1, request.top));
    if (query.RecordCount() == margin && ties(keep - 1, margin - 1)) {
        query.Close();
        query.SetSQL(sql);
        if (!query.Open()) {
            result.error = query.lastError();
            return result;
        }
    }
    // The first N rows and every row tied with the N-th on both sort keys.
    while (keep > 0 && keep < query.RecordCount() && ties(keep, keep - 1))
        ++keep;
    QSet<qlonglong> ranked;
    for (int r = 0; r < keep; ++r) {
        QVariantList row;
        for (int c = 0; c < result.columns.size(); ++c)
            row << query.value(r, c);
        ranked.insert(row.value(shop).toLongLong());
        result.rows.push_back(std::move(row));
    }
    query.Close();
    QHash<qlonglong, QVariant> names;
    query.SetSQL(QStringLiteral("select id, dianming from dianBase"));
    if (!query.Open()) {
        result.error = query.lastError();
        return result;
    }
    for (int r = 0; r < query.RecordCount(); ++r)
        if (ranked.contains(query.value(r, 0).toLongLong()))
            names.insert(query.value(r, 0).toLongLong(), query.value(r, 1));
    result.columns << QStringLiteral("dianming");
    const int figure = result.column(request.byAmount ? QStringLiteral("amount") : QStringLiteral("num"));
    for (int k = 0; k < result.rowCount(); ++k) {
        result.rows[k] << names.value(result.rows[k].value(shop).toLongLong());
        result.labels << rankLabel(k + 1);
        result.values << result.rows[k].value(figure).toDouble();
    }
    return result;
}

} // namespace analysis
