// The analyses read stored keys instead of running their statements; here every result is
// held against the statements themselves, run as written on the same file.
#include "analysis/AnalysisKeys.h"
#include "analysis/AnalysisRun.h"
#include "browser/ShopDelete.h"
#include "extract/RatingWord.h"
#include "store/StoreFixture.h"
#include "store/TConnection.h"
#include "store/TQuery.h"
#include "store/TTable.h"
#include "text/Formats.h"

#include <QRandomGenerator>
#include <sqlite3.h>

using namespace analysis;

namespace {

// The statement's rows as the windows' query gives them.
struct Rows
{
    QStringList columns;
    std::vector<QVariantList> rows;
    QString error;
};

// Sums of prices are exact money: the statement's sum(jg) is the sum of the prices rounded to
// four decimals, added as whole numbers.
Rows described(TConnection& connection, QString sql, const Range& range)
{
    sql.replace(QLatin1String("sum(jg)"), QLatin1String("(sum(CAST(round(jg*10000) AS INTEGER))/10000.0)"));
    TQuery query(&connection, QStringLiteral("reference"));
    query.SetSQL(sql);
    query.SetParam(QStringLiteral("beginDate"), formats::shortDate(range.begin));
    query.SetParam(QStringLiteral("endDate"), formats::shortDate(range.end));
    query.SetParam(QStringLiteral("dianId"), range.shop);
    if (isRated(range.pj))
        query.SetParam(QStringLiteral("spj"), storedRatingWord(range.pj));
    Rows out;
    if (!query.Open()) {
        out.error = query.lastError();
        return out;
    }
    out.columns = query.FieldNames();
    for (int r = 0; r < query.RecordCount(); ++r) {
        QVariantList row;
        for (int c = 0; c < out.columns.size(); ++c)
            row << query.value(r, c);
        out.rows.push_back(row);
    }
    return out;
}

// Values and their types: a count must stay a whole number, a day a text.
QString cell(const QVariant& v)
{
    if (v.isNull())
        return QStringLiteral("NULL");
    return QString::fromLatin1(v.typeName()) + u':' + v.toString();
}

std::vector<std::string> cells(const std::vector<QVariantList>& rows)
{
    std::vector<std::string> out;
    for (const QVariantList& row : rows) {
        QStringList c;
        for (const QVariant& v : row)
            c << cell(v);
        out.push_back(c.join(u'|').toStdString());
    }
    return out;
}

std::vector<std::string> names(const QStringList& columns)
{
    std::vector<std::string> out;
    for (const QString& c : columns)
        out.push_back(c.toStdString());
    return out;
}

double number(const QVariant& v)
{
    return v.isNull() ? 0.0 : v.toDouble();
}

class KeyedAnalyses : public StoreFixture
{
protected:
    Range range(qlonglong shop, const char* from, const char* to, const QString& pj) const
    {
        Range r;
        r.shop = shop;
        r.begin = QDate::fromString(QString::fromLatin1(from), Qt::ISODate);
        r.end = QDate::fromString(QString::fromLatin1(to), Qt::ISODate);
        r.pj = pj;
        return r;
    }

