// Mining runs recorded in the database: killed, listed, resumed with their unfinished shops
// only, refused while another program holds them.
#include "MarketFixture.h"
#include "store/RunRecords.h"

#include <QDir>
#include <QProcess>
#include <QThread>
#include <csignal>

namespace {

class RunRecords : public MarketFixture
{
protected:
    QString cli() const { return QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"); }

    struct Result
    {
        int exit = -1;
        QByteArray out, err;
    };
    Result run(const QStringList& args, int ms = 120000)
    {
        QProcess p;
        p.start(cli(), QStringList{"--data-dir", m_dir.path()} + args);
        Result r;
        if (!p.waitForFinished(ms))
            return r;
        r.exit = p.exitCode();
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QList<QJsonObject> runs()
    {
        QList<QJsonObject> out;
        const Result r = run({"runs"});
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty())
                out << QJsonDocument::fromJson(line).object();
        return out;
    }
};

TEST_F(RunRecords, AKilledRunIsResumedWithItsUnfinishedShopsOnly)
{
    startMarket({"--shops", "5", "--ratings", "800", "--seed", "41", "--latency", "5", "--log",
                 m_dir.filePath("requests.log")});
    QStringList addresses;
    for (int i = 0; i < 5; ++i)
        addresses << shop(i)["address"].toString();
    QProcess miner;
    miner.start(cli(), QStringList{"--data-dir", m_dir.path(), "mine"} + addresses);
    ASSERT_TRUE(miner.waitForStarted());
    // Killed once the third shop's page was asked for and two shops are stored: one is cut off.
    const QByteArray third = "GET /" + addresses[2].section('/', 3).toUtf8() + " ";
    auto reached = [&] {
        for (const QByteArray& line : requests())
            if (line.startsWith(third))
                return true;
        return false;
    };
    while (!reached() && !miner.waitForFinished(10))
        ;
    // The third shop is fetched while the second is still being saved.
    while (count("select count(*) from pjinfo") < 2 * 800 && !miner.waitForFinished(5))
        ;
    ASSERT_EQ(miner.state(), QProcess::Running) << "the run ended before it could be killed";
    ::kill(static_cast<pid_t>(miner.processId()), SIGKILL);
    miner.waitForFinished();

    QList<QJsonObject> listed = runs();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0]["state"].toString(), "interrupted");
    EXPECT_EQ(listed[0]["shops"].toInt(), 5);
    const int doneBefore = listed[0]["shopsDone"].toInt();
    EXPECT_GE(doneBefore, 2);
    EXPECT_LT(doneBefore, 5);
    EXPECT_EQ(listed[0]["ratingsStored"].toInt(), doneBefore * 800);
    EXPECT_EQ(count("select count(*) from pjinfo"), doneBefore * 800) << "the record claims what is stored";

    // A second program holding the run: the resume is told it is busy and fetches nothing.
    const qsizetype askedBefore = requests().size();
    {
        runrecords::RunLock lock;
        ASSERT_TRUE(lock.acquire(dm.adoCn.path(), listed[0]["id"].toInt()));
        const Result busy = run({"resume"});
        EXPECT_EQ(busy.exit, 1);
        EXPECT_TRUE(busy.err.contains("busy")) << busy.err.toStdString();
        EXPECT_EQ(runs()[0]["state"].toString(), "running") << "held by a live program";
    }
    EXPECT_EQ(requests().size(), askedBefore);

    const Result resumed = run({"resume"});
    ASSERT_EQ(resumed.exit, 0) << resumed.err.toStdString();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(count(QString("select count(*) from pjinfo p join dianbase d on p.dian_id=d.id "
                                "where d.webaddr='%1'")
                            .arg(addresses[i])),
                  800)
            << i;
    }
    EXPECT_EQ(count("select count(*) from pjinfo"), 4000);
    EXPECT_EQ(count("select count(distinct itemId_pjsj) from pjinfo"), 4000);
    EXPECT_EQ(count("select count(*) from dianHistory where ratings=800"), 5) << "one row a stored shop";
    // No shop page of a finished shop was asked for again.
    const QList<QByteArray> after = requests().mid(askedBefore);
    for (int i = 0; i < doneBefore; ++i) {
        const QByteArray page = "GET /" + addresses[i].section('/', 3).toUtf8() + " ";
        for (const QByteArray& line : after)
            EXPECT_FALSE(line.startsWith(page)) << line.data();
    }
    listed = runs();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0]["state"].toString(), "finished");
    EXPECT_EQ(listed[0]["shopsDone"].toInt(), 5);

    // Nothing is left: a clear refusal, and an unknown run likewise.
    const Result none = run({"resume"});
    EXPECT_EQ(none.exit, 2);
    EXPECT_TRUE(none.err.contains("no unfinished run")) << none.err.toStdString();
    const Result unknown = run({"resume", "99"});
    EXPECT_EQ(unknown.exit, 2);
    EXPECT_TRUE(unknown.err.contains("no run 99")) << unknown.err.toStdString();
    EXPECT_EQ(run({"resume", "x"}).exit, 2);
}

