// The analyses' statements, labels and rules against a database built for each case.
#include "analysis/AnalysisRun.h"
#include "analysis/TAnalysisThread.h"
#include "extract/QtTestApp.h"
#include "store/StoreFixture.h"

#include <QSet>
#include <QSignalSpy>
#include <QThread>

using namespace analysis;

namespace {

class Analyses : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        shop = addShop("掌柜一", "http://127.0.0.1:8631/shop/1");
        other = addShop("掌柜二", "http://127.0.0.1:8631/shop/2");
    }

    Range range(const QString& from, const QString& to, const QString& pj = QStringLiteral("不限")) const
    {
        Range r;
        r.shop = shop;
        r.begin = QDate::fromString(from, Qt::ISODate);
        r.end = QDate::fromString(to, Qt::ISODate);
        r.pj = pj;
        return r;
    }

    RankRequest rank(int top, bool byAmount, const Range& r) const
    {
        RankRequest q;
        q.range = r;
        q.top = top;
        q.byAmount = byAmount;
        return q;
    }

    static QStringList joined(const Result& r)
    {
        QStringList out;
        for (int i = 0; i < r.rowCount(); ++i) {
            QStringList cells;
            for (const QVariant& v : r.rows[i])
                cells << v.toString();
            out << cells.join(u'|') + u'=' + r.labels.value(i);
        }
        return out;
    }

    qlonglong shop = 0;
    qlonglong other = 0;
};

TEST_F(Analyses, RankingTextsAreTheWindowsOwn)
{
    RankRequest q = rank(5, false, range("2026-01-01", "2026-12-31"));
    EXPECT_EQ(rankSql(q),
              "select top 5 sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from "
              "pjinfo where buyerOrSaler=true and pjsj>:beginDate and pjsj<=:endDate and "
              "dian_id=:dianId  group by itemtitle,itemid,dian_id,jg order by count(itemId) desc,"
              "sum(jg)");
    q.byAmount = true;
    q.range.pj = "好评";
    q.kind = TradeKind::Sold;
    EXPECT_EQ(rankSql(q),
              "select top 5 sum(jg) as amount,itemTitle,itemid,jg,count(itemId) as num,dian_id from "
              "pjinfo where pjsj>=:beginDate and pjsj<=:endDate and pj=:spj and dian_id=:dianId  and "
              "buyerOrsaler =true  group by itemtitle,itemid,dian_id,jg order by sum(jg) desc,"
              "count(itemId) desc");
}