    // Every analysis, period, rating choice and trade type over the range, against the
    // statements; count is the number of rows compared.
    void expectSameAsStatements(TConnection& c, const Range& base, int* count = nullptr,
                                const QStringList& pjs = ratingChoices(),
                                const QList<TradeKind>& kinds = {TradeKind::Any, TradeKind::Sold,
                                                                 TradeKind::Bought})
    {
        for (const QString& pj : pjs) {
            Range r = base;
            r.pj = pj;
            SCOPED_TRACE(pj.toStdString());
            for (int p = 0; p < trendPeriodChoices().size(); ++p) {
                const auto period = static_cast<TrendPeriod>(p);
                SCOPED_TRACE("trend " + std::to_string(p));
                const TrendStatements sql = trendSql(period, isRated(pj));
                const Rows amount = described(c, sql.peakAmount, r);
                ASSERT_TRUE(amount.error.isEmpty()) << amount.error.toStdString();
                const Result got = runTrend(c, r, period);
                ASSERT_TRUE(got.ok()) << got.error.toStdString();
                const double peak = amount.rows.empty() ? 0 : number(amount.rows[0][0]);
                EXPECT_EQ(got.amountPeak, peak);
                if (peak == 0) {
                    EXPECT_FALSE(got.complete);
                    EXPECT_EQ(got.sql, sql.peakAmount);
                    EXPECT_EQ(names(got.columns), names(amount.columns));
                    EXPECT_EQ(cells(got.rows), cells(amount.rows));
                    continue;
                }
                const Rows counts = described(c, sql.peakCount, r);
                const Rows series = described(c, sql.series, r);
                EXPECT_TRUE(got.complete);
                EXPECT_EQ(got.countPeak, counts.rows.empty() ? 0 : number(counts.rows[0][0]));
                EXPECT_EQ(got.sql, sql.series);
                EXPECT_EQ(names(got.columns), names(series.columns));
                EXPECT_EQ(cells(got.rows), cells(series.rows));
                if (count)
                    *count += static_cast<int>(series.rows.size());
            }
            for (int p = 0; p < distPeriodChoices().size(); ++p) {
                const auto period = static_cast<DistPeriod>(p);
                SCOPED_TRACE("distribution " + std::to_string(p));
                const Rows want = described(c, distSql(period, isRated(pj)), r);
                ASSERT_TRUE(want.error.isEmpty()) << want.error.toStdString();
                const Result got = runDist(c, r, period);
                ASSERT_TRUE(got.ok()) << got.error.toStdString();
                EXPECT_EQ(got.sql, distSql(period, isRated(pj)));
                EXPECT_EQ(names(got.columns), names(want.columns));
                EXPECT_EQ(cells(got.rows), cells(want.rows));
                if (count)
                    *count += static_cast<int>(want.rows.size());
            }
            for (TradeKind kind : kinds) {
                for (bool byAmount : {false, true}) {
                    RankRequest q;
                    q.range = r;
                    q.top = 50;
                    q.byAmount = byAmount;
                    q.kind = kind;
                    SCOPED_TRACE("rank " + std::to_string(static_cast<int>(kind)) +
                                 (byAmount ? " amount" : ""));
                    // Every ranked row in order, not only the top: ties come in the same order.
                    const Rows want = described(c, rankSqlAllRows(q), r);
                    ASSERT_TRUE(want.error.isEmpty()) << want.error.toStdString();
                    const Rows keyed = described(c, keys::rankSql(q), r);
                    EXPECT_EQ(names(keyed.columns), names(want.columns));
                    EXPECT_EQ(cells(keyed.rows), cells(want.rows));
                    Result tallied;
                    ASSERT_TRUE(rankFromTally(c, q, tallied));
                    EXPECT_EQ(names(tallied.columns), names(want.columns));
                    EXPECT_EQ(cells(tallied.rows), cells(want.rows));
                    const Result got = runRank(c, q);
                    EXPECT_EQ(got.sql, rankSql(q));
                    ASSERT_LE(static_cast<size_t>(got.rowCount()), want.rows.size());
                    EXPECT_EQ(cells(got.rows), cells(std::vector<QVariantList>(
                                                   want.rows.begin(), want.rows.begin() + got.rowCount())));
                    if (count)
                        *count += static_cast<int>(want.rows.size());
                }
            }
        }
    }

    bool add(qlonglong shop, const char* pj, bool sold, const char* when, const char* item,
             const QVariant& price)
    {
        TQuery* q = dm.ADOQuery2;
        q->SetSQL(QString::fromLatin1(kRatingInsert));
        q->SetParam("dianId", shop);
        q->SetParam("pj", QString::fromUtf8(pj));
        q->SetParam("buyerorSaler", sold ? QStringLiteral("True") : QStringLiteral("False"));
        q->SetParam("pjsj", QString::fromLatin1(when));
        q->SetParam("trade_id", QStringLiteral("T"));
        q->SetParam("itemid", item ? QVariant(QString::fromLatin1(item)) : QVariant());
        q->SetParam("itemtitle", QStringLiteral("商品") + QString::fromLatin1(item ? item : "?"));
        q->SetParam("pjName", QStringLiteral("买家"));
        q->SetParam("jg", price);
        q->SetParam("pjinfo", QStringLiteral("好"));
        q->SetParam("pjjs", QString());
        q->SetParam("itemId_pjsj", QString());
        return q->ExecSQL() == 1;
    }

    // Every ranked row from the tally against the statement, for each rating choice, trade
    // type and order.
    void expectTallySameAsStatement(TConnection& c, const Range& base, const QStringList& pjs)
    {
        for (const QString& pj : pjs) {
            for (TradeKind kind : {TradeKind::Any, TradeKind::Sold, TradeKind::Bought}) {
                for (bool byAmount : {false, true}) {
                    RankRequest q;
                    q.range = base;
                    q.range.pj = pj;
                    q.top = 50;
                    q.byAmount = byAmount;
                    q.kind = kind;
                    SCOPED_TRACE(pj.toStdString() + " kind " + std::to_string(static_cast<int>(kind)) +
                                 (byAmount ? " amount" : " count"));
                    const Rows want = described(c, rankSqlAllRows(q), q.range);
                    ASSERT_TRUE(want.error.isEmpty()) << want.error.toStdString();
                    Result tallied;
                    ASSERT_TRUE(rankFromTally(c, q, tallied));
                    EXPECT_EQ(names(tallied.columns), names(want.columns));
                    ASSERT_EQ(cells(tallied.rows), cells(want.rows));
                }
            }
        }
    }

