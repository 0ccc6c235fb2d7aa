// Several rating pages in flight at once: the same rows as one page at a time, never more
// requests than allowed, and backing off when the marketplace pushes back.
#include "MarketFixture.h"
#include "mining/THostGate.h"

#include <algorithm>

namespace {

// "<ms> <in flight> GET ..." of a market started with --log-times.
qint64 loggedTime(const QByteArray& line)
{
    return line.split(' ').value(0).toLongLong();
}

int loggedInFlight(const QByteArray& line)
{
    return line.split(' ').value(1).toInt();
}

class ParallelMining : public MarketFixture
{
protected:
    // Every stored rating field in id order, the id itself included.
    static QStringList ratingRows(TDM& db)
    {
        QStringList out;
        TQuery* q = db.ADOQuery1;
        q->SetSQL(
            "select id, dian_id, pj, buyerOrSaler, pjsj, trade_id, itemid, itemtitle, pjName, jg, pjinfo, "
            "pjjs, itemId_pjsj from pjinfo order by id");
        EXPECT_TRUE(q->Open()) << q->lastError().toStdString();
        for (int r = 0; r < q->RecordCount(); ++r) {
            QStringList f;
            for (int c = 0; c < 13; ++c)
                f << q->value(r, c).toString();
            out << f.join('|');
        }
        q->Close();
        return out;
    }
};

TEST(HostGate, HalvesOnTroubleGrowsAfterCleanPagesAndHoldsForRetryAfter)
{
    THostGate g;
    g.reset(8, 0);
    EXPECT_EQ(g.inForce(), 8);
    EXPECT_EQ(g.waitBefore(7, 0), 0);
    EXPECT_EQ(g.waitBefore(8, 0), -1) << "the cap is never passed";
    for (int expected : {4, 2, 1, 1}) {
        g.troubled(0, 0);
        EXPECT_EQ(g.inForce(), expected);
    }
    EXPECT_EQ(g.waitBefore(1, 0), -1);
    for (int i = 1; i < THostGate::kCleanPagesToGrow; ++i)
        g.succeeded();
    EXPECT_EQ(g.inForce(), 1) << "one page short of a clean run";
    g.succeeded();
    EXPECT_EQ(g.inForce(), 2);
    // Trouble starts the count again.
    for (int i = 1; i < THostGate::kCleanPagesToGrow; ++i)
        g.succeeded();
    g.troubled(100, 0);
    for (int i = 1; i < THostGate::kCleanPagesToGrow; ++i)
        g.succeeded();
    EXPECT_EQ(g.inForce(), 1);
    for (int i = 0; i < 20 * THostGate::kCleanPagesToGrow; ++i)
        g.succeeded();
    EXPECT_EQ(g.inForce(), 8) << "grown back to the cap, not beyond";

    // A Retry-After holds every new request, not only the retried one.
    g.troubled(1000, 3000);
    EXPECT_EQ(g.waitBefore(0, 1000), 3000);
    EXPECT_EQ(g.waitBefore(0, 3999), 1);
    EXPECT_EQ(g.waitBefore(0, 4000), 0);
    g.troubled(4000, 0);
    EXPECT_EQ(g.waitBefore(0, 4000), 0) << "a failure without Retry-After holds nothing";

    // The page pause counts between starts, and one at a time from the last end as well.
    g.reset(2, 250);
    EXPECT_EQ(g.waitBefore(0, 0), 0);
    g.started(0);
    EXPECT_EQ(g.waitBefore(1, 100), 150);
    g.reset(1, 250);
    g.started(0);
    g.ended(400);
    EXPECT_EQ(g.waitBefore(0, 400), 250);
}

TEST_F(ParallelMining, EightConnectionsStoreExactlyTheRowsOfOne)
{
    startMarket({"--shops", "4", "--ratings", "700", "--seed", "31", "--latency", "5"});
    const QList<TMiningRun::Row> rows = rowsFor({0, 1, 2, 3});
    setNet(3, 10, 0, 1);
    {
        TMiningRun run(dm);
        ASSERT_TRUE(mine(run, rows, 1, 600));
        EXPECT_EQ(run.mostInFlight(), 1);
    }
    const QStringList one = ratingRows(dm);
    ASSERT_EQ(one.size(), 4 * 600);

    TDM other;
    ASSERT_TRUE(other.DataModuleCreate(m_dir.filePath("other.mdb")));
    setNet(3, 10, 0, 8);
    TMiningRun run(other);
    ASSERT_TRUE(mine(run, rows, 1, 600));
    EXPECT_GT(run.mostInFlight(), 1);
    EXPECT_LE(run.mostInFlight(), 8);
    EXPECT_EQ(ratingRows(other), one);
    // The profile figures as well.
    TQuery* a = dm.ADOQuery1;
    TQuery* b = other.ADOQuery1;
    const QString shops = "select * from dianbase order by id";
    a->SetSQL(shops);
    b->SetSQL(shops);
    ASSERT_TRUE(a->Open());
    ASSERT_TRUE(b->Open());
    ASSERT_EQ(a->RecordCount(), b->RecordCount());
    const int updateDate = a->FieldIndex("updateDate");
    for (int r = 0; r < a->RecordCount(); ++r) {
        for (int c = 0; c < a->FieldNames().size(); ++c) {
            if (c == updateDate)
                continue;
            EXPECT_EQ(a->value(r, c), b->value(r, c)) << "row " << r << " column " << c;
        }
    }
}

TEST_F(ParallelMining, TheMarketNeverSeesMoreRequestsInFlightThanTheCap)
{
    startMarket({"--shops", "2", "--ratings", "1000", "--seed", "32", "--latency", "30", "--log-times",
                 "--log", m_dir.filePath("requests.log")});
    setNet(3, 10, 0, 3);
    TMiningRun run(dm);
    ASSERT_TRUE(mine(run, rowsFor({0, 1})));
    EXPECT_EQ(count("select count(*) from pjinfo"), 2000);
    int most = 0;
    for (const QByteArray& line : requests())
        most = std::max(most, loggedInFlight(line));
    EXPECT_LE(most, 3);
    EXPECT_EQ(most, run.mostInFlight()) << "what the run counted is what the market saw";
}

TEST_F(ParallelMining, AThrottledHostGetsNoNewRequestUntilItsRetryAfterEnds)
{
    startMarket({"--shops", "2", "--ratings", "600", "--seed", "33", "--latency", "10", "--fail-every", "10",
                 "--fail-mode", "throttle", "--retry-after", "1", "--log-times", "--log",
                 m_dir.filePath("requests.log")});
    setNet(3, 10, 0, 4);
    TMiningRun run(dm);
    QList<int> connections;
    QObject::connect(&run, &TMiningRun::connectionsChanged, &run, [&](int n) { connections << n; });
    ASSERT_TRUE(mine(run, rowsFor({0, 1})));
    EXPECT_EQ(count("select count(*) from pjinfo"), 1200) << "every rating despite the throttling";
    expectShopStored(0);
    expectShopStored(1);
    ASSERT_GT(run.retries(), 0);
    ASSERT_FALSE(connections.isEmpty());
    EXPECT_LT(*std::min_element(connections.begin(), connections.end()), 4) << "backed off";
    // Each throttled answer held the whole host for a second: as many silent seconds in the
    // log as there were retries (no two throttled pages were in flight together).
    const QList<QByteArray> asked = requests();
    int silences = 0;
    for (qsizetype i = 1; i < asked.size(); ++i)
        if (loggedTime(asked[i]) - loggedTime(asked[i - 1]) >= 990)
            ++silences;
    EXPECT_EQ(silences, run.retries());
    for (const QByteArray& line : asked)
        EXPECT_LE(loggedInFlight(line), 4);
}

} // namespace
