// Mining against a marketplace that fails, throttles and changes: retries, pacing and the
// new-only walk, checked in the market's request log and in the database.
#include "MarketFixture.h"

#include "extract/TThreadHttp.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>

namespace {

// What one mining run told its listeners.
struct RunLog
{
    explicit RunLog(TMiningRun& run)
    {
        QObject::connect(&run, &TMiningRun::statusText, &run, [this](const QString& t) { status << t; });
        QObject::connect(&run, &TMiningRun::retrying, &run,
                         [this](int attempt, int, qint64 delay, const QString& url, const QString&) {
                             attempts << attempt;
                             delays << delay;
                             urls << url;
                         });
        QObject::connect(&run, &TMiningRun::downloadFailed, &run,
                         [this](const QString& e) { failures << e; });
        QObject::connect(&run, &TMiningRun::finished, &run, [this](bool c) {
            over = true;
            cancelled = c;
        });
        // The window's notice goes with the run's report of a failure.
        QObject::connect(&run, &TMiningRun::downloadFailed, &run, [this] { ++failureBoxes; });
    }

    QStringList status;
    QList<int> attempts;
    QList<qint64> delays;
    QStringList urls;
    QStringList failures;
    int failureBoxes = 0;
    bool over = false;
    bool cancelled = false;
};

struct ShortReadTimeout
{
    explicit ShortReadTimeout(int ms)
    {
        TThreadHttp::setReadTimeoutForTesting(std::chrono::milliseconds(ms));
    }
    ~ShortReadTimeout() { TThreadHttp::setReadTimeoutForTesting(std::chrono::milliseconds(0)); }
};

// The request target of a logged line, with or without the leading time.
QByteArray target(const QByteArray& line)
{
    const QList<QByteArray> parts = line.split(' ');
    return parts.size() >= 3 ? parts[parts.size() - 2] : QByteArray();
}

qint64 loggedTime(const QByteArray& line)
{
    return line.split(' ').value(0).toLongLong();
}

class Retries : public MarketFixture
{
protected:
    bool runToEnd(TMiningRun& run, const RunLog& log, const QList<int>& shops, bool newOnly = false)
    {
        if (run.start(rowsFor(shops), 1, 5000, m_config, newOnly) != TMiningRun::StartResult::Started)
            return false;
        return waitFor([&] { return log.over && !run.saving(); }, 60000);
    }