    // The tally's rows beside the ratings counted afresh: equal when the triggers kept it.
    void expectTallyCountsTheRatings(TConnection& c)
    {
        const Range none;
        const Rows tally =
            described(c,
                      "select dian_id,itemTitle,itemId,jg,buyerOrSaler,pj,month,n from pjInfoTally "
                      "order by 1,2,3,4,5,6,7",
                      none);
        const Rows recount = described(
            c,
            "select dian_id,itemTitle,itemId,jg,buyerOrSaler,pj,substr(pjsj,1,7),count(*) from pjInfo "
            "group by 1,2,3,4,5,6,7 order by 1,2,3,4,5,6,7",
            none);
        ASSERT_TRUE(tally.error.isEmpty()) << tally.error.toStdString();
        EXPECT_EQ(cells(tally.rows), cells(recount.rows));
        const Rows hours = described(c,
                                     "select dian_id,hourKey,buyerOrSaler,pj,nulls,n,items,priced,"
                                     "units/10000.0 from pjInfoHourTally order by 1,2,3,4,5",
                                     none);
        const Rows hourRecount =
            described(c,
                      "select dian_id,substr(pjsj,1,13),coalesce(buyerOrSaler,0),coalesce(pj,''),"
                      "(buyerOrSaler is null)+2*(pj is "
                      "null),count(*),count(itemId),count(jg),coalesce(sum(jg),0.0) "
                      "from pjInfo where dian_id is not null and pjsj is not null group by 1,2,3,4,5 order "
                      "by 1,2,3,4,5",
                      none);
        ASSERT_TRUE(hours.error.isEmpty()) << hours.error.toStdString();
        EXPECT_EQ(cells(hours.rows), cells(hourRecount.rows));
    }

    // Ratings around the ends of months, at their midnights, with times the saver would not
    // write (a month alone, a bare date, none), without item or price, at prices whose sums
    // are not exact, sixty items tied on both keys, purchases and every rating word.
    void addMonthEnds(qlonglong shop, qlonglong other)
    {
        ASSERT_TRUE(add(shop, "好评", true, "2026-02-28 23:59:59", "A", 10.5));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-01 00:00:00", "A", 10.5));
        ASSERT_TRUE(add(shop, "中评", true, "2026-03-01 00:00:01", "A", 10.5));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-14 23:59:59", "B", 0.1));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-15 00:00:00", "B", 0.1));
        ASSERT_TRUE(add(shop, "差评", true, "2026-03-15 00:00:01", "B", 0.1));
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(
                add(shop, "好评", true, i % 2 ? "2026-03-16 08:00:00" : "2026-04-02 08:00:00", "C", 0.1));
        for (int i = 0; i < 7; ++i)
            ASSERT_TRUE(add(shop, "好评", true, "2026-03-30 12:00:00", "D", 19.9));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-31 00:00:00", "D", 19.9));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-31 23:59:59", nullptr, 19.9));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-20 10:00:00", "E", QVariant()));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-20 10:00:00", nullptr, QVariant()));
        ASSERT_TRUE(add(shop, "好评", false, "2026-03-15 09:00:00", "F", 8));
        ASSERT_TRUE(add(shop, "中评", false, "2026-04-01 00:00:00", "F", 8));
        ASSERT_TRUE(add(shop, "好评", true, "2026-04-10 10:00:00", "A", 12));
        for (int t = 0; t < 60; ++t) {
            const QByteArray item = "T" + QByteArray::number(100 + t);
            ASSERT_TRUE(add(shop, "好评", true, "2026-04-10 11:00:00", item.constData(), 5));
            ASSERT_TRUE(add(shop, "好评", true, "2026-04-11 00:00:00", item.constData(), 5));
        }
        ASSERT_TRUE(add(shop, "好评", true, "2026-05-01 00:00:00", "G", 3));
        ASSERT_TRUE(add(shop, "好评", true, "2027-01-01 00:00:00", "G", 3));
        ASSERT_TRUE(add(other, "好评", true, "2026-03-15 00:00:01", "A", 1000));
        const QString id = QString::number(shop);
        for (const char* odd : {"'2026-03'", "'2026-03-15'", "'2026-03-31'", "NULL", "'2026-3-5 1:00:00'"})
            ASSERT_TRUE(dm.adoCn.exec(QStringLiteral("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,"
                                                     "itemTitle,jg) values(%1,'好评',1,%2,'H','商品H',2)")
                                          .arg(id, QLatin1String(odd))));
        ASSERT_TRUE(dm.adoCn.exec(QStringLiteral("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,"
                                                 "itemTitle,jg) values(%1,'好评',1,'2026-03-20 10:00:00',"
                                                 "'I','商品I','abc')")
                                      .arg(id)));
    }

    void addHandBuilt(qlonglong shop, qlonglong other)
    {
        // Midnights on the range's ends, the last second of a day, weeks across two new years
        // (the week number ignores the year), a rating without a price, one without an item,
        // a zero price, purchases, every rating word and a second shop at the same times.
        ASSERT_TRUE(add(shop, "好评", true, "2025-12-31 00:00:00", "A", 10.5));
        ASSERT_TRUE(add(shop, "好评", true, "2025-12-31 23:59:59", "A", 10.5));
        ASSERT_TRUE(add(shop, "中评", true, "2026-01-01 00:00:00", "A", 12));
        ASSERT_TRUE(add(shop, "好评", true, "2026-01-01 00:00:01", "B", 0.25));
        ASSERT_TRUE(add(shop, "差评", true, "2026-01-03 13:30:00", "B", 0.25));
        ASSERT_TRUE(add(shop, "好评", true, "2026-01-04 13:00:00", "C", QVariant()));
        ASSERT_TRUE(add(shop, "好评", true, "2026-01-04 13:59:59", nullptr, 7));
        ASSERT_TRUE(add(shop, "好评", false, "2026-01-05 08:00:00", "D", 99));
        ASSERT_TRUE(add(shop, "好评", true, "2026-03-31 23:00:00", "E", 0));
        ASSERT_TRUE(add(shop, "中评", true, "2026-04-01 00:00:00", "E", 0));
        ASSERT_TRUE(add(shop, "好评", true, "2026-06-30 12:00:00", "C", 3.5));
        ASSERT_TRUE(add(shop, "好评", true, "2026-12-31 00:00:00", "C", 3.5));
        ASSERT_TRUE(add(shop, "好评", true, "2026-12-31 00:00:01", "C", 3.5));
        ASSERT_TRUE(add(shop, "好评", true, "2026-08-10 10:00:00", "F", QVariant()));
        ASSERT_TRUE(add(shop, "好评", true, "2026-08-11 10:00:00", "F", QVariant()));
        ASSERT_TRUE(add(shop, "差评", false, "2027-01-01 09:15:00", "A", 10.5));
        ASSERT_TRUE(add(shop, "好评", true, "2027-01-02 09:15:00", "A", 10.5));
        ASSERT_TRUE(add(other, "好评", true, "2026-01-01 00:00:01", "A", 1000));
        ASSERT_TRUE(add(other, "好评", true, "2026-06-30 12:00:00", "B", 2000));
    }
};

