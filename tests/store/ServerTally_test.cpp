// The analyses' tallies on a server: kept by the triggers through inserts, deletes and
// updates exactly as a count from scratch gives them, counted at open for a database
// without them, and written by a saver and a delete of the same shop at once without a
// deadlock.
#include "ServerDatabase.h"
#include "store/TConnection.h"
#include "store/TStatement.h"

#include <QThread>
#include <atomic>
#include <thread>

namespace {

bool run(TConnection& c, const QString& sql)
{
    const bool ok = c.exec(sql);
    EXPECT_TRUE(ok) << sql.toStdString() << ": " << c.error().toStdString();
    return ok;
}

QStringList rows(TConnection& c, const QString& sql)
{
    TStatement s;
    QStringList out;
    if (!s.prepare(c, sql)) {
        ADD_FAILURE() << sql.toStdString() << ": " << s.error().toStdString();
        return out;
    }
    while (s.step()) {
        QStringList fields;
        for (int i = 0; i < s.columnCount(); ++i)
            fields << (s.column(i).isNull() ? QStringLiteral("NULL") : s.column(i).toString());
        out << fields.join(u'|');
    }
    EXPECT_TRUE(s.error().isEmpty()) << s.error().toStdString();
    return out;
}

// Every count that is not 0, in key order.
QStringList tallies(TConnection& c)
{
    return rows(c, "SELECT dian_id, buyerOrSaler, pj, itemTitle, itemId, jg, month, nulls, n FROM "
                   "pjInfoRankTally WHERE n <> 0 ORDER BY dian_id, buyerOrSaler, pj, itemTitle, itemId, jg, "
                   "month, nulls") +
           rows(c, "SELECT dian_id, hourKey, buyerOrSaler, pj, nulls, n, items, priced, units FROM "
                   "pjInfoHourTally WHERE n <> 0 ORDER BY dian_id, hourKey, buyerOrSaler, pj, nulls");
}

const char kRatings[] = "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
                        "(1, '好评', true, '2026-03-01 10:15:00', 0.1, 'i1', '茶'), "
                        "(1, '好评', true, '2026-03-01 10:59:59', 0.2, 'i1', '茶'), "
                        "(1, '好评', true, '2026-03-01 10:20:00', 0.1, 'i1', '茶'), "
                        "(1, NULL, true, '2026-03-01 11:00:00', NULL, NULL, NULL), "
                        "(1, '中评', NULL, '2026-04-30 23:59:59', 5, 'i2', '杯'), "
                        "(1, '好评', false, '2026-04-01 00:00:00', 12.5, 'i2', NULL), "
                        "(1, '好评', true, NULL, 3, 'i3', '壶'), "
                        "(NULL, '好评', true, '2026-03-01 10:00:00', 3, 'i3', '壶'), "
                        "(2, '坏评', true, '2026-03-01 10:30:00', 7, 'i1', '茶'), "
                        "(2, '好评', true, '2026-12-31 00:00:00', 8, 'i9', '盘')";

TEST(ServerTally, TriggersKeepWhatACountFromScratchGivesAndAnOldDatabaseIsCountedAtOpen)
{
    SERVER_DATABASE(url);
    TConnection c;
    ASSERT_TRUE(c.open(url)) << c.error().toStdString();
    ASSERT_TRUE(run(c, kRatings));
    ASSERT_TRUE(run(c, "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
                       "(3, '好评', true, '2026-05-05 05:05:05', 1, 'i1', '茶')"));
    // Taking a price away takes it off the hour's sum, and its counts come down.
    ASSERT_TRUE(run(c, "delete from pjInfo where dian_id = 1 and pjsj = '2026-03-01 10:20:00'"));
    EXPECT_EQ(rows(c, "SELECT n, items, priced, units FROM pjInfoHourTally WHERE "
                      "dian_id = 1 AND hourKey = '2026-03-01 10' AND pj = '好评'"),
              QStringList{"2|2|2|3000"});
    // Keys changed by updates: into NULLs, another hour and month, another shop.
    ASSERT_TRUE(run(c, "update pjInfo set jg = NULL, itemTitle = NULL where dian_id = 1 and pjsj = "
                       "'2026-03-01 10:15:00'"));
    ASSERT_TRUE(
        run(c, "update pjInfo set pjsj = '2026-05-01 08:00:00', pj = NULL where dian_id = 1 and jg = 5"));
    ASSERT_TRUE(run(c, "update pjInfo set dian_id = 2 where itemId = 'i2' and jg = 12.5"));
    ASSERT_TRUE(run(c, "update pjInfo set pjinfo = 'no key of the tallies'"));
    // A whole shop goes: its counts go with it.
    ASSERT_TRUE(run(c, "delete from pjInfo where dian_id = 3"));
    EXPECT_TRUE(rows(c, "SELECT n FROM pjInfoRankTally WHERE dian_id = 3 UNION ALL SELECT n FROM "
                        "pjInfoHourTally WHERE dian_id = 3")
                    .isEmpty());

    const QStringList kept = tallies(c);
    // Six ratings of the ranking (one without a trade type is not), seven in six hours.
    EXPECT_EQ(kept.size(), 12) << kept.join(u'\n').toStdString();

    // A database from before the tallies: counted when it is opened.
    ASSERT_TRUE(run(c, "DROP TABLE pjInfoRankTally"));
    ASSERT_TRUE(run(c, "DROP TABLE pjInfoHourTally"));
    ASSERT_TRUE(run(c, "DROP TRIGGER pjInfo_tally_insert ON pjInfo"));
    c.close();
    TConnection again;
    ASSERT_TRUE(again.open(url)) << again.error().toStdString();
    EXPECT_TRUE(again.mended().contains(QStringLiteral("table pjInfoRankTally")))
        << again.mended().join(u',').toStdString();
    EXPECT_EQ(tallies(again), kept);
    // One whose hour tally summed the prices as doubles: summed again in money.
    ASSERT_TRUE(run(again, "ALTER TABLE pjInfoHourTally DROP COLUMN units; ALTER TABLE pjInfoHourTally ADD "
                           "COLUMN amount DOUBLE PRECISION NOT NULL DEFAULT 0.30000000000000004"));
    again.close();
    ASSERT_TRUE(again.open(url)) << again.error().toStdString();
    EXPECT_EQ(again.mended(), QStringList{"column pjInfoHourTally.units"});
    EXPECT_EQ(tallies(again), kept);

    // Ratings stored while a trigger was missing are counted again when it is put back.
    ASSERT_TRUE(run(again, "DROP TRIGGER pjInfo_tally_insert ON pjInfo"));
    ASSERT_TRUE(run(again,
                    "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
                    "(2, '好评', true, '2026-07-07 07:07:07', 2, 'i1', '茶')"));
    again.close();
    TConnection third;
    ASSERT_TRUE(third.open(url)) << third.error().toStdString();
    const QStringList recounted = tallies(third);
    EXPECT_EQ(recounted.size(), kept.size() + 2);
    EXPECT_TRUE(recounted.contains(QStringLiteral("2|2026-07-07 07|1|好评|0|1|1|1|20000")))
        << recounted.join(u'\n').toStdString();

    // A column put back after it was lost: the tallies no longer count its old values.
    ASSERT_TRUE(run(third, "ALTER TABLE pjInfo DROP COLUMN jg CASCADE"));
    third.close();
    TConnection fourth;
    ASSERT_TRUE(fourth.open(url)) << fourth.error().toStdString();
    EXPECT_EQ(rows(fourth, "SELECT sum(priced), sum(units) FROM pjInfoHourTally"), QStringList{"0|0"});
    EXPECT_EQ(rows(fourth, "SELECT count(*) FROM pjInfoRankTally WHERE n <> 0 AND (nulls & 4) = 0"),
              QStringList{"0"});
}

// Waits until the other program is done or waits for a lock.
bool doneOrWaiting(TConnection& c, const std::atomic<bool>& done)
{
    for (int i = 0; i < 400; ++i) {
        if (done || !rows(c, "SELECT 1 FROM pg_stat_activity WHERE datname = current_database() AND "
                             "wait_event_type = 'Lock'")
                         .isEmpty())
            return true;
        QThread::msleep(25);
    }
    return false;
}

TEST(ServerTally, ASaverAndADeleteOfTheSameShopBothFinish)
{
    SERVER_DATABASE(url);
    TConnection saver, watcher;
    ASSERT_TRUE(saver.open(url)) << saver.error().toStdString();
    ASSERT_TRUE(watcher.open(url)) << watcher.error().toStdString();
    const QString insert =
        "insert into pjInfo(dian_id, pj, buyerOrSaler, pjsj, jg, itemId, itemTitle) values "
        "(1, '好评', true, '2026-02-0%1 09:00:00', %1, 'i%1', '碗')";
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(run(saver, insert.arg(i)));
    // The saver holds the counts of one item while the delete comes for all of them; then it
    // wants another item's counts.
    ASSERT_TRUE(saver.beginTransaction());
    ASSERT_TRUE(run(saver, insert.arg(4)));
    std::atomic<bool> deleted{false}, done{false};
    QString deleteError;
    std::thread other([&] {
        TConnection c;
        if (!c.open(url))
            deleteError = c.error();
        else if (!(deleted = c.exec("delete from pjInfo where dian_id = 1")))
            deleteError = c.error();
        done = true;
    });
    const bool waited = doneOrWaiting(watcher, done);
    const bool second = saver.exec(insert.arg(1));
    const QString saverError = saver.error();
    const bool committed = second && saver.commit();
    other.join();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(second) << saverError.toStdString();
    EXPECT_TRUE(committed) << saver.error().toStdString();
    EXPECT_TRUE(deleted) << deleteError.toStdString();
    // The delete took the ratings it saw; the saver's stay, counted once.
    EXPECT_EQ(rows(watcher, "SELECT itemId FROM pjInfo ORDER BY itemId"), QStringList({"i1", "i4"}));
    EXPECT_EQ(rows(watcher, "SELECT itemId, n FROM pjInfoRankTally WHERE n <> 0 ORDER BY itemId"),
              QStringList({"i1|1", "i4|1"}));
    EXPECT_EQ(rows(watcher, "SELECT hourKey, n FROM pjInfoHourTally WHERE n <> 0 ORDER BY hourKey"),
              QStringList({"2026-02-01 09|1", "2026-02-04 09|1"}));
}

} // namespace