    // Rating pages the log shows for the shop with this rating key.
    int ratingPagesOf(const QList<QByteArray>& log, const QString& key)
    {
        int n = 0;
        // The rating address comes from a page read with ASCII letters lowered.
        for (const QByteArray& line : log)
            n += line.toLower().contains("/user-rate-" + key.toLower().toLatin1() + "--");
        return n;
    }
};

class RetryModes : public Retries, public ::testing::WithParamInterface<const char*>
{
};

// Every address fails on its first request and passes on the second; later the shop page
// fails more often than the retries allow, and the failure path of old applies.
TEST_P(RetryModes, ARetryPassesAndSpentRetriesEndTheRun)
{
    ShortReadTimeout timeout(300); // the slow mode is silent for longer than that
    const QStringList failing = {"--fail-mode", GetParam(), "--slow-ms", "1500", "--retry-after", "0"};
    startMarket(QStringList{"--shops", "1", "--ratings", "60", "--fail-first", "1", "--log",
                            m_dir.filePath("requests.log")} +
                failing);
    setNet(1, 10, 0);
    {
        TMiningRun run(dm);
        RunLog log(run);
        ASSERT_TRUE(runToEnd(run, log, {0}));
        EXPECT_FALSE(log.cancelled);
        EXPECT_TRUE(log.failures.isEmpty()) << log.failures.join('\n').toStdString();
        EXPECT_EQ(log.failureBoxes, 0);
        expectShopStored(0);
        // Each address twice, back to back; one retry each, visible in the status text.
        const QList<QByteArray> requests = this->requests();
        ASSERT_EQ(requests.size() % 2, 0);
        for (qsizetype i = 0; i < requests.size(); i += 2)
            EXPECT_EQ(target(requests[i]), target(requests[i + 1]));
        EXPECT_EQ(run.retries(), requests.size() / 2);
        EXPECT_EQ(log.attempts, QList<int>(requests.size() / 2, 1));
        EXPECT_EQ(log.status.filter(QStringLiteral("秒后重试（第1次，共1次）")).size(), requests.size() / 2);
    }

    restartMarket(QStringList{"--shops", "1", "--ratings", "60", "--fail-first", "3", "--log",
                              m_dir.filePath("spent.log")} +
                  failing);
    setNet(2, 10, 0);
    TMiningRun run(dm);
    RunLog log(run);
    ASSERT_TRUE(runToEnd(run, log, {0}));
    EXPECT_TRUE(log.cancelled);
    EXPECT_EQ(log.failures.size(), 1);
    EXPECT_EQ(log.failureBoxes, 1); // only once the retries are spent
    EXPECT_EQ(log.attempts, (QList<int>{1, 2}));
    const QList<QByteArray> requests = this->requests("spent.log");
    ASSERT_EQ(requests.size(), 3);
    EXPECT_TRUE(target(requests[0]).endsWith("/shop/1.htm"));
    EXPECT_EQ(target(requests[2]), target(requests[0]));
    EXPECT_EQ(count("select count(*) from pjinfo"), 60); // what the first run stored stays
}

INSTANTIATE_TEST_SUITE_P(Modes, RetryModes, ::testing::Values("status", "drop", "slow", "empty", "throttle"));

TEST_F(Retries, AThrottledPageWaitsForItsRetryAfterAndPauseDoubles)
{
    startMarket({"--shops", "1", "--ratings", "40", "--fail-first", "1", "--fail-mode", "throttle",
                 "--retry-after", "1", "--log-times", "--log", m_dir.filePath("requests.log")});
    setNet(3, 10, 0);
    TMiningRun run(dm);
    RunLog log(run);
    ASSERT_TRUE(runToEnd(run, log, {0}));
    EXPECT_EQ(count("select count(*) from pjinfo"), 40);
    ASSERT_FALSE(log.delays.isEmpty());
    for (qint64 delay : log.delays)
        EXPECT_EQ(delay, 1000); // the server's pause is longer than RetryDelay
    const QList<QByteArray> requests = this->requests();
    for (qsizetype i = 0; i + 1 < requests.size(); i += 2)
        EXPECT_GE(loggedTime(requests[i + 1]) - loggedTime(requests[i]), 999) << requests[i].toStdString();

    NetSettings net;
    net.RetryDelay = 2000;
    EXPECT_EQ(TPageFetcher::retryPause(net, 1, 0), 2000);
    EXPECT_EQ(TPageFetcher::retryPause(net, 3, 0), 8000);
    EXPECT_EQ(TPageFetcher::retryPause(net, 2, 30000), 30000);
    net.PageDelay = 9000;
    EXPECT_EQ(TPageFetcher::retryPause(net, 1, 0), 9000);
    net.RetryDelay = NetSettings::kMaxDelayMs;
    EXPECT_EQ(TPageFetcher::retryPause(net, 10, 0), NetSettings::kMaxDelayMs);
    EXPECT_EQ(TPageFetcher::retryPause(net, 1, 86400000), NetSettings::kMaxDelayMs);
}

TEST_F(Retries, CancelEndsAPauseAtOnce)
{
    startMarket(
        {"--shops", "1", "--ratings", "200", "--fail-first", "1", "--log", m_dir.filePath("requests.log")});
    setNet(3, 60000, 0);
    TMiningRun run(dm);
    RunLog log(run);
    ASSERT_EQ(run.start(rowsFor({0}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return !log.attempts.isEmpty(); }));
    run.cancel();
    EXPECT_TRUE(log.over);
    EXPECT_TRUE(log.cancelled);
    EXPECT_FALSE(run.running());
    ASSERT_TRUE(waitFor([&] { return !run.saving(); }));
    waitFor([] { return false; }, 300);
    EXPECT_EQ(requests().size(), 1); // the retry never went out
    EXPECT_EQ(log.failureBoxes, 0);
}

TEST_F(Retries, PagesOfARunKeepTheirPauseAndEachShopStartsWithAnEmptyByteBar)
{
    startMarket({"--shops", "2", "--ratings", "80", "--log-times", "--log", m_dir.filePath("requests.log")});
    setNet(3, 10, 250);
    TMiningRun run(dm);
    RunLog log(run);
    QStringList bytes;
    QObject::connect(&run, &TMiningRun::shopBegun, &run,
                     [&](int n, int of, const ShopRow&) { bytes << QString("shop %1/%2").arg(n).arg(of); });
    QObject::connect(&run, &TMiningRun::bytesChanged, &run, [&](qint64 done, qint64 total) {
        if (bytes.isEmpty() || bytes.last().startsWith("shop"))
            bytes << QString("%1/%2").arg(done).arg(total);
    });
    ASSERT_TRUE(runToEnd(run, log, {0, 1}));
    EXPECT_EQ(count("select count(*) from pjinfo"), 160);
    const QList<QByteArray> requests = this->requests();
    ASSERT_GE(requests.size(), 6);
    for (qsizetype i = 1; i < requests.size(); ++i)
        EXPECT_GE(loggedTime(requests[i]) - loggedTime(requests[i - 1]), 249) << requests[i].toStdString();
    // The bar of the last page of shop 1 must not stand while shop 2's page starts.
    EXPECT_EQ(bytes, (QStringList{"shop 1/2", "0/0", "shop 2/2", "0/0"}));
}

// The marketplace gained 40 ratings per shop since the last run: only the pages that hold
// them are fetched again, and every rating is stored once.
TEST_F(Retries, NewOnlyFetchesThePagesWithNewRatingsOnly)
{
    startMarket({"--shops", "3", "--ratings", "200", "--seed", "21"});
    {
        TMiningRun run(dm);
        RunLog log(run);
        ASSERT_TRUE(runToEnd(run, log, {0, 1}));
    }
    ASSERT_EQ(count("select count(*) from pjinfo"), 400);
    const qlonglong lastOldId = count("select max(id) from pjinfo");

    restartMarket({"--shops", "3", "--ratings", "200", "--seed", "21", "--newer", "40", "--log",
                   m_dir.filePath("requests.log")});
    TMiningRun run(dm);
    RunLog log(run);
    ASSERT_TRUE(runToEnd(run, log, {0, 1, 2}, true));
    const QList<QByteArray> requests = this->requests();
    EXPECT_EQ(ratingPagesOf(requests, shop(0)["key"].toString()), 2);
    EXPECT_EQ(ratingPagesOf(requests, shop(1)["key"].toString()), 2);
    // A shop not stored before is walked to its end.
    EXPECT_GE(ratingPagesOf(requests, shop(2)["key"].toString()), 6);
    for (int i : {0, 1, 2})
        expectShopStored(i); // every rating of the new list, once
    // The rows of the first run stay, with their ids.
    EXPECT_EQ(count(QString("select count(*) from pjinfo where id<=%1").arg(lastOldId)), 400);
    EXPECT_EQ(count("select count(*) from pjinfo"), 3 * 240);
}

// A walk that ended early (a page failed for good) left the older ratings unstored; the
// next new-only run must not take the stored first page for the end of what is new.
TEST_F(Retries, NewOnlyCompletesAShopAnEarlierWalkLeftShort)
{
    startMarket({"--shops", "1", "--ratings", "100", "--seed", "8", "--fail-every", "3"});
    setNet(0, 0, 0);
    {
        TMiningRun run(dm);
        RunLog log(run);
        ASSERT_TRUE(runToEnd(run, log, {0}, true));
        EXPECT_EQ(log.failures.size(), 1);
    }
    ASSERT_EQ(count("select count(*) from pjinfo"), 40); // the page read before the failure

    restartMarket({"--shops", "1", "--ratings", "100", "--seed", "8", "--newer", "40"});
    TMiningRun run(dm);
    RunLog log(run);
    ASSERT_TRUE(runToEnd(run, log, {0}, true));
    EXPECT_TRUE(log.failures.isEmpty());
    expectShopStored(0);
    EXPECT_EQ(count("select count(*) from pjinfo"), 140);
}

// The saver clears its flag before its completion reaches the run, so a new run can start
// in between; that late completion must not disturb the new run.
TEST_F(Retries, ASaverCompletionOfAnEndedRunIsIgnored)
{
    startMarket({"--shops", "3", "--ratings", "400", "--latency", "60"});
    TMiningRun run(dm);
    int read = 0;
    bool cancelled = false;
    QObject::connect(&run, &TMiningRun::ratingsReadChanged, &run, [&](int n) { read = n; });
    QObject::connect(&run, &TMiningRun::finished, &run, [&](bool c) { cancelled = c; });
    ASSERT_EQ(run.start(rowsFor({0}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return read >= 40; }));
    run.cancel();
    ASSERT_TRUE(cancelled) << "the first run ended before it could be cancelled";
    // Without turning the event loop: the completion stays queued.
    while (run.saving())
        QThread::msleep(5);
    RunLog log(run);
    ASSERT_EQ(run.start(rowsFor({1, 2}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return log.over && !run.saving(); }));
    EXPECT_FALSE(log.cancelled);
    EXPECT_EQ(run.minedCount(), 2);
    expectShopStored(1);
    expectShopStored(2);
}

TEST_F(Retries, TheCommandLineReportsRetriesAndShowsProgressOnlyOnATerminal)
{
    startMarket({"--shops", "2", "--ratings", "120", "--seed", "5"});
    {
        TMiningRun run(dm);
        RunLog log(run);
        ASSERT_TRUE(runToEnd(run, log, {0}));
    }
    restartMarket({"--shops", "2", "--ratings", "120", "--seed", "5", "--newer", "40", "--fail-first", "1",
                   "--fail-mode", "drop", "--log", m_dir.filePath("requests.log")});
    appendConfig("[Net]\r\nRetryDelay=10\r\n");
    QProcess cli;
    cli.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
              {"--data-dir", m_dir.path(), "mine", "--new-only", shop(0)["address"].toString()});
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_EQ(cli.exitCode(), 0) << err.toStdString();
    // Shop page and two rating pages, each tried twice; one line per retry, no progress line.
    const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 3) << err.toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith("retry 1 of 3 in 0.0 s: http://127.0.0.1:")) << line.toStdString();
    EXPECT_FALSE(err.contains("shop 1 of"));
    EXPECT_EQ(requests().size(), 6);
    expectShopStored(0);

    // On a terminal the progress line names the shop among all, never "of 0".
    const QString command =
        QString("'%1' --data-dir '%2' mine '%3'")
            .arg(KESTROVA_BIN_DIR "/kestrova-cli", m_dir.path(), shop(1)["address"].toString());
    QProcess term;
    term.start("script", {"-qefc", command, "/dev/null"});
    ASSERT_TRUE(term.waitForFinished(60000));
    const QString shown = QString::fromLocal8Bit(term.readAllStandardOutput());
    EXPECT_TRUE(shown.contains(QRegularExpression("shop 1 of 1 \\([^)]+\\): 160 of 160 ratings, \\d+ retr")))
        << shown.toStdString();
    EXPECT_FALSE(shown.contains(" of 0")) << shown.toStdString();
}