TEST_F(KeyedAnalyses, HandBuiltRatingsGiveTheStatementsRowsForEveryRange)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addHandBuilt(shop, other);
    const char* ranges[][2] = {
        {"2025-01-01", "2027-12-31"}, // everything
        {"2025-12-31", "2026-12-31"}, // both ends on a stored midnight
        {"2026-01-01", "2026-01-01"}, // one day: only its midnight, and only with a rating
        {"2026-01-04", "2026-01-05"}, // inside one hour bucket's day
        {"2026-03-31", "2026-04-01"}, // only zero prices: the trend ends early
        {"2026-05-01", "2026-05-31"}, // nothing
        {"2026-08-10", "2026-08-12"}, // only ratings without a price
        {"2026-12-31", "2026-01-01"}, // end before begin
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(std::string(r[0]) + " .. " + r[1]);
        expectSameAsStatements(dm.adoCn, range(shop, r[0], r[1], QString()));
    }
    // A shop without ratings at all.
    expectSameAsStatements(dm.adoCn, range(addShop("店三", "http://127.0.0.1:8631/shop/3"), "2025-01-01",
                                           "2027-12-31", QString()));
}

TEST_F(KeyedAnalyses, TheTallyGivesTheRankingsRowsWhereverTheRangeEnds)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addMonthEnds(shop, other);
    // Either side of a month's end is read: the fewer days.
    EXPECT_FALSE(keys::tallyPlan(range(shop, "2026-01-01", "2026-12-31", QString())).beginInside);
    EXPECT_FALSE(keys::tallyPlan(range(shop, "2026-01-01", "2026-12-31", QString())).endInside);
    EXPECT_TRUE(keys::tallyPlan(range(shop, "2026-03-14", "2026-03-16", QString())).beginInside);
    EXPECT_FALSE(keys::tallyPlan(range(shop, "2026-03-02", "2026-03-30", QString())).beginInside);
    EXPECT_TRUE(keys::tallyPlan(range(shop, "2026-03-31", "2026-04-02", QString())).beginInside);
    EXPECT_TRUE(keys::tallyPlan(range(shop, "2026-03-31", "2026-04-02", QString())).endInside);
    EXPECT_EQ(keys::afterMonth("2026-09"), QStringLiteral("2026-0:"));
    const char* days[] = {"2026-02-28", "2026-03-01", "2026-03-02", "2026-03-14", "2026-03-15", "2026-03-16",
                          "2026-03-30", "2026-03-31", "2026-04-01", "2026-04-11", "2026-05-01", "2027-01-01"};
    for (const char* from : days) {
        for (const char* to : days) {
            SCOPED_TRACE(std::string(from) + " .. " + to);
            expectTallySameAsStatement(dm.adoCn, range(shop, from, to, QString()),
                                       {QStringLiteral("不限"), QStringLiteral("好评")});
            if (HasFatalFailure())
                return;
        }
    }
    expectTallySameAsStatement(dm.adoCn, range(shop, "2026-01-01", "2026-12-31", QString()), ratingChoices());
    // The top 50 of sixty tied items keeps all sixty, in the statement's order, and leaves
    // the one sold once.
    RankRequest q;
    q.range = range(shop, "2026-04-10", "2026-04-12", QString());
    q.top = 50;
    const Result got = runRank(dm.adoCn, q);
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got.rowCount(), 60);
    const Rows all = described(dm.adoCn, rankSqlAllRows(q), q.range);
    ASSERT_EQ(all.rows.size(), 61u);
    EXPECT_EQ(cells(got.rows), cells(std::vector<QVariantList>(all.rows.begin(), all.rows.begin() + 60)));
}

