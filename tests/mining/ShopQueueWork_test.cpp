// The shared queue from the command line: shops queued from addresses, a search and the stored
// shops; workers that mine them side by side, one killed or stopped mid-shop; failed shops
// marked with their reason and put back.
#include "MarketFixture.h"
#include "settings/IniFile.h"
#include "store/PgServer.h"
#include "store/ServerDatabase.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

namespace {

// The command line's queue and workers against the market, on the database file or on the
// server m_url names.
class QueueCli : public MarketFixture
{
protected:
    // Where the queue and the collection live: the one place a run against another store
    // changes. The command line and the checks below both go there.
    QString queueDatabase() const
    {
        return m_url.isEmpty() ? m_dir.filePath(QStringLiteral("quelmar2.mdb")) : m_url;
    }
    QString m_url;

    QStringList cliArgs(const QStringList& args) const
    {
        QStringList all{"--data-dir", m_dir.path()};
        if (queueDatabase() != m_dir.filePath(QStringLiteral("quelmar2.mdb")))
            all << "--database" << queueDatabase();
        return all + args;
    }

    // The market, a configuration for quick failures (unless retries are asked for) and short
    // leases, and the database.
    void start(const QStringList& marketArgs, int leaseSeconds = 120, int retries = 0, int retryDelay = 100)
    {
        startMarket(marketArgs);
        appendConfig("[Net]\r\nAgentType=0\r\nPort=0\r\nRetries=" + QByteArray::number(retries) +
                     "\r\nRetryDelay=" + QByteArray::number(retryDelay) +
                     "\r\nConnections=2\r\n"
                     "[Database]\r\nLeaseSeconds=" +
                     QByteArray::number(leaseSeconds) + "\r\n");
        if (dm.adoCn.path() != queueDatabase()) {
            ASSERT_TRUE(dm.DataModuleCreate(queueDatabase()));
        }
    }

    struct Result
    {
        int exit = -1;
        QByteArray out, err;
    };
    Result run(const QStringList& args, int ms = 120000)
    {
        QProcess p;
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), cliArgs(args));
        Result r;
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    // A worker running beside the test; its standard error is gathered as it comes.
    struct Worker
    {
        QProcess process;
        QByteArray err;
        void read() { err += process.readAllStandardError(); }
    };
    std::unique_ptr<Worker> startWorker(const QStringList& args = {"work", "--once"})
    {
        auto w = std::make_unique<Worker>();
        w->process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        w->process.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), cliArgs(args));
        EXPECT_TRUE(w->process.waitForStarted());
        return w;
    }
    // Waits until the worker has told it claimed its n-th shop; false when it ended first.
    static bool waitForClaims(Worker& w, int n, int ms = 60000)
    {
        QElapsedTimer clock;
        clock.start();
        while (w.err.count("claimed ") < n && clock.elapsed() < ms) {
            if (w.process.state() != QProcess::Running)
                return false;
            w.process.waitForReadyRead(20);
            w.read();
        }
        return w.err.count("claimed ") >= n;
    }

    // The queue's state as the command prints it: counts by state, and the detail lines.
    struct QueueState
    {
        QHash<QString, int> shops;
        QList<QJsonObject> details;
    };
    QueueState queueState()
    {
        QueueState s;
        const Result r = run({"queue"});
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        for (const QByteArray& line : r.out.split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            EXPECT_FALSE(o.isEmpty()) << line.toStdString();
            if (o.contains("shops"))
                s.shops[o["state"].toString()] = o["shops"].toInt();
            else
                s.details << o;
        }
        return s;
    }

    qlonglong ratingsOf(int i)
    {
        return count(QStringLiteral("select count(*) from pjinfo p join dianbase d on p.dian_id=d.id where "
                                    "d.webaddr='%1'")
                         .arg(shop(i)["address"].toString()));
    }

    QStringList addresses(int n) const
    {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << shop(i)["address"].toString();
        return out;
    }
};

// On the database file and on a server (the test's own).
class ShopQueueWork : public QueueCli, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        if (GetParam()) {
            SERVER_DATABASE(url);
            m_url = url;
        }
    }
};

