#include "analysis/AnalysisKeys.h"

#include "store/Schema.h"
#include "store/SqlFunctions.h"

#include <map>
#include <utility>

namespace analysis::keys {

QString rankSql(const RankRequest& request)
{
    // A unary plus keeps the engine off the time index, whose range would win its estimate
    // and leave a sort of every rating; the item index then yields the groups in order.
    QString sql = rankSqlAllRows(request);
    sql.replace(QLatin1String("pjsj>"), QLatin1String("+pjsj>"));
    sql.replace(QLatin1String("pjsj<="), QLatin1String("+pjsj<="));
    return sql;
}

QString bucketSql(bool rated, bool sellerOnly)
{
    const QString key = QLatin1String(schema::hourKeySql());
    const QString head =
        QStringLiteral("select dian_id,sum(jg),count(itemId),count(*),%1 from pjinfo where ").arg(key) +
        (sellerOnly ? QStringLiteral("buyerOrSaler=true and ") : QString()) +
        (rated ? QStringLiteral("pj=:spj and ") : QString());
    // dian_id is grouped too: fixed by the condition, but the server wants every selected
    // column grouped.
    const QString tail = QStringLiteral("dian_id=:dianId group by dian_id,%1").arg(key);
    // A text's prefix keeps its order, so every rating of an hour strictly between the
    // range's first and last hour lies inside the range: those hours are read by their key
    // alone, and only the two end hours test the time itself as the statements do.
    const QString inner =
        QStringLiteral("%1>substr(:beginDate,1,13) and %1<substr(:endDate,1,13) and ").arg(key);
    const QString ends =
        QStringLiteral("%1 in (substr(:beginDate,1,13),substr(:endDate,1,13)) and ").arg(key) +
        (rated ? QStringLiteral("+pjsj>=:beginDate and +pjsj<=:endDate and ")
               : QStringLiteral("+pjsj>:beginDate and +pjsj<=:endDate and "));
    return head + inner + tail + QStringLiteral(" union all ") + head + ends + tail;
}

namespace {

int digits(const QString& text, int from, int count)
{
    int out = 0;
    for (int i = from; i < from + count && i < text.size(); ++i)
        out = out * 10 + (text[i].unicode() - '0');
    return out;
}

QVariant quarter(const QString& hourKey)
{
    return QVariant(static_cast<qlonglong>((digits(hourKey, 5, 2) - 1) / 3 + 1));
}

QVariant trendKeyOf(int period, const QString& hourKey)
{
    return trendKey(static_cast<TrendPeriod>(period), hourKey);
}

QVariant distKeyOf(int period, const QString& hourKey)
{
    return distKey(static_cast<DistPeriod>(period), hourKey);
}

} // namespace

QVariant trendKey(TrendPeriod period, const QString& hourKey)
{
    switch (period) {
    case TrendPeriod::Day:
        return hourKey.left(10);
    case TrendPeriod::Week:
        return QVariant(static_cast<qlonglong>(
            sqlfunctions::weekOfYear(digits(hourKey, 0, 4), digits(hourKey, 5, 2), digits(hourKey, 8, 2))));
    case TrendPeriod::Month:
        return hourKey.left(7);
    case TrendPeriod::Quarter:
        return quarter(hourKey);
    case TrendPeriod::Year:
        break;
    }
    return hourKey.left(4);
}

QVariant distKey(DistPeriod period, const QString& hourKey)
{
    switch (period) {
    case DistPeriod::Hour:
        // A time without its hour counts as midnight, as hour() reads it.
        return QVariant(static_cast<qlonglong>(hourKey.size() >= 13 ? digits(hourKey, 11, 2) : 0));
    case DistPeriod::Month:
        return hourKey.left(7);
    case DistPeriod::Quarter:
        break;
    }
    return quarter(hourKey);
}

std::vector<Group> regroup(const std::vector<Bucket>& buckets, QVariant (*key)(int, const QString&),
                           int period)
{
    // Whole-number keys sort as numbers, text keys as text: each period has only one kind.
    std::map<std::pair<qlonglong, QString>, Group> groups;
    for (const Bucket& b : buckets) {
        const QVariant k = key(period, b.hourKey);
        const bool whole = k.typeId() == QMetaType::LongLong;
        auto [it, added] = groups.try_emplace({whole ? k.toLongLong() : 0, whole ? QString() : k.toString()});
        Group& g = it->second;
        if (added) {
            g.key = k;
            g.shop = b.shop;
        }
        if (!b.sum.isNull())
            g.sum = QVariant((g.sum.isNull() ? 0.0 : g.sum.toDouble()) + b.sum.toDouble());
        g.items += b.items;
        g.rows += b.rows;
    }
    std::vector<Group> out;
    out.reserve(groups.size());
    for (auto& entry : groups)
        out.push_back(std::move(entry.second));
    return out;
}

std::vector<Group> trendGroups(const std::vector<Bucket>& buckets, TrendPeriod period)
{
    return regroup(buckets, trendKeyOf, static_cast<int>(period));
}

std::vector<Group> distGroups(const std::vector<Bucket>& buckets, DistPeriod period)
{
    return regroup(buckets, distKeyOf, static_cast<int>(period));
}

} // namespace analysis::keys
