#pragma once

#include "analysis/AnalysisSql.h"

#include <QString>
#include <QVariant>
#include <vector>

// What the analyses run in place of their statements: equivalents over the stored keys
// (the index pjInfo_shop_itemkey and the tallies), and the regrouping of hour
// buckets into the periods. The rows come out exactly as the statements would give them.
// Thread-safe (pure functions).
namespace analysis::keys {

// The ranking over its group-ordered index: the statement with the time conditions kept
// off the time index, so the engine groups while it reads instead of sorting every row, and
// its sums of prices added and ordered in whole units of money (store/Money.h).
QString rankSql(const RankRequest& request);

// The ranking from the counts table pjInfoTally (SQLite only): whole months of the range are
// added up from their counts, and in each month holding an end of the range only the days on
// one side of the end are read from the ratings, those inside (count 1 each) or those outside
// (count -1 each, taken off the month's counts), whichever are fewer days. Parameters:
// ?1 shop, ?2 and ?3 the range's ends as the statement compares them, ?4 the rating, ?5 and
// ?6 the first end's month and the text after every time in it, ?7 and ?8 those of the
// second end. Rows: itemTitle, itemId, jg, count(itemId), dian_id and the sum of the prices
// in units of money, one per group with ratings, in the ranking's order (rankOrder).
struct TallyPlan
{
    bool beginInside = true; // read the begin month's ratings inside the range
    bool endInside = true;   // the same for the end month (when it is another month)
    bool oneMonth = false;   // both ends in one month: ?8 is not used
};
TallyPlan tallyPlan(const Range& range);
QString rankTallySql(const RankRequest& request, const TallyPlan& plan);
// The same from a server's pjInfoRankTally (ServerTally.h), with named parameters: :dianId,
// :beginDate, :endDate and :spj as the statement's, :firstMonth and :lastMonth the ends'
// months ("yyyy-MM"), :firstStart, :firstAfter, :lastStart and :lastAfter the times their
// months start and the next months start. Rows as the file's, in the same order.
QString serverRankTallySql(const RankRequest& request, const TallyPlan& plan);
// "yyyy-MM" of a date, and the smallest text after every text that starts with it.
QString monthOf(const QDate& date);
QString afterMonth(const QString& month);

// One row per hour of the range that has ratings (an end hour may come twice, after the
// others): dian_id, the sum of the prices in units of money, count(itemId), count(*), the
// hour key. sellerOnly adds "buyerOrSaler=true". fromTally reads the hours inside the range
// from the tally pjInfoHourTally (Schema.cpp, ServerTally.h) and only the two end hours from
// the ratings, which takes four more parameters: :beginFrom and :endFrom, 23:00 of the day
// before each end's date, and :beginNext and :endNext, 01:00 of the date; without it every
// rating of the range is read.
QString bucketSql(bool rated, bool sellerOnly, bool fromTally = false);

struct Bucket
{
    QString hourKey; // "yyyy-MM-dd HH"
    QVariant shop;
    QVariant units;      // the prices' sum in units of money; NULL when none has a price
    qlonglong items = 0; // count(itemId)
    qlonglong rows = 0;  // count(*)
};

// One period of a trend or distribution, in the statement's order.
struct Group
{
    QVariant key; // text for days, months and years; a whole number for weeks, quarters, hours
    QVariant shop;
    QVariant units; // the prices' sum in units of money; NULL when none has a price
    qlonglong items = 0;
    qlonglong rows = 0;
};

// Buckets added up per key of the period (Period::fromHour), ordered by the key as the
// statements order it.
std::vector<Group> regroup(const std::vector<Bucket>& buckets, const Period& period);

} // namespace analysis::keys