TEST_F(Analyses, RankingBoundsTiesPricesAndTradeTypes)
{
    addRating(shop, "好评", "True", "2026-03-01 00:00:00", "A", "10"); // on the begin date, 00:00:00
    addRating(shop, "好评", "True", "2026-03-02 08:00:00", "A", "10");
    addRating(shop, "中评", "True", "2026-03-05 00:00:00", "A", "12"); // A at a second price; end date
    addRating(shop, "好评", "True", "2026-03-05 00:00:01", "B", "99"); // just after the end date
    addRating(shop, "好评", "True", "2026-03-03 09:00:00", "C", "5");
    addRating(shop, "好评", "True", "2026-03-03 10:00:00", "D", "5");
    addRating(shop, "好评", "0", "2026-03-03 11:00:00", "E", "7"); // bought by the shop
    addRating(other, "好评", "True", "2026-03-03 11:00:00", "A", "10");

    // Without a rating the begin date's 00:00:00 is out; the end date's 00:00:00 is in.
    Result r = runRank(dm.adoCn, rank(5, false, range("2026-03-01", "2026-03-05")));
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    // A at two prices gives two rows; C and D tie on count and sum, in no fixed order.
    QStringList rows = joined(r);
    ASSERT_EQ(rows.size(), 4);
    const QSet<QString> tied{rows[0].section(u'=', 0, 0), rows[1].section(u'=', 0, 0)};
    EXPECT_EQ(tied, (QSet<QString>{"5|商品C|C|5|1|1", "5|商品D|D|5|1|1"}));
    EXPECT_TRUE(rows[0].endsWith("=第1名") && rows[1].endsWith("=第2名"));
    EXPECT_EQ(rows.mid(2), (QStringList{"10|商品A|A|10|1|1=第3名", "12|商品A|A|12|1|1=第4名"}));
    EXPECT_EQ(r.values, (QList<double>{1, 1, 1, 1}));
    // Rows tied with the N-th on both sort keys come too, numbered on.
    r = runRank(dm.adoCn, rank(1, false, range("2026-03-01", "2026-03-05")));
    EXPECT_EQ(r.labels, (QStringList{"第1名", "第2名"}));
    EXPECT_EQ(r.sql.left(13), "select top 1 ");
    EXPECT_EQ(runRank(dm.adoCn, rank(3, false, range("2026-03-01", "2026-03-05"))).rowCount(), 3);

    // With a rating the begin date's 00:00:00 counts; amounts are price times count.
    r = runRank(dm.adoCn, rank(1, true, range("2026-03-01", "2026-03-05", "好评")));
    EXPECT_EQ(joined(r), QStringList{"20|商品A|A|10|2|1=第1名"});
    EXPECT_EQ(r.values, QList<double>{20});

    // "买" ranks the shop's purchases; "卖" the same as no choice.
    RankRequest bought = rank(5, false, range("2026-03-01", "2026-03-05"));
    bought.kind = TradeKind::Bought;
    EXPECT_EQ(joined(runRank(dm.adoCn, bought)), QStringList{"7|商品E|E|7|1|1=第1名"});
    RankRequest sold = rank(5, false, range("2026-03-01", "2026-03-05"));
    sold.kind = TradeKind::Sold;
    EXPECT_EQ(joined(runRank(dm.adoCn, sold)), joined(runRank(dm.adoCn, rank(5, false, sold.range))));

    // A begin date after the end date, and a shop without trades: nothing, no error.
    r = runRank(dm.adoCn, rank(5, false, range("2026-04-01", "2026-03-01")));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.rowCount(), 0);
}

TEST_F(Analyses, TrendWeeksAcrossTheNewYearAndPeaks)
{
    // 2025-12-31 is a Wednesday: week 53 of 2025; 2026-01-01 to 01-03 are week 1 of 2026.
    addRating(shop, "好评", "True", "2025-12-30 10:00:00", "A", "10");
    addRating(shop, "好评", "True", "2025-12-31 10:00:00", "A", "10");
    addRating(shop, "好评", "True", "2026-01-02 10:00:00", "B", "30");
    addRating(shop, "差评", "True", "2026-01-12 10:00:00", "B", "1234.5");
    addRating(shop, "好评", "0", "2026-01-12 11:00:00", "Z", "5000"); // a purchase: not a sale
    Result r = runTrend(dm.adoCn, range("2025-12-01", "2026-01-31"), TrendPeriod::Week);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.labels, (QStringList{"1周", "3周", "53周"}));
    EXPECT_EQ(r.counts, (QList<double>{1, 1, 2}));
    EXPECT_EQ(r.values, (QList<double>{30, 1234.5, 20}));
    EXPECT_EQ(r.amountPeak, 1234.5);
    EXPECT_EQ(r.countPeak, 2);
    EXPECT_EQ(r.sql, trendSql(TrendPeriod::Week, false).series);

    r = runTrend(dm.adoCn, range("2025-12-01", "2026-01-31"), TrendPeriod::Year);
    EXPECT_EQ(r.labels, (QStringList{"2025", "2026"}));
    r = runTrend(dm.adoCn, range("2025-12-01", "2026-01-31"), TrendPeriod::Quarter);
    EXPECT_EQ(r.labels, (QStringList{"1季", "4季"}));
    r = runTrend(dm.adoCn, range("2026-01-02", "2026-01-02"), TrendPeriod::Day, {});
    EXPECT_FALSE(r.complete) << "the end date's 00:00:00 only";

    // One day: one point.
    r = runTrend(dm.adoCn, range("2026-01-12", "2026-01-13", "坏评"), TrendPeriod::Day);
    EXPECT_EQ(r.labels, QStringList{"2026-01-12"});
}

