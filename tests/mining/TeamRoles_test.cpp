// A team's server store under roles: the owner grants, a reader reads and is refused writing,
// a miner mines and works the queue and is refused deleting; each refusal comes before anything
// is fetched or stored, in the server's own words.
#include "MarketFixture.h"
#include "browser/ShopDelete.h"
#include "store/ServerDatabase.h"
#include "store/StoreRoles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

namespace {

class TeamRoles : public MarketFixture
{
protected:
    struct Result
    {
        int exit = -1;
        QString out, err;
    };
    // kestrova-cli on the data folder, as the server user `user` (the owner when empty).
    Result cli(const QString& user, const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                QStringList{"--data-dir", m_dir.path(), "--database", as(user)} + args);
        Result r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QString as(const QString& user) const
    {
        if (user.isEmpty())
            return m_url;
        const qsizetype at = m_url.indexOf(u'@');
        return QStringLiteral("postgresql://") + user + m_url.mid(at);
    }
    // Roles live across the server's databases: named after this test's database.
    QString role(const char* kind) const { return m_url.section(u'/', -1) + u'_' + QLatin1String(kind); }
    qlonglong stored() { return count(QStringLiteral("select count(*) from pjinfo")); }
    // Download slots of the team held on the server now, by any program.
    qlonglong slotsHeld()
    {
        return count(
            QStringLiteral("select count(*) from pg_locks where locktype = 'advisory' and granted and "
                           "classid = 7263403"));
    }
    std::unique_ptr<QProcess> startWorker()
    {
        auto p = std::make_unique<QProcess>();
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        p->start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                 {"--data-dir", m_dir.path(), "--database", m_url, "work", "--once", "--connections", "4"});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }

    QString m_url;
};