TEST_F(KeyedAnalyses, AShopWhoseEveryRatingHasItsOwnPriceIsRankedFromItsRatings)
{
    // Too many tally rows a rating for the tally to pay: the ratings are read, the engine
    // keeping the top rows and a margin; 300 items sold once at 0.5 tie past that margin.
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    ASSERT_TRUE(dm.adoCn.exec("BEGIN"));
    for (int k = 0; k < 4500; ++k) {
        const QByteArray when =
            QDate(2026, 1, 1).addDays(k % 360).toString(Qt::ISODate).toLatin1() + " 10:00:00";
        const QByteArray item = (k < 300 ? "T" : "I") + QByteArray::number(k < 300 ? k : k % 40);
        ASSERT_TRUE(add(shop, k % 4 == 0 ? "中评" : "好评", k % 7 != 0, when.constData(), item.constData(),
                        k < 300 ? 0.5 : 1 + k * 0.01));
    }
    ASSERT_TRUE(dm.adoCn.exec("COMMIT"));
    struct Case
    {
        int top;
        bool byAmount;
        const char* pj;
        bool pastMargin; // ties run past the margin
    };
    for (const Case& c : {Case{5, false, "不限", true}, Case{10, true, "不限", false},
                          Case{3, true, "好评", false}, Case{1, false, "好评", true}}) {
        RankRequest q;
        q.range = range(shop, "2026-01-01", "2026-12-31", QString::fromUtf8(c.pj));
        q.top = c.top;
        q.byAmount = c.byAmount;
        SCOPED_TRACE(std::to_string(c.top) + (c.byAmount ? " amount " : " count ") + c.pj);
        const Result got = runRank(dm.adoCn, q);
        ASSERT_TRUE(got.ok()) << got.error.toStdString();
        const Rows all = described(dm.adoCn, rankSqlAllRows(q), q.range);
        size_t expected = c.top;
        while (expected < all.rows.size() &&
               number(all.rows[expected][0]) == number(all.rows[c.top - 1][0]) &&
               number(all.rows[expected][4]) == number(all.rows[c.top - 1][4]))
            ++expected;
        EXPECT_EQ(expected > static_cast<size_t>(c.top) + 64, c.pastMargin);
        ASSERT_EQ(got.rows.size(), expected);
        EXPECT_EQ(cells(got.rows),
                  cells(std::vector<QVariantList>(all.rows.begin(), all.rows.begin() + expected)));
    }
}

TEST_F(KeyedAnalyses, SumsOfPricesAreExactMoneyAndTiesOnAmountGoToTheHigherCount)
{
    // Per shop, the items' prices and how often each sold, the top item by amount and its
    // amount as shown.
    struct Sale
    {
        const char* item;
        QVariant price;
        int times;
    };
    struct Case
    {
        std::vector<Sale> sales;
        const char* top;
        const char* amount;
    } cases[] = {
        {{{"A", 1.0, 1}, {"B", 0.1, 10}}, "B", "1"},            // 0.9999999999999999 as doubles
        {{{"C", 3.3, 28}, {"D", 92.3, 1}}, "C", "92.4"},        // 92.3999999999999 as doubles
        {{{"E", 1.23456, 2}, {"F", 2.4692, 1}}, "E", "2.4692"}, // rounded to 1.2346 before adding
        {{{"G", -5, 2}, {"H", 0, 1}}, "H", "0"},
        {{{"I", QVariant(), 3}, {"J", 0.01, 1}}, "J", "0.01"}, // a sum of no price is NULL, last
    };
    int shopNumber = 0;
    for (const Case& k : cases) {
        const qlonglong shop =
            addShop("店", QStringLiteral("http://127.0.0.1:8631/shop/%1").arg(++shopNumber));
        SCOPED_TRACE(k.top);
        for (const Sale& sale : k.sales)
            for (int i = 0; i < sale.times; ++i)
                ASSERT_TRUE(add(shop, "好评", true, "2026-05-05 10:00:00", sale.item, sale.price));
        RankRequest q;
        q.range = range(shop, "2026-01-01", "2026-12-31", QString());
        q.byAmount = true;
        const Result got = runRank(dm.adoCn, q);
        ASSERT_TRUE(got.ok()) << got.error.toStdString();
        ASSERT_EQ(got.rowCount(), 1);
        EXPECT_EQ(got.rows[0][got.column("itemId")].toString().toStdString(), k.top);
        EXPECT_EQ(generalNumber(got.values[0]).toStdString(), k.amount);
        // And every analysis gives the statements' rows, their sums taken as money.
        expectSameAsStatements(dm.adoCn, q.range, nullptr, {QStringLiteral("不限")}, {TradeKind::Any});
    }
}