TEST_F(Analyses, TrendEndsEarlyWithoutSalesOrWithZeroPrices)
{
    QList<int> steps;
    Result r =
        runTrend(dm.adoCn, range("2026-01-01", "2026-12-31"), TrendPeriod::Day, [&](int p) { steps << p; });
    EXPECT_TRUE(r.ok());
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(r.labels.isEmpty());
    EXPECT_TRUE(steps.isEmpty());
    addRating(shop, "好评", "True", "2026-02-02 10:00:00", "A", "0");
    r = runTrend(dm.adoCn, range("2026-01-01", "2026-12-31"), TrendPeriod::Day);
    EXPECT_FALSE(r.complete) << "records exist but all at price 0";
    EXPECT_EQ(r.rowCount(), 1) << "the peak query's row stays for the table";
    addRating(shop, "好评", "True", "2026-02-03 10:00:00", "A", "3");
    r = runTrend(dm.adoCn, range("2026-01-01", "2026-12-31"), TrendPeriod::Day, [&](int p) { steps << p; });
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(steps, (QList<int>{10, 20}));
}

TEST(TrendMargins, TheChartWithFewerDigitsGetsTheDifference)
{
    EXPECT_EQ(trendMargins(1234.5, 40).countChart, 3);
    EXPECT_EQ(trendMargins(1234.5, 40).amountChart, 1);
    EXPECT_EQ(trendMargins(8, 12).amountChart, 2);
    EXPECT_EQ(trendMargins(8, 12).countChart, 1);
    EXPECT_EQ(trendMargins(0, 0).amountChart, 1);
    EXPECT_EQ(trendMargins(0.5, 1).amountChart, 1);
}

TEST_F(Analyses, DistributionCountsPurchasesToo)
{
    addRating(shop, "好评", "True", "2026-03-01 13:10:00", "A", "10");
    addRating(shop, "好评", "0", "2026-03-02 13:50:00", "B", "30"); // bought by the shop
    addRating(shop, "中评", "True", "2027-03-09 08:00:00", "C", "60");
    addRating(other, "好评", "True", "2026-03-01 13:10:00", "A", "500");
    Result r = runDist(dm.adoCn, range("2026-01-01", "2027-12-31"), DistPeriod::Hour);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(joined(r), (QStringList{"1|60|1|8=8点", "1|40|2|13=13点"}));
    r = runDist(dm.adoCn, range("2026-01-01", "2027-12-31"), DistPeriod::Month);
    EXPECT_EQ(r.labels, (QStringList{"2026-03月", "2027-03月"}));
    r = runDist(dm.adoCn, range("2026-01-01", "2027-12-31"), DistPeriod::Quarter);
    EXPECT_EQ(r.labels, QStringList{"1季"});
    EXPECT_EQ(r.values, QList<double>{100});
    r = runDist(dm.adoCn, range("2026-01-01", "2027-12-31", "中评"), DistPeriod::Quarter);
    EXPECT_EQ(r.values, QList<double>{60});
}

TEST_F(Analyses, RankDetailReadsEveryRatingOfTheRankedItems)
{
    addRating(shop, "好评", "True", "2026-03-01 10:00:00", "A", "10");
    addRating(shop, "坏评", "0", "2019-01-01 10:00:00", "A", "3");      // any date, rating and trade type
    addRating(shop, "好评", "True", "2026-03-01 11:00:00", "AB", "10"); // a longer id, same start
    addRating(shop, "好评", "True", "2026-03-01 12:00:00", "B", "10");
    addRating(other, "好评", "True", "2026-03-01 10:00:00", "A", "10"); // another shop
    addRating(shop, "中评", "True", "2026-03-02 10:00:00", "A", "10");
    Result r = runRankDetail(dm.adoCn, shop, {"A", "B", "gone", "商品'\"x"});
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.itemRatings.size(), 4);
    ASSERT_EQ(r.itemRatings.value("A").size(), 3u);
    EXPECT_EQ(r.itemRatings.value("B").size(), 1u);
    EXPECT_TRUE(r.itemRatings.value("gone").empty());
    EXPECT_FALSE(r.itemRatings.contains("AB"));
    // The same rows, in the same order, as the detail table reads for itself.
    ASSERT_TRUE(dm.pj_fx1->Open()); // stands on the shop's first rating, item A
    ASSERT_TRUE(dm.pj_fx1_detail->Open());
    std::vector<qlonglong> own;
    for (int i = 1; i <= dm.pj_fx1_detail->RecordCount(); ++i) {
        dm.pj_fx1_detail->MoveTo(i);
        own.push_back(dm.pj_fx1_detail->FieldByName("id").asInteger());
    }
    EXPECT_EQ(r.itemRatings.value("A"), own);

    dm.adoCn.close();
    EXPECT_FALSE(runRankDetail(dm.adoCn, shop, {"A"}).ok());
}