TEST_F(RunRecords, ADeletedShopIsSkippedAndACancelledRunIsNotOfferedAgain)
{
    // The market stands still after the first rating page, so the cancel cuts the first shop
    // short however busy the machine; the run goes on against one that answers everything.
    startMarket({"--shops", "3", "--ratings", "400", "--seed", "42", "--hold-after", "2"});
    setNet(3, 10, 0, 2);
    TMiningRun run(dm);
    int total = 0;
    QObject::connect(&run, &TMiningRun::totalRatingsChanged, &run, [&](int n) { total = n; });
    ASSERT_EQ(run.start(rowsFor({0, 1, 2}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    const qint64 id = run.runId();
    ASSERT_GT(id, 0);
    ASSERT_TRUE(waitFor([&] { return total > 0; })); // the first rating page is read

    run.cancel();
    ASSERT_TRUE(waitFor([&] { return !run.saving(); }));
    restartMarket({"--shops", "3", "--ratings", "400", "--seed", "42"});

    QString error;
    EXPECT_EQ(runrecords::lastUnfinished(dm.adoCn, &error), 0) << "cancelled runs are not offered";
    std::optional<runrecords::Run> recorded = runrecords::load(dm.adoCn, id, &error);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->state, runrecords::RunState::Cancelled);
    ASSERT_EQ(recorded->shops.size(), 3);
    EXPECT_EQ(recorded->shops[0].state, runrecords::ShopState::Incomplete) << "cut short by the cancel";
    EXPECT_EQ(recorded->shops[1].state, runrecords::ShopState::Pending);

    // Asked for by its number, it goes on; the shop deleted meanwhile is left alone.
    ASSERT_TRUE(dm.adoCn.exec(QString("delete from dianbase where id=%1").arg(recorded->shops[1].shopId)));
    QStringList skipped;
    QObject::connect(&run, &TMiningRun::shopSkipped, &run, [&](const QString& w) { skipped << w; });
    bool over = false;
    QObject::connect(&run, &TMiningRun::finished, &run, [&] { over = true; });
    ASSERT_EQ(run.resume(id, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return over && !run.saving(); }));
    EXPECT_EQ(skipped, QStringList{shop(1)["address"].toString()});
    expectShopStored(0);
    expectShopStored(2);
    EXPECT_EQ(count("select count(*) from dianbase"), 2) << "the deleted shop is not brought back";
    recorded = runrecords::load(dm.adoCn, id, &error);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->state, runrecords::RunState::Finished);
    EXPECT_EQ(recorded->shops[1].state, runrecords::ShopState::Skipped);
    EXPECT_EQ(recorded->shopsDone(), 2)
        << runrecords::stateName(recorded->shops[0].state).toStdString() << " "
        << runrecords::stateName(recorded->shops[2].state).toStdString();
    EXPECT_EQ(run.resume(id, m_config), TMiningRun::StartResult::NothingLeft);
}

TEST_F(RunRecords, MiningTheStoredShopsTakesExactlyThoseTheFilterSelects)
{
    startMarket({"--shops", "4", "--ratings", "80", "--seed", "43", "--log", m_dir.filePath("requests.log")});
    {
        TMiningRun run(dm);
        ASSERT_TRUE(mine(run, rowsFor({0, 1, 2, 3})));
    }
    ASSERT_EQ(count("select count(*) from pjinfo"), 320);
    const qsizetype before = requests().size();
    const qlonglong third =
        count(QString("select id from dianbase where webaddr='%1'").arg(shop(2)["address"].toString()));

    const Result some = run({"mine", "--stored", "--filter", QString("id >=%1").arg(third)});
    ASSERT_EQ(some.exit, 0) << some.err.toStdString();
    QStringList asked;
    for (const QByteArray& line : requests().mid(before))
        if (line.startsWith("GET /shop/"))
            asked << QString::fromLatin1(line.split(' ').value(1));
    QStringList expected{"/" + shop(2)["address"].toString().section('/', 3),
                         "/" + shop(3)["address"].toString().section('/', 3)};
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(count("select count(*) from pjinfo"), 320) << "re-mined, not doubled";
    const QList<QJsonObject> listed = runs();
    ASSERT_EQ(listed.size(), 2) << "one recorded run";
    EXPECT_EQ(listed[1]["shops"].toInt(), 2);
    EXPECT_EQ(listed[1]["state"].toString(), "finished");

    EXPECT_EQ(run({"mine", "--stored", "--filter", "nosuchcolumn = 1"}).exit, 2);
    EXPECT_EQ(run({"mine", "--stored", shop(0)["address"].toString()}).exit, 2) << "addresses and --stored";
    const Result all = run({"mine", "--stored", "--new-only"});
    EXPECT_EQ(all.exit, 0) << all.err.toStdString();
    EXPECT_EQ(all.out.count("\"complete\": true"), 4);
    EXPECT_EQ(runs().size(), 3);
}

} // namespace

TEST_F(RunRecords, ARunWhoseLockCannotBeTakenDoesNotStartAndSaysWhy)
{
    startMarket({"--shops", "2", "--ratings", "40", "--seed", "43", "--log", m_dir.filePath("requests.log")});
    // A folder where the lock file belongs.
    ASSERT_TRUE(QDir().mkpath(dm.adoCn.path() + ".runs.lock"));
    TMiningRun run(dm);
    EXPECT_EQ(run.start(rowsFor({0, 1}), 1, 5000, m_config), TMiningRun::StartResult::StoreFailed);
    EXPECT_TRUE(run.error().contains(".runs.lock")) << run.error().toStdString();
    EXPECT_FALSE(run.running());
    EXPECT_TRUE(requests().isEmpty()) << "nothing is fetched without the lock";
    QString error;
    const std::optional<runrecords::Run> recorded = runrecords::load(dm.adoCn, run.runId(), &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    EXPECT_EQ(recorded->state, runrecords::RunState::Failed);
    EXPECT_EQ(run.resume(run.runId(), m_config), TMiningRun::StartResult::StoreFailed);
    EXPECT_TRUE(run.error().contains(".runs.lock")) << run.error().toStdString();
}