TEST_F(Retries, ASearchRetriesAFailedResultPageAndSaysSoInItsLog)
{
    startMarket(
        {"--shops", "120", "--ratings", "1", "--seed", "3", "--fail-first", "1", "--fail-mode", "drop"});
    setNet(3, 10, 0);
    SearchCriteria criteria;
    criteria.category = 1;
    criteria.requested = 0;
    TSearchRun search;
    QStringList lines;
    QList<ShopRow> found;
    bool over = false, cancelled = true;
    QObject::connect(&search, &TSearchRun::logLines, &search, [&](const QStringList& l) { lines << l; });
    QObject::connect(&search, &TSearchRun::finished, &search, [&](const QList<ShopRow>& rows, bool c) {
        found = rows;
        over = true;
        cancelled = c;
    });
    ASSERT_TRUE(search.start(criteria, m_config));
    ASSERT_TRUE(waitFor([&] { return over; }));
    EXPECT_FALSE(cancelled);
    int expected = 0;
    for (const QJsonValue& v : shops())
        expected += v["category"].toString() == QLatin1String(SearchCriteria::categories()[1].code) &&
                    !v["bseller"].toBool();
    EXPECT_EQ(found.size(), expected);
    // One line for each result page, each tried twice.
    EXPECT_GE(search.retries(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("秒后重试（第1次，共3次）")).size(), search.retries());
}

} // namespace