TEST(Labels, SlicesRanksAndPeriods)
{
    EXPECT_EQ(sliceMark("13点", 1, 8), "13点 12.5%");
    EXPECT_EQ(sliceMark("1季", 1, 3), "1季 33.33%");
    EXPECT_EQ(sliceMark("1季", 5, 5), "1季 100%");
    EXPECT_EQ(sliceMark("1季", 0, 0), "1季 0%"); // nothing sold: no division by zero
    EXPECT_EQ(rankLabel(6), "第6名");
    EXPECT_EQ(trendLabel(TrendPeriod::Week, 12), "12周");
    EXPECT_EQ(trendLabel(TrendPeriod::Day, "2009-03-18"), "2009-03-18");
    EXPECT_EQ(distLabel(DistPeriod::Hour, 0), "0点");
    EXPECT_EQ(distLabel(DistPeriod::Quarter, "2"), "2季");
    EXPECT_EQ(distTitle(DistPeriod::Month), "12月分布");
    EXPECT_EQ(generalNumber(12.5), "12.5");
    EXPECT_EQ(generalNumber(12), "12");
}

TEST(CrossHairIndex, NearestPointAndTheEdges)
{
    EXPECT_EQ(pointIndex(0.49), -1);
    EXPECT_EQ(pointIndex(0.5), 0);
    EXPECT_EQ(pointIndex(1.49), 0);
    EXPECT_EQ(pointIndex(1.5), 1);
    EXPECT_EQ(pointIndex(3.49), 2); // last of three
    EXPECT_EQ(pointIndex(3.5), 3);  // N: beyond the last point
}

TEST_F(Analyses, RunsOffTheCallingThreadOneAtATime)
{
    ensureCoreApp();
    addRating(shop, "好评", "True", "2026-03-01 13:10:00", "A", "10");
    TAnalysisThread thread(path());
    QSignalSpy finished(&thread, &TAnalysisThread::finished);
    Qt::HANDLE ranOn = nullptr;
    const Range r = range("2026-01-01", "2026-12-31");
    ASSERT_TRUE(thread.start([&, r](TConnection& c, const Progress&) {
        ranOn = QThread::currentThreadId();
        return runDist(c, r, DistPeriod::Hour);
    }));
    EXPECT_TRUE(thread.busy());
    EXPECT_FALSE(thread.start([](TConnection&, const Progress&) { return Result{}; }));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_NE(ranOn, QThread::currentThreadId());
    EXPECT_FALSE(thread.busy());
    EXPECT_EQ(finished.first().first().value<Result>().labels, QStringList{"13点"});

    // An engine error comes back as a value; the next run goes through.
    dm.adoCn.exec("ALTER TABLE pjInfo RENAME TO pjGone");
    ASSERT_TRUE(
        thread.start([r](TConnection& c, const Progress&) { return runDist(c, r, DistPeriod::Hour); }));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.last().first().value<Result>().error.contains("pjinfo", Qt::CaseInsensitive));
    dm.adoCn.exec("ALTER TABLE pjGone RENAME TO pjInfo");
    ASSERT_TRUE(
        thread.start([r](TConnection& c, const Progress&) { return runDist(c, r, DistPeriod::Hour); }));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.last().first().value<Result>().ok());
}

} // namespace