TEST_F(TeamRoles, AReaderReadsAMinerMinesAndEachIsRefusedTheRestWithNothingStored)
{
    SERVER_DATABASE(url);
    m_url = url;
    startMarket({"--shops", "4", "--ratings", "30", "--seed", "5"});
    ASSERT_TRUE(dm.DataModuleCreate(m_url)) << dm.OpenError().toStdString();
    const QString reader = role("reader"), miner = role("miner");
    ASSERT_EQ(
        sharedServer().psql(QStringLiteral("CREATE ROLE %1 LOGIN; CREATE ROLE %2 LOGIN").arg(reader, miner)),
        0);
    const auto address = [this](int i) { return shop(i)["address"].toString(); };
    Result r = cli({}, {"mine", address(0)});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();

    // Grants: printed, refused whole (a role that is not there; a grantor who may not), given.
    r = cli({}, {"grant", "--miner", miner, "--print"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("BEGIN;\n") && r.out.contains("GRANT INSERT, DELETE ON") &&
                r.out.endsWith("COMMIT;\n"))
        << r.out.toStdString();
    r = cli({}, {"grant", "--reader", "no_such_role_here"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains("database error: role \"no_such_role_here\" does not exist"))
        << r.err.toStdString();
    r = cli(miner, {"grant", "--miner", reader});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains("database error:")) << r.err.toStdString();
    EXPECT_EQ(
        count(QStringLiteral("select count(*) from information_schema.role_table_grants where grantee = '%1'")
                  .arg(reader)),
        0)
        << "nothing half-granted";
    for (const QStringList& grant : {QStringList{"--reader", reader}, QStringList{"--miner", miner}}) {
        r = cli({}, QStringList{"grant"} + grant);
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    }

    // The reader reads everything and may not mine, queue or search: refused before any page.
    const qlonglong before = stored();
    const qlonglong shopsBefore = count(QStringLiteral("select count(*) from dianbase"));
    for (const QStringList& reading :
         {QStringList{"shops"}, QStringList{"runs"}, QStringList{"queue"},
          QStringList{"export", "ratings", "--csv", m_dir.filePath("r.csv")},
          QStringList{"analyze", "rank", "--shop", "1", "--from", "2000-01-01"}}) {
        r = cli(reader, reading);
        EXPECT_EQ(r.exit, 0) << reading.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    for (const QStringList& writing :
         {QStringList{"mine", address(1)}, QStringList{"queue", "add", address(1)},
          QStringList{"search", "--shopname", "店", "--mine"}, QStringList{"work", "--once"}}) {
        r = cli(reader, writing);
        EXPECT_EQ(r.exit, 1) << writing.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("database error: permission denied for table"))
            << writing.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(count(QStringLiteral("select count(*) from dianbase")), shopsBefore);
    EXPECT_EQ(count(QStringLiteral("select count(*) from shopqueue")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from miningrun")), 1);

    // The miner mines and works the queue.
    r = cli(miner, {"mine", address(1)});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    r = cli(miner, {"queue", "add", address(2), address(3)});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    r = cli(miner, {"work", "--once"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(count(QStringLiteral("select count(*) from dianbase")), 4);
    for (int i = 0; i < 4; ++i)
        expectShopStored(i, false);
    // Who mined what: the runs and the queue name the server user and the machine.
    r = cli(reader, {"runs"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QStringList runs = r.out.trimmed().split(u'\n');
    ASSERT_EQ(runs.size(), 2) << r.out.toStdString(); // the owner's and the miner's; the queue records none
    const QJsonObject minersRun = QJsonDocument::fromJson(runs[1].toUtf8()).object();
    EXPECT_EQ(minersRun["serverUser"].toString(), miner);
    EXPECT_FALSE(minersRun["machine"].toString().isEmpty());
    EXPECT_GT(minersRun["new"].toInt(), 0);
    EXPECT_EQ(minersRun["new"].toInt(), minersRun["ratingsStored"].toInt())
        << "a first mine: every rating new";
    r = cli(reader, {"queue"});
    EXPECT_TRUE(r.out.contains(QStringLiteral("{\"state\": \"done\", \"serverUser\": \"%1\"").arg(miner)))
        << r.out.toStdString();

    // What each role may do, as the program asks before it offers an action; a delete tried
    // anyway is the server's refusal and takes nothing with it.
    struct Case
    {
        QString user;
        storeroles::Action action;
        bool allowed;
    };
    for (const Case& c :
         {Case{reader, storeroles::Action::Mine, false}, Case{reader, storeroles::Action::DeleteShop, false},
          Case{miner, storeroles::Action::Mine, true}, Case{miner, storeroles::Action::DeleteShop, false},
          Case{miner, storeroles::Action::EditRatings, false},
          Case{{}, storeroles::Action::DeleteShop, true}}) {
        TDM as_;
        ASSERT_TRUE(as_.DataModuleCreate(as(c.user))) << as_.OpenError().toStdString();
        const QString refusal = storeroles::refusal(as_.adoCn, c.action);
        EXPECT_EQ(refusal.isEmpty(), c.allowed) << c.user.toStdString() << ": " << refusal.toStdString();
        if (!c.allowed) {
            EXPECT_TRUE(refusal.startsWith("permission denied for table")) << refusal.toStdString();
        }
        EXPECT_EQ(storeroles::userName(as_.adoCn),
                  c.user.isEmpty() ? m_url.section(u'@', 0, 0).section(u'/', -1) : c.user);
        if (c.action == storeroles::Action::DeleteShop && !c.allowed) {
            ASSERT_TRUE(as_.tb_dianbase->Open());
            QString error;
            EXPECT_FALSE(shopdelete::deleteCurrent(as_.adoCn, *as_.tb_dianbase, &error));
            EXPECT_TRUE(error.contains("permission denied")) << error.toStdString();
        }
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from dianbase")), 4);
    for (int i = 0; i < 4; ++i)
        expectShopStored(i, false);
}

TEST_F(TeamRoles, AStoreMissingAPieceOpensForAReaderWhoMayNotAddIt)
{
    SERVER_DATABASE(url);
    m_url = url;
    ensureCoreApp();
    ASSERT_TRUE(dm.DataModuleCreate(m_url)) << dm.OpenError().toStdString();
    const QString reader = role("reader");
    ASSERT_EQ(sharedServer().psql(QStringLiteral("CREATE ROLE %1 LOGIN").arg(reader)), 0);
    Result r = cli({}, {"grant", "--reader", reader});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    QString out;
    ASSERT_EQ(
        sharedServer().psql(QStringLiteral("DROP INDEX dianBase_webaddr; ALTER TABLE miningRun DROP COLUMN "
                                           "machine; DROP TABLE miningRunShop"),
                            &out, m_url.section(u'/', -1)),
        0)
        << out.toStdString();
    r = cli(reader, {"shops"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    TDM readerDm;
    ASSERT_TRUE(readerDm.DataModuleCreate(as(reader))) << readerDm.OpenError().toStdString();
    EXPECT_EQ(readerDm.adoCn.unmended(),
              QStringList({"index dianBase_webaddr", "table miningRunShop", "column miningRun.machine"}));
    EXPECT_TRUE(readerDm.OpenNotice().contains("dianBase_webaddr")) << readerDm.OpenNotice().toStdString();
    EXPECT_TRUE(readerDm.adoCn.mended().isEmpty());
}

TEST_F(TeamRoles, ThreeWorkersKeepTheTeamCapAndAKilledWorkerLeavesNoSlotTaken)
{
    SERVER_DATABASE(url);
    m_url = url;
    startMarket({"--shops", "6", "--ratings", "400", "--seed", "9", "--latency", "40", "--log-times", "--log",
                 m_dir.filePath("requests.log")});
    appendConfig("[Net]\r\nRetries=3\r\nRetryDelay=100\r\nTeamConnections=4\r\n");
    ASSERT_TRUE(dm.DataModuleCreate(m_url)) << dm.OpenError().toStdString();
    QStringList all;
    for (int i = 0; i < 6; ++i)
        all << shop(i)["address"].toString();
    Result r = cli({}, QStringList{"queue", "add"} + all);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();

    std::vector<std::unique_ptr<QProcess>> workers;
    for (int i = 0; i < 3; ++i)
        workers.push_back(startWorker());
    for (auto& w : workers) {
        ASSERT_TRUE(w->waitForFinished(240000));
        EXPECT_EQ(w->exitCode(), 0) << w->readAllStandardError().toStdString();
    }
    int most = 0;
    for (const QByteArray& line : requests())
        most = std::max(most, line.split(' ').value(1).toInt());
    EXPECT_LE(most, 4) << "three workers of 4 connections under a team cap of 4";
    EXPECT_GT(most, 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from dianbase")), 6);
    for (int i = 0; i < 6; ++i)
        expectShopStored(i, false);
    EXPECT_EQ(slotsHeld(), 0);

    // A worker killed mid-walk: the server frees its slots with its connection. A slow market
    // keeps its downloads (and so its slots) open long enough to be seen.
    restartMarket({"--shops", "6", "--ratings", "400", "--seed", "9", "--latency", "2000"});
    r = cli({}, {"queue", "add", all[0]});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    auto worker = startWorker();
    QElapsedTimer clock;
    clock.start();
    while (slotsHeld() == 0 && clock.elapsed() < 60000 && worker->state() == QProcess::Running)
        QThread::msleep(50);
    ASSERT_GT(slotsHeld(), 0) << "the worker took a slot";
    ::kill(static_cast<pid_t>(worker->processId()), SIGKILL);
    worker->waitForFinished();
    clock.restart();
    while (slotsHeld() > 0 && clock.elapsed() < 60000)
        QThread::msleep(50);
    EXPECT_EQ(slotsHeld(), 0);
}

} // namespace