TEST_F(KeyedAnalyses, TheTallyFollowsEveryInsertDeleteAndUpdate)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addMonthEnds(shop, other);
    addHandBuilt(shop, other);
    expectTallyCountsTheRatings(dm.adoCn);
    // Moves between months, items, prices, shops and trade types, to and from NULL.
    for (const char* change :
         {"update pjinfo set pjsj='2026-07-07 07:07:07' where itemId='B'",
          "update pjinfo set jg=NULL where itemId='D' and pjsj<'2026-03-31'",
          "update pjinfo set itemId=NULL where itemId='G'",
          "update pjinfo set itemId='C', itemTitle='商品C' where itemId='E'",
          "update pjinfo set dian_id=2 where itemId='F'",
          "update pjinfo set buyerOrSaler=0, pj='差评' where itemId like 'T10%'",
          "update pjinfo set pjInfo='改' where itemId='A'", "delete from pjinfo where itemId like 'T11%'",
          "delete from pjinfo where pjsj is null or jg is null"}) {
        SCOPED_TRACE(change);
        ASSERT_TRUE(dm.adoCn.exec(QString::fromUtf8(change))) << dm.adoCn.error().toStdString();
        expectTallyCountsTheRatings(dm.adoCn);
    }
    expectTallySameAsStatement(dm.adoCn, range(shop, "2026-01-01", "2026-12-31", QString()), ratingChoices());
    // Nothing left, nothing counted: no rows of zero stay behind.
    ASSERT_TRUE(dm.adoCn.exec("delete from pjinfo"));
    const Rows left = described(dm.adoCn, "select count(*) from pjInfoTally", Range());
    ASSERT_EQ(left.rows.size(), 1u);
    EXPECT_EQ(left.rows[0][0].toLongLong(), 0);
}

TEST_F(KeyedAnalyses, ADeletedShopTakesItsCountsAlongAndLeavesTheOthers)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addMonthEnds(shop, other);
    addHandBuilt(shop, other);
    TTable& shops = *dm.tb_dianbase;
    ASSERT_TRUE(shops.Open()) << shops.lastError().toStdString();
    ASSERT_TRUE(shops.GotoBookmark(shop));
    QString error;
    ASSERT_TRUE(shopdelete::deleteCurrent(dm.adoCn, shops, &error)) << error.toStdString();
    expectTallyCountsTheRatings(dm.adoCn);
    const Rows left =
        described(dm.adoCn,
                  QStringLiteral("select (select count(*) from pjInfoTally where dian_id=%1)+(select "
                                 "count(*) from pjInfoHourTally where dian_id=%1), (select count(*) "
                                 "from pjInfoHourTally)")
                      .arg(shop),
                  Range());
    ASSERT_EQ(left.rows.size(), 1u);
    EXPECT_EQ(left.rows[0][0].toLongLong(), 0);
    EXPECT_GT(left.rows[0][1].toLongLong(), 0); // the other shop's
    // And the transaction's marker is gone with it: the next rating is counted.
    ASSERT_TRUE(add(other, "好评", true, "2026-08-08 08:08:08", "Z", 2));
    expectTallyCountsTheRatings(dm.adoCn);
}

