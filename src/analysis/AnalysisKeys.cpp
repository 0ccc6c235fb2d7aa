#include "analysis/AnalysisKeys.h"

#include "store/Schema.h"

#include <QDate>
#include <map>
#include <utility>

namespace analysis::keys {

QString rankSql(const RankRequest& request)
{
    // A unary plus keeps the engine off the time index, whose range would win its estimate
    // and leave a sort of every rating; the item index then yields the groups in order.
    QString sql = rankSqlAllRows(request);
    // The amount the nearest double to the money, ordered by the money itself.
    sql.replace(QLatin1String("sum(jg) as amount"), QLatin1String("sum(k_units(jg))/10000.0 as amount"));
    sql.replace(QLatin1String("sum(jg)"), QLatin1String("sum(k_units(jg))"));
    sql.replace(QLatin1String("pjsj>"), QLatin1String("+pjsj>"));
    sql.replace(QLatin1String("pjsj<="), QLatin1String("+pjsj<="));
    return sql;
}

QString monthOf(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy-MM"));
}

QString afterMonth(const QString& month)
{
    QString next = month;
    if (!next.isEmpty())
        next[next.size() - 1] = QChar(next.back().unicode() + 1);
    return next;
}

TallyPlan tallyPlan(const Range& range)
{
    TallyPlan plan;
    plan.oneMonth = range.begin.year() == range.end.year() && range.begin.month() == range.end.month();
    // The parts outside the range are only disjoint while it is not reversed; a reversed
    // range reads its (empty) inside.
    if (range.begin > range.end)
        return plan;
    const int beginDays = range.begin.daysInMonth();
    if (plan.oneMonth) {
        const int inside = range.end.day() - range.begin.day() + 1;
        plan.beginInside = plan.endInside = inside <= beginDays - inside;
        return plan;
    }
    // Days of the begin month from the begin date on, and of the end month before the end
    // date (the end date itself counts only at its midnight).
    plan.beginInside = beginDays - range.begin.day() + 1 <= range.begin.day() - 1;
    plan.endInside = range.end.day() - 1 <= range.end.daysInMonth() - range.end.day() + 1;
    return plan;
}

namespace {

// How one flavour of the tallied ranking names its parameters and reads its tally.
struct TallySpelling
{
    QString shop, begin, end, pj;
    QString firstMonth, firstStart, firstAfter, lastMonth, lastStart, lastAfter;
    QString sold, bought;
    QString tally;      // SELECT dian_id,itemTitle,itemId,jg,n FROM ... WHERE , then the filter
    QString tallyRated; // what the tally adds to a rating's filter
    QString tallyEnd;   // after the tally's months
    QString outer;      // the grouping around the parts, %1 the parts, %2 the order
};

QString rankTallySql(const RankRequest& request, const TallyPlan& plan, const TallySpelling& w)
{
    const bool rated = isRated(request.range.pj);
    const QString filter = QStringLiteral("dian_id=%1 AND buyerOrSaler=%2")
                               .arg(w.shop, request.kind == TradeKind::Bought ? w.bought : w.sold) +
                           (rated ? QStringLiteral(" AND pj=") + w.pj : QString());
    const QString inside = rangeCondition(rated, QStringLiteral("pjsj"), w.begin, w.end);
    // The begin's side outside the range, the other side of the begin's bound.
    const QString before = (rated ? QStringLiteral("pjsj<") : QStringLiteral("pjsj<=")) + w.begin;
    auto ratings = [&](const char* n, const QString& where) {
        return QStringLiteral("SELECT dian_id,itemTitle,itemId,jg,%1 FROM pjInfo WHERE %2 AND %3")
            .arg(QLatin1String(n), filter, where);
    };
    // Every rating of a month strictly between the ends' months lies inside the range.
    QStringList months{QStringLiteral("month>%1 AND month<%2").arg(w.firstMonth, w.lastMonth)};
    QStringList parts;
    auto endMonth = [&](const QString& month, const QString& start, const QString& after, bool readInside) {
        const QString in = QStringLiteral("pjsj>=%1 AND pjsj<%2").arg(start, after);
        if (readInside) {
            parts << ratings("1", in + QStringLiteral(" AND ") + inside);
            return;
        }
        months << QStringLiteral("month=") + month;
        parts << ratings("-1", in + QStringLiteral(" AND ") + before);
        parts << ratings("-1", in + QStringLiteral(" AND pjsj>") + w.end);
    };
    endMonth(w.firstMonth, w.firstStart, w.firstAfter, plan.beginInside);
    if (!plan.oneMonth)
        endMonth(w.lastMonth, w.lastStart, w.lastAfter, plan.endInside);
    // The tally's months first, before the few days read beside them.
    parts.prepend(w.tally + filter + (rated ? w.tallyRated : QString()) + QStringLiteral(" AND (") +
                  months.join(QStringLiteral(" OR ")) + u')' + w.tallyEnd);
    // Groups of equal figures in their own order, as the statement leaves them.
    return w.outer.arg(parts.join(QStringLiteral(" UNION ALL ")),
                       rankOrder(request.byAmount, QStringLiteral("units"), QStringLiteral("num")) +
                           QStringLiteral(",itemTitle,itemId,jg"));
}

} // namespace

QString rankTallySql(const RankRequest& request, const TallyPlan& plan)
{
    static const TallySpelling w{
        "?1", "?2", "?3", "?4", "?5", "?5", "?6", "?7", "?7", "?8", "1", "0",
        "SELECT dian_id,itemTitle,itemId,jg,sum(n) AS n FROM pjInfoTally WHERE ", "",
        // Added up in the tally's index order.
        " GROUP BY itemTitle,itemId,jg",
        "SELECT itemTitle,itemId,jg,(itemId IS NOT NULL)*sum(n) AS num,dian_id,k_units(jg)*sum(n) AS "
        "units FROM (%1) GROUP BY itemTitle,itemId,jg HAVING sum(n)>0 ORDER BY %2"};
    return rankTallySql(request, plan, w);
}

QString serverRankTallySql(const RankRequest& request, const TallyPlan& plan)
{
    static const TallySpelling w{
        ":dianId",
        ":beginDate",
        ":endDate",
        ":spj",
        ":firstMonth",
        ":firstStart",
        ":firstAfter",
        ":lastMonth",
        ":lastStart",
        ":lastAfter",
        "true",
        "false",
        "SELECT dian_id,CASE WHEN (nulls & 1)=1 THEN NULL ELSE itemTitle END AS itemTitle,"
        "CASE WHEN (nulls & 2)=2 THEN NULL ELSE itemId END AS itemId,"
        "CASE WHEN (nulls & 4)=4 THEN NULL ELSE jg END AS jg,n FROM pjInfoRankTally WHERE n<>0 AND ",
        " AND nulls<8",
        "",
        "SELECT itemTitle,itemId,jg,CASE WHEN itemId IS NULL THEN 0 ELSE CAST(sum(n) AS bigint) END AS num,"
        "dian_id,k_units(jg)*CAST(sum(n) AS bigint) AS units FROM (%1) u GROUP BY "
        "itemTitle,itemId,jg,dian_id "
        "HAVING sum(n)>0 ORDER BY %2"};
    return rankTallySql(request, plan, w);
}

QString bucketSql(bool rated, bool sellerOnly, bool fromTally)
{
    const QString key = QLatin1String(schema::hourKeySql());
    const QString trade = sellerOnly ? QStringLiteral("buyerOrSaler=true and ") : QString();
    const QString head =
        QStringLiteral("select dian_id,sum(k_units(jg)),count(itemId),count(*),%1 from pjinfo where ")
            .arg(key) +
        trade + (rated ? QStringLiteral("pj=:spj and ") : QString());
    // dian_id is grouped too: fixed by the condition, but the server wants every selected
    // column grouped.
    const QString tail = QStringLiteral("dian_id=:dianId group by dian_id,%1").arg(key);
    const QString range = rangeCondition(rated) + QStringLiteral(" and ");
    if (!fromTally)
        return head + range + tail;
    // A text's prefix keeps its order, so every rating of an hour strictly between the
    // range's first and last hour lies inside the range: those hours come from the tally, and
    // only the two end hours are read from the ratings over the time key, each from 23:00 of
    // the day before its date to 01:00 of the date (the hour of its midnight, or on a server
    // the hour before it), testing the hour and the time themselves as the statements do; the
    // end hour only when it is another hour.
    const QString inner =
        QStringLiteral("hourKey>substr(:beginDate,1,13) and hourKey<substr(:endDate,1,13) and ");
    const QString inRange = rangeCondition(rated, QStringLiteral("+pjsj")) + QStringLiteral(" and ");
    auto endHour = [&](const char* end, const char* from, const char* next, const char* other) {
        const QString e = QLatin1String(end);
        return head +
               QStringLiteral("%1=substr(:%2,1,13) and pjsj>=:%3 and pjsj<:%4 and ")
                   .arg(key, e, QLatin1String(from), QLatin1String(next)) +
               (other ? QStringLiteral("substr(:%1,1,13)<>substr(:%2,1,13) and ").arg(e, QLatin1String(other))
                      : QString()) +
               inRange + tail;
    };
    const QString innerHours =
        QStringLiteral("select dian_id,CASE WHEN sum(priced)>0 THEN CAST(sum(units) AS bigint) "
                       "END,CAST(sum(items) AS bigint),CAST(sum(n) AS bigint),hourKey "
                       "from pjInfoHourTally where ") +
        trade + (rated ? QStringLiteral("pj=:spj and nulls<2 and ") : QString()) + inner +
        QStringLiteral("dian_id=:dianId group by dian_id,hourKey having sum(n)>0");
    return innerHours + QStringLiteral(" union all ") +
           endHour("beginDate", "beginFrom", "beginNext", nullptr) + QStringLiteral(" union all ") +
           endHour("endDate", "endFrom", "endNext", "beginDate");
}

std::vector<Group> regroup(const std::vector<Bucket>& buckets, const Period& period)
{
    // Whole-number keys sort as numbers, text keys as text: each period has only one kind.
    std::map<std::pair<qlonglong, QString>, Group> groups;
    for (const Bucket& b : buckets) {
        const QVariant k = period.fromHour(b.hourKey);
        const bool whole = k.typeId() == QMetaType::LongLong;
        auto [it, added] = groups.try_emplace({whole ? k.toLongLong() : 0, whole ? QString() : k.toString()});
        Group& g = it->second;
        if (added) {
            g.key = k;
            g.shop = b.shop;
        }
        if (!b.units.isNull())
            g.units = QVariant((g.units.isNull() ? 0LL : g.units.toLongLong()) + b.units.toLongLong());
        g.items += b.items;
        g.rows += b.rows;
    }
    std::vector<Group> out;
    out.reserve(groups.size());
    for (auto& entry : groups)
        out.push_back(std::move(entry.second));
    return out;
}

} // namespace analysis::keys