TEST_P(ShopQueueWork, ShopsAreQueuedOnceFromAddressesASearchAndTheStoredShopsAndAWorkerMinesThemAll)
{
    start({"--shops", "8", "--ratings", "50", "--seed", "21"});
    const QStringList all = addresses(8);

    // Addresses: each once, with its options; bad ones refused before anything is added.
    Result r = run({"queue", "add", "--to", "40", all[0], all[1], all[0]});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["queued"].toInt(), 2) << r.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["alreadyQueued"].toInt(), 1);
    r = run({"queue", "add", all[2], "http://elsewhere.example/shop/1.htm"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_TRUE(r.err.contains("elsewhere.example")) << r.err.toStdString();
    for (const QStringList& bad :
         {QStringList{"queue", "add"}, QStringList{"queue", "add", "--stored", all[2]},
          QStringList{"queue", "add", "--filter", "x", all[2]},
          QStringList{"queue", "add", "--from", "9", "--to", "3", all[2]}, QStringList{"queue", "frobnicate"},
          QStringList{"work", "--connections", "0"}, QStringList{"search", "--mine", "--enqueue"}}) {
        r = run(bad);
        EXPECT_EQ(r.exit, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains("usage:")) << r.err.toStdString();
    }
    QueueState s = queueState();
    EXPECT_EQ(s.shops["waiting"], 2);
    EXPECT_EQ(s.shops["claimed"], 0);
    EXPECT_EQ(s.shops["done"], 0);
    EXPECT_EQ(s.shops["failed"], 0);

    // A search puts what it finds on the queue; the two already waiting are not added again.
    r = run({"search", "--shopname", "店", "--count", "5", "--enqueue"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    const QJsonObject queued = QJsonDocument::fromJson(lines.last()).object();
    // One line per shop found, then the queue's count.
    ASSERT_GE(lines.size(), 2) << r.out.toStdString();
    EXPECT_EQ(queued["queued"].toInt() + queued["alreadyQueued"].toInt(), lines.size() - 1)
        << r.out.toStdString();
    EXPECT_EQ(count("select count(*) from pjinfo"), 0) << "queued, not mined";
    const int waiting = queueState().shops["waiting"];
    EXPECT_EQ(waiting, 2 + queued["queued"].toInt());

    r = run({"work", "--once", "--connections", "3"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"done\": " + QByteArray::number(waiting))) << r.out.toStdString();
    s = queueState();
    EXPECT_EQ(s.shops["waiting"], 0);
    EXPECT_EQ(s.shops["done"], waiting);
    // Shop 0 and 1 were queued with --to 40: their first rating page only.
    EXPECT_EQ(ratingsOf(0), 40);
    EXPECT_EQ(ratingsOf(1), 40);

    // The stored shops, or those a filter selects, carry their texts and options along.
    r = run({"queue", "add", "--stored", "--filter", "webaddr = '" + all[0] + "'"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["queued"].toInt(), 1) << r.out.toStdString();
    r = run({"queue", "add", "--stored", "--new-only"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["queued"].toInt(), waiting - 1) << r.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out).object()["alreadyQueued"].toInt(), 1);
    r = run({"work", "--once"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    for (int i = 0; i < 8; ++i)
        if (ratingsOf(i) > 0)
            expectShopStored(i, false);
    EXPECT_EQ(queueState().shops["done"], 2 * waiting);
    EXPECT_EQ(count("select count(*) from dianHistory"), 2 * waiting) << "a row each time a shop was stored";
}

TEST_P(ShopQueueWork, ThreeWorkersWithOneKilledMidShopStoreEveryShopExactlyOnce)
{
    start({"--shops", "30", "--ratings", "130", "--seed", "23", "--latency", "15"}, 3);
    const QStringList all = addresses(30);
    Result r = run(QStringList{"queue", "add"} + all);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();

    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 3; ++i)
        workers.push_back(startWorker());
    // The first worker dies while it mines its third shop: its claim stays behind.
    ASSERT_TRUE(waitForClaims(*workers[0], 3)) << workers[0]->err.toStdString();
    QThread::msleep(40);
    ASSERT_EQ(workers[0]->process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(workers[0]->process.processId()), SIGKILL);
    workers[0]->process.waitForFinished();
    workers[0]->read();
    const QByteArray lastClaim = workers[0]->err.mid(workers[0]->err.lastIndexOf("claimed ") + 8);
    const QString killedShop = QString::fromUtf8(lastClaim.left(lastClaim.indexOf('\n')));

    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(workers[i]->process.waitForFinished(180000));
        workers[i]->read();
        EXPECT_EQ(workers[i]->process.exitCode(), 0) << workers[i]->err.toStdString();
    }
    // The killed worker's shop went to another once its lease ended.
    EXPECT_TRUE(workers[1]->err.contains("claimed " + killedShop.toUtf8()) ||
                workers[2]->err.contains("claimed " + killedShop.toUtf8()))
        << killedShop.toStdString();
    const QueueState s = queueState();
    EXPECT_EQ(s.shops["done"], 30);
    EXPECT_EQ(s.shops["waiting"], 0);
    EXPECT_EQ(s.shops["claimed"], 0);
    EXPECT_EQ(s.shops["failed"], 0);
    EXPECT_EQ(count("select count(*) from dianbase"), 30);
    EXPECT_EQ(count("select count(*) from pjinfo"), 30 * 130);
    for (int i = 0; i < 30; ++i)
        expectShopStored(i, false);
}

TEST_P(ShopQueueWork, AStoppedWorkersShopGoesToAnotherAndItsLateWalkKeepsNothing)
{
    start({"--shops", "3", "--ratings", "200", "--seed", "25", "--latency", "120"}, 2);
    ASSERT_EQ(run(QStringList{"queue", "add"} + addresses(3)).exit, 0);
    auto stopped = startWorker({"work", "--once", "--connections", "1"});
    ASSERT_TRUE(waitForClaims(*stopped, 1)) << stopped->err.toStdString();
    QThread::msleep(400);
    const pid_t pid = static_cast<pid_t>(stopped->process.processId());
    ::kill(pid, SIGSTOP);

    // While it stands still, its lease ends and the other worker mines every shop.
    QueueState s = queueState();
    ASSERT_EQ(s.details.size(), 1);
    EXPECT_EQ(s.details[0]["state"].toString(), "claimed");
    EXPECT_TRUE(s.details[0]["worker"].toString().endsWith(':' + QString::number(pid)))
        << s.details[0]["worker"].toString().toStdString();
    EXPECT_FALSE(s.details[0]["since"].toString().isEmpty());
    const Result other = run({"work", "--once"});
    EXPECT_EQ(other.exit, 0) << other.err.toStdString();
    EXPECT_EQ(other.out.count("\"shopId\""), 3) << other.out.toStdString();

    // Woken, it finds its claim taken over and keeps nothing of its walk.
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(stopped->process.waitForFinished(60000));
    stopped->read();
    EXPECT_EQ(stopped->process.exitCode(), 0) << stopped->err.toStdString();
    EXPECT_TRUE(stopped->err.contains("another worker mines the shop now")) << stopped->err.toStdString();
    EXPECT_TRUE(stopped->process.readAllStandardOutput().contains("\"lost\": 1"));
    s = queueState();
    EXPECT_EQ(s.shops["done"], 3);
    EXPECT_EQ(s.shops["claimed"], 0);
    EXPECT_EQ(count("select count(*) from pjinfo"), 600);
    for (int i = 0; i < 3; ++i)
        expectShopStored(i, false);
}

TEST_P(ShopQueueWork, AFailingShopIsMarkedWithItsReasonTheWorkerGoesOnAndRetryPutsItBack)
{
    start({"--shops", "3", "--ratings", "60", "--seed", "27"});
    const QString base = QString::fromStdString(m_market->base());
    const QString missing = base + "/shop/999.htm";
    const QString home = base + "/";
    QStringList queue = addresses(3);
    queue.insert(1, missing);
    queue.insert(3, home);
    ASSERT_EQ(run(QStringList{"queue", "add"} + queue).exit, 0);

    const Result r = run({"work", "--once"});
    EXPECT_EQ(r.exit, 1) << "two shops failed";
    EXPECT_TRUE(r.out.contains("\"done\": 3, \"failed\": 2")) << r.out.toStdString();
    for (int i = 0; i < 3; ++i)
        expectShopStored(i, false);
    QueueState s = queueState();
    EXPECT_EQ(s.shops["done"], 3);
    EXPECT_EQ(s.shops["failed"], 2);
    QHash<QString, QString> reasons;
    for (const QJsonObject& o : s.details)
        if (o["state"].toString() == "failed")
            reasons[o["webaddr"].toString()] = o["reason"].toString();
    EXPECT_TRUE(reasons.value(missing).contains("404")) << reasons.value(missing).toStdString();
    EXPECT_EQ(reasons.value(home), "no rating link on the shop page");

    const Result retried = run({"queue", "retry-failed"});
    ASSERT_EQ(retried.exit, 0) << retried.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(retried.out).object()["retried"].toInt(), 2);
    s = queueState();
    EXPECT_EQ(s.shops["waiting"], 2);
    EXPECT_EQ(s.shops["failed"], 0);
    EXPECT_EQ(s.shops["done"], 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, ShopQueueWork, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

// A server of the test's own, stopped and started again under a worker.
class WorkerLosesTheServer : public QueueCli
{
protected:
    void SetUp() override
    {
        if (!m_server.skipReason().isEmpty())
            GTEST_SKIP() << m_server.skipReason().toStdString();
        ASSERT_TRUE(m_server.running()) << m_server.error().toStdString();
        m_url = m_server.url();
    }

    // Queues two shops whose walks take a while, and starts a worker on them; returns once it
    // mines the first.
    std::unique_ptr<Worker> workerMidShop(int leaseSeconds, int retries, int retryDelay)
    {
        start({"--shops", "2", "--ratings", "400", "--seed", "31", "--latency", "250"}, leaseSeconds, retries,
              retryDelay);
        const Result queued = run(QStringList{"queue", "add"} + addresses(2));
        EXPECT_EQ(queued.exit, 0) << queued.err.toStdString();
        auto w = startWorker({"work", "--once", "--connections", "1"});
        EXPECT_TRUE(waitForClaims(*w, 1)) << w->err.toStdString();
        return w;
    }

    // Gathers the worker's standard error until it holds text; false when it ended first.
    static bool waitForText(Worker& w, const QByteArray& text, int ms = 60000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!w.err.contains(text) && clock.elapsed() < ms) {
            if (w.process.state() != QProcess::Running)
                break;
            w.process.waitForReadyRead(20);
            w.read();
        }
        w.read();
        return w.err.contains(text);
    }

    PgServer m_server;
};

TEST_F(WorkerLosesTheServer, AServerGoneForGoodEndsTheWorkerNamingTheDatabaseAndItsShopIsMinedLater)
{
    auto w = workerMidShop(2, 1, 300);
    ASSERT_TRUE(m_server.stop());
    ASSERT_TRUE(w->process.waitForFinished(60000));
    w->read();
    EXPECT_EQ(w->process.exitCode(), 1) << w->err.toStdString();
    // One retry after the pause of the [Net] rules, then the cause.
    EXPECT_EQ(w->err.count("retry 1 of 1 in 0.3 s: database error: "), 1) << w->err.toStdString();
    EXPECT_FALSE(w->err.contains("retry 2 of")) << w->err.toStdString();
    const QByteArray last = w->err.trimmed().split('\n').last();
    // The server's own message, which names where it was looked for.
    const QByteArray port = m_url.section(u':', -1).section(u'/', 0, 0).toUtf8();
    EXPECT_TRUE(last.startsWith("kestrova-cli work: database error: ")) << w->err.toStdString();
    EXPECT_TRUE(last.contains("port " + port)) << last.toStdString();
    EXPECT_FALSE(w->process.readAllStandardOutput().contains("\"done\": ")) << "no summary of a failed run";

    // Back, the server holds nothing of the walk: the shop is claimed still, not done.
    ASSERT_TRUE(m_server.startAgain()) << m_server.error().toStdString();
    ASSERT_TRUE(dm.DataModuleCreate(queueDatabase()));
    EXPECT_EQ(count("select count(*) from pjinfo"), 0);
    QueueState s = queueState();
    EXPECT_EQ(s.shops["done"], 0);
    EXPECT_EQ(s.shops["claimed"], 1);
    EXPECT_EQ(s.shops["waiting"], 1);

    // Its lease ends and another worker mines it, with the other shop, once. That worker's own
    // claims last longer than the test: a loaded machine must not take them away mid-shop.
    IniFile config(m_dir.filePath("config.ini"));
    ASSERT_TRUE(config.load());
    config.setValue(QStringLiteral("Database"), QStringLiteral("LeaseSeconds"), QStringLiteral("120"));
    ASSERT_TRUE(config.save());
    const Result other = run({"work", "--once"});
    EXPECT_EQ(other.exit, 0) << other.err.toStdString();
    EXPECT_TRUE(other.out.contains("\"done\": 2")) << other.out.toStdString();
    s = queueState();
    EXPECT_EQ(s.shops["done"], 2);
    EXPECT_EQ(s.shops["claimed"], 0);
    EXPECT_EQ(count("select count(*) from pjinfo"), 800);
    for (int i = 0; i < 2; ++i)
        expectShopStored(i, false);
}

TEST_F(WorkerLosesTheServer, AServerBackWithinTheRetriesLetsTheWorkerMineItsShopAgainAndGoOn)
{
    // A lease far longer than the test: the shop comes back because the worker puts it back.
    auto w = workerMidShop(600, 5, 1000);
    ASSERT_TRUE(m_server.stop());
    ASSERT_TRUE(waitForText(*w, "retry 1 of 5")) << w->err.toStdString();
    ASSERT_TRUE(m_server.startAgain()) << m_server.error().toStdString();
    ASSERT_TRUE(w->process.waitForFinished(120000));
    w->read();
    EXPECT_EQ(w->process.exitCode(), 0) << w->err.toStdString();
    EXPECT_TRUE(w->process.readAllStandardOutput().contains("\"done\": 2, \"failed\": 0"))
        << w->err.toStdString();
    EXPECT_EQ(w->err.count("claimed " + addresses(1)[0].toUtf8()), 2) << w->err.toStdString();
    ASSERT_TRUE(dm.DataModuleCreate(queueDatabase()));
    const QueueState s = queueState();
    EXPECT_EQ(s.shops["done"], 2);
    EXPECT_EQ(s.shops["claimed"], 0);
    EXPECT_EQ(s.shops["waiting"], 0);
    EXPECT_EQ(count("select count(*) from pjinfo"), 800);
    for (int i = 0; i < 2; ++i)
        expectShopStored(i, false);
}

} // namespace