TEST_F(KeyedAnalyses, AFileFromBeforeTheTallyGetsItOnceAtOpen)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addMonthEnds(shop, other);
    dm.adoCn.close();
    auto raw = [&](const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    };
    // As the program left files before: no tallies, and ratings written without them.
    raw("drop trigger pjInfo_tallies_insert; drop trigger pjInfo_tallies_delete; drop trigger "
        "pjInfo_tallies_update; "
        "drop table pjInfoTally; drop table pjInfoHourTally; "
        "insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
        "values(1,'好评',1,'2026-06-01 10:00:00','A','商品A',10.5)");
    QStringList notices;
    TConnection::setBuildNotice([&](const QString& text) { notices << text; });
    TConnection c;
    ASSERT_TRUE(c.open(path())) << c.error().toStdString();
    TConnection::setBuildNotice({});
    EXPECT_EQ(c.mended(), (QStringList{"table pjInfoTally", "index pjInfoTally_key", "table pjInfoHourTally",
                                       "trigger pjInfo_tallies_insert", "trigger pjInfo_tallies_delete",
                                       "trigger pjInfo_tallies_update"}));
    EXPECT_EQ(notices.join(u'\n').toStdString(), "adding index pjInfoTally_key to 160 ratings ...\n"
                                                 "adding table pjInfoHourTally to 160 ratings ...\n"
                                                 "adding trigger pjInfo_tallies_insert to 160 ratings ...");
    expectTallyCountsTheRatings(c);
    expectTallySameAsStatement(c, range(shop, "2026-01-01", "2026-12-31", QString()), ratingChoices());
    ASSERT_TRUE(c.open(path()));
    EXPECT_TRUE(c.mended().isEmpty());
    c.close();
    // A trigger missing for a while leaves counts behind; the open that restores it counts
    // the ratings again.
    raw("drop trigger pjInfo_tallies_insert; insert into "
        "pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
        "values(1,'好评',1,'2026-06-02 10:00:00','A','商品A',10.5)");
    ASSERT_TRUE(c.open(path()));
    EXPECT_EQ(c.mended(), QStringList{"trigger pjInfo_tallies_insert"});
    expectTallyCountsTheRatings(c);
    c.close();
    // A file whose ranking counts were kept by the earlier trigger of its own: that trigger
    // goes, or every rating would count twice.
    raw("drop trigger pjInfo_tallies_insert; create trigger pjInfoTally_insert after insert on pjInfo begin "
        "update pjInfoTally set n=n+1 where dian_id=new.dian_id; end");
    ASSERT_TRUE(c.open(path()));
    EXPECT_EQ(c.mended(), QStringList{"trigger pjInfo_tallies_insert"});
    ASSERT_TRUE(c.exec("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
                       "values(1,'好评',1,'2026-06-03 10:00:00','A','商品A',10.5)"));
    expectTallyCountsTheRatings(c);
    EXPECT_TRUE(
        described(c, "select name from sqlite_master where name='pjInfoTally_insert'", Range()).rows.empty());
    c.close();
    // A file whose hour tally summed the prices as doubles, under the triggers of that time:
    // they go, and the hours are summed again in money.
    raw("drop trigger pjInfo_tallies_insert; drop trigger pjInfo_tallies_delete; drop trigger "
        "pjInfo_tallies_update; drop table pjInfoHourTally; create table pjInfoHourTally (dian_id INTEGER "
        "NOT "
        "NULL, hourKey TEXT NOT NULL, buyerOrSaler INTEGER NOT NULL, pj TEXT NOT NULL, nulls INTEGER NOT "
        "NULL, "
        "n INTEGER NOT NULL, items INTEGER NOT NULL, priced INTEGER NOT NULL, amount REAL NOT NULL, PRIMARY "
        "KEY (dian_id, hourKey, buyerOrSaler, pj, nulls)) WITHOUT ROWID; create trigger pjInfo_tally_insert "
        "after insert on pjInfo begin select 1; end; create trigger pjInfo_tally_delete after delete on "
        "pjInfo begin select 1; end");
    ASSERT_TRUE(c.open(path()));
    EXPECT_EQ(c.mended(), (QStringList{"trigger pjInfo_tallies_insert", "trigger pjInfo_tallies_delete",
                                       "trigger pjInfo_tallies_update"}));
    ASSERT_TRUE(c.exec("delete from pjinfo where itemId='B'"));
    expectTallyCountsTheRatings(c);
    EXPECT_TRUE(described(c, "select name from sqlite_master where name like 'pjInfo_tally_%'", Range())
                    .rows.empty());
}

TEST_F(KeyedAnalyses, TheKeysIndexesCarryTheStatementsAndStayPlainSql)
{
    // What the analyses run reads their index, never a sort of the shop's ratings.
    auto plan = [&](const QString& sql) {
        TQuery q(&dm.adoCn, QStringLiteral("plan"));
        q.SetSQL(QStringLiteral("explain query plan ") + sql);
        q.SetParam("beginDate", "2026-01-01");
        q.SetParam("endDate", "2026-12-31");
        q.SetParam("dianId", 1);
        q.SetParam("spj", "好评");
        q.SetParam("beginFrom", "2025-12-31 23:00:00");
        q.SetParam("beginNext", "2026-01-01 01:00:00");
        q.SetParam("endFrom", "2026-12-30 23:00:00");
        q.SetParam("endNext", "2026-12-31 01:00:00");
        EXPECT_TRUE(q.Open()) << q.lastError().toStdString();
        QStringList out;
        for (int r = 0; r < q.RecordCount(); ++r)
            out << q.value(r, 3).toString();
        return out.join(u'\n');
    };
    for (bool rated : {false, true}) {
        for (bool seller : {false, true}) {
            // The end hours by their times, never a walk of the shop's ratings.
            const QString p = plan(keys::bucketSql(rated, seller, true));
            EXPECT_TRUE(p.contains("INDEX pjInfo_shop_when (dian_id=? AND pjsj>? AND pjsj<?)"))
                << p.toStdString();
            EXPECT_FALSE(p.contains("INDEX pjInfo_shop_itemkey")) << p.toStdString();
        }
    }
    RankRequest q;
    q.range.pj = "好评";
    const QString p = plan(keys::rankSql(q));
    EXPECT_TRUE(p.contains("COVERING INDEX pjInfo_shop_itemkey")) << p.toStdString();
    EXPECT_FALSE(p.contains("TEMP B-TREE FOR GROUP BY")) << p.toStdString();

    // A connection without the program's functions writes and checks the file: no key
    // depends on one of them.
    addShop("店一", "http://127.0.0.1:8631/shop/1");
    dm.adoCn.close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db,
                           "insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
                           "values(1,'好评',1,'2026-02-02 10:00:00','A','a',1.5)",
                           nullptr, nullptr, &error),
              SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(KeyedAnalyses, AFileFromBeforeTheKeysGetsThemAtOpenAndTheSameResults)
{
    const qlonglong shop = addShop("店一", "http://127.0.0.1:8631/shop/1");
    const qlonglong other = addShop("店二", "http://127.0.0.1:8631/shop/2");
    addHandBuilt(shop, other);
    dm.adoCn.close();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &db), SQLITE_OK);
        // With the wider keys of earlier files, which the open drops.
        ASSERT_EQ(sqlite3_exec(
                      db,
                      "DROP INDEX pjInfo_shop_when; DROP INDEX pjInfo_shop_itemkey; CREATE INDEX "
                      "pjInfo_shop_hourkey ON pjInfo(dian_id, substr(pjsj,1,13), buyerOrSaler, pj, jg, "
                      "itemId, pjsj); CREATE INDEX pjInfo_shop_time ON pjInfo(dian_id, pjsj, buyerOrSaler, "
                      "pj, jg, itemId)",
                      nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    QStringList notices;
    TConnection::setBuildNotice([&](const QString& text) { notices << text; });
    TConnection c;
    ASSERT_TRUE(c.open(path())) << c.error().toStdString();
    TConnection::setBuildNotice({});
    EXPECT_EQ(c.mended(), (QStringList{"index pjInfo_shop_when", "index pjInfo_shop_itemkey"}));
    EXPECT_EQ(notices, (QStringList{"adding index pjInfo_shop_when to 19 ratings ...",
                                    "adding index pjInfo_shop_itemkey to 19 ratings ..."}));
    expectSameAsStatements(c, range(shop, "2025-12-31", "2026-12-31", QString()));
    EXPECT_TRUE(
        described(c,
                  "select name from sqlite_master where name in ('pjInfo_shop_hourkey','pjInfo_shop_time')",
                  Range())
            .rows.empty());
    // Once: the next open finds nothing to add.
    ASSERT_TRUE(c.open(path()));
    EXPECT_TRUE(c.mended().isEmpty());
}

TEST_F(KeyedAnalyses, AMillionGeneratedRatingsGiveTheStatementsRows)
{
    // A large shop among smaller ones, written straight into the file, as the saver would
    // leave them; prices in quarters, so every sum is exact in any order of adding.
    const qlonglong shop = addShop("大店", "http://127.0.0.1:8631/shop/1");
    const qlonglong small = addShop("小店", "http://127.0.0.1:8631/shop/2");
    constexpr int kRatings = 1000000;
    sqlite3* db = dm.adoCn.handle();
    ASSERT_EQ(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
                                 "values(?,?,?,?,?,?,?)",
                                 -1, &st, nullptr),
              SQLITE_OK);
    QRandomGenerator random(19);
    const char* words[] = {"好评", "好评", "中评", "差评"};
    const QDateTime first(QDate(2025, 11, 1), QTime(0, 0));
    for (int i = 0; i < kRatings; ++i) {
        const qint64 second = random.bounded(static_cast<qint64>(430) * 86400);
        // Some at a whole day's midnight, where the range's ends cut.
        const QDateTime when = first.addSecs(i % 97 == 0 ? second / 86400 * 86400 : second);
        const QByteArray stamp = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
        const int item = static_cast<int>(random.bounded(300));
        const QByteArray itemId = QByteArray::number(1000 + item);
        const QByteArray title = QStringLiteral("商品%1").arg(item).toUtf8();
        sqlite3_bind_int64(st, 1, i % 3 == 0 ? small : shop);
        sqlite3_bind_text(st, 2, words[random.bounded(4)], -1, SQLITE_STATIC);
        sqlite3_bind_int(st, 3, random.bounded(10) == 0 ? 0 : 1);
        sqlite3_bind_text(st, 4, stamp.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, itemId.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 6, title.constData(), -1, SQLITE_TRANSIENT);
        if (i % 1000 == 7)
            sqlite3_bind_null(st, 7);
        else
            sqlite3_bind_double(st, 7, (item % 40) * 2.5 + random.bounded(4) * 0.25);
        ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    int rows = 0;
    // The whole year, and a range whose ends fall inside the data.
    // Each statement runs for a second or so here: the unrated and one rated choice, and the
    // ranking's sales and purchases.
    const QStringList pjs{QStringLiteral("不限"), QStringLiteral("中评")};
    expectSameAsStatements(dm.adoCn, range(shop, "2026-01-01", "2026-12-31", QString()), &rows, pjs,
                           {TradeKind::Any, TradeKind::Bought});
    expectSameAsStatements(dm.adoCn, range(shop, "2025-12-15", "2026-02-01", QString()), &rows,
                           {QStringLiteral("不限")}, {TradeKind::Any});
    EXPECT_GT(rows, 5000);
}

} // namespace
