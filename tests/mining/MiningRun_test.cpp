// Search and mining against the demo marketplace, compared with what it says it served.
#include "MarketFixture.h"

#include <QProcess>
#include <QThread>
#include <csignal>

namespace {

class MiningRuns : public MarketFixture
{
protected:
    int categoryIndex(const QString& code)
    {
        const auto& table = SearchCriteria::categories();
        for (size_t i = 0; i < table.size(); ++i)
            if (QLatin1String(table[i].code) == code)
                return static_cast<int>(i);
        return -1;
    }
};

TEST_F(MiningRuns, SearchThenMineStoresWhatTheMarketServed)
{
    startMarket({"--shops", "40", "--ratings", "90", "--seed", "7"});
    const QString code = shop(0)["category"].toString();
    SearchCriteria criteria;
    criteria.category = categoryIndex(code);
    criteria.requested = 0; // every shop found
    ASSERT_GT(criteria.category, 0);

    TSearchRun search;
    QList<ShopRow> found;
    bool over = false;
    QStringList log;
    QObject::connect(&search, &TSearchRun::logLines, &search, [&](const QStringList& l) { log << l; });
    QObject::connect(&search, &TSearchRun::finished, &search, [&](const QList<ShopRow>& rows, bool c) {
        found = rows;
        over = true;
        EXPECT_FALSE(c);
    });
    ASSERT_TRUE(search.start(criteria, m_config));
    EXPECT_TRUE(search.running());
    ASSERT_TRUE(waitFor([&] { return over; }));
    EXPECT_FALSE(search.running());

    QStringList expected;
    for (const QJsonValue& v : shops())
        if (v["category"].toString() == code && !v["bseller"].toBool())
            expected << v["address"].toString();
    QStringList addresses;
    for (const auto& row : found) {
        addresses << row.webaddr;
        EXPECT_EQ(row.category, QString::fromUtf16(SearchCriteria::categories()[criteria.category].text));
    }
    EXPECT_EQ(addresses, expected);
    ASSERT_GE(log.size(), 12);
    EXPECT_EQ(log.first(), "第1次搜索条件:");
    EXPECT_EQ(log.at(log.size() - 2), QString("共搜索到%1记录!").arg(found.size()));
    EXPECT_EQ(log.last(), QString(28, '-'));

    // Mine the first two hits, as the grid hands them over.
    QList<int> indices;
    for (int i = 0; i < shops().size() && indices.size() < 2; ++i)
        if (expected.contains(shop(i)["address"].toString()))
            indices << i;
    TMiningRun run(dm);
    QStringList status;
    QObject::connect(&run, &TMiningRun::statusText, &run, [&](const QString& t) { status << t; });
    ASSERT_TRUE(mine(run, rowsFor(indices)));
    for (int i : indices)
        expectShopStored(i);
    EXPECT_EQ(run.minedCount(), indices.size());
    // With the connections in force after it.
    EXPECT_TRUE(std::any_of(status.begin(), status.end(),
                            [](const QString& t) { return t.startsWith("正在挖掘第2个掌柜的成交数据..."); }));
    EXPECT_TRUE(status.last().contains("挖掘交易完成！共花时间：0:00:"));
    EXPECT_FALSE(run.running());
}

TEST_F(MiningRuns, MiningAShopTwiceKeepsEachRatingOnceWithTheFirstIds)
{
    startMarket({"--shops", "3", "--ratings", "100", "--seed", "11"});
    // What each save reports: rows written, and of those the ones not stored before.
    QList<std::pair<int, int>> saved;
    auto listen = [&](TMiningRun& run) {
        QObject::connect(&run, &TMiningRun::shopSaved, &run,
                         [&](const QString&, int stored, int, bool, int fresh) {
                             saved.append({stored, fresh});
                         });
    };
    TMiningRun first(dm);
    listen(first);
    ASSERT_TRUE(mine(first, rowsFor({0})));
    const qlonglong stored = count("select count(*) from pjinfo");
    const qlonglong idSum = count("select sum(id) from pjinfo");
    ASSERT_EQ(stored, 100);
    TMiningRun second(dm);
    listen(second);
    ASSERT_TRUE(mine(second, rowsFor({0})));
    EXPECT_EQ(saved, (QList<std::pair<int, int>>{{100, 100}, {100, 0}}));
    EXPECT_EQ(count("select count(*) from pjinfo"), stored);
    EXPECT_EQ(count("select sum(id) from pjinfo"), idSum);
    EXPECT_EQ(count("select count(*) from dianbase"), 1); // updated, not inserted again
    expectShopStored(0);
}

TEST_F(MiningRuns, RecordRangeStartsAtItsPage)
{
    startMarket({"--shops", "2", "--ratings", "300", "--seed", "5", "--log", m_dir.filePath("requests.log")});
    TMiningRun run(dm);
    ASSERT_TRUE(mine(run, rowsFor({0}), 81, 200));
    QFile log(m_dir.filePath("requests.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray requests = log.readAll();
    // Records 81 to 200 are on rating pages 3 to 5.
    EXPECT_FALSE(requests.contains("currentPage%7C1--snapId%7C0.htm"));
    EXPECT_FALSE(requests.contains("currentPage%7C2--snapId%7C0.htm"));
    EXPECT_TRUE(requests.contains("currentPage%7C3--snapId%7C0.htm"));
    EXPECT_TRUE(requests.contains("currentPage%7C5--snapId%7C0.htm"));
    EXPECT_EQ(count("select count(*) from pjinfo"), 120);
}

TEST_F(MiningRuns, RowsThatCannotBeMinedArePassedOver)
{
    startMarket({"--shops", "2", "--ratings", "40", "--seed", "2"});
    QList<TMiningRun::Row> rows = rowsFor({0, 1});
    rows[0].shop.webaddr = "http://elsewhere.example/shop/1.htm";               // not on the marketplace
    rows.insert(1, TMiningRun::Row{true, {"nobody", "", "", "", "0", "", ""}}); // no address
    rows.append(TMiningRun::Row{false, rowsFor({0}).first().shop});             // not marked
    TMiningRun run(dm);
    ASSERT_TRUE(mine(run, rows));
    EXPECT_EQ(run.minedCount(), 1);
    EXPECT_EQ(count("select count(*) from pjinfo"), 40);
    EXPECT_EQ(count("select count(distinct dian_id) from pjinfo"), 1);
}

TEST_F(MiningRuns, CancelKeepsTheRatingsReadSoFar)
{
    // The market answers the shop page and the first rating page only, so the cancel comes
    // while the other pages (and the next shop's) are in flight, however busy the machine.
    startMarket({"--shops", "2", "--ratings", "400", "--seed", "4", "--hold-after", "2"});
    TMiningRun run(dm);
    int read = 0;
    bool over = false, cancelled = false;
    QObject::connect(&run, &TMiningRun::ratingsReadChanged, &run, [&](int n) { read = n; });
    QObject::connect(&run, &TMiningRun::finished, &run, [&](bool c) {
        over = true;
        cancelled = c;
    });
    ASSERT_EQ(run.start(rowsFor({0, 1}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return read >= 40; }));
    run.cancel();
    EXPECT_TRUE(over);
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(run.running());
    ASSERT_TRUE(waitFor([&] { return !run.saving(); }));
    EXPECT_EQ(count("select count(*) from pjinfo"), 40);
    EXPECT_EQ(count("select count(distinct dian_id) from pjinfo"), 1);
}

TEST_F(MiningRuns, AFailingPageEndsTheRunWithTheRatingsReadSaved)
{
    // Requests: shop page, rating pages 1 and 2, then the failing one.
    startMarket({"--shops", "2", "--ratings", "200", "--seed", "9", "--fail-every", "4"});
    setNet(0, 0, 0); // no retries: the first failure is final
    TMiningRun run(dm);
    QString failure;
    QObject::connect(&run, &TMiningRun::downloadFailed, &run, [&](const QString& e) { failure = e; });
    bool cancelled = false;
    QObject::connect(&run, &TMiningRun::finished, &run, [&](bool c) { cancelled = c; });
    ASSERT_TRUE(mine(run, rowsFor({0, 1})));
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(count("select count(*) from pjinfo"), 80);
}

TEST_F(MiningRuns, SearchCancelKeepsTheShopsOfThePagesRead)
{
    startMarket({"--shops", "200", "--ratings", "1", "--seed", "6", "--latency", "200"});
    SearchCriteria criteria;
    criteria.shopname = ""; // every shop has a name part "店"
    criteria.category = 1;
    criteria.requested = 0;
    TSearchRun search;
    int pagesShops = 0;
    bool over = false, cancelled = false;
    QList<ShopRow> rows;
    QObject::connect(&search, &TSearchRun::shopCountChanged, &search, [&](int n) { pagesShops = n; });
    QObject::connect(&search, &TSearchRun::finished, &search, [&](const QList<ShopRow>& r, bool c) {
        rows = r;
        over = true;
        cancelled = c;
    });
    ASSERT_TRUE(search.start(criteria, m_config));
    search.cancel();
    EXPECT_TRUE(over);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_FALSE(search.running());
    waitFor([] { return false; }, 500); // the page in flight arrives and is ignored
    EXPECT_FALSE(search.running());
    EXPECT_EQ(pagesShops, 0);
}

TEST_F(MiningRuns, OddCriteriaTextsReachTheMarketplaceAsTyped)
{
    startMarket({"--shops", "5", "--ratings", "1", "--log", m_dir.filePath("requests.log")});
    SearchCriteria criteria;
    criteria.shopname = "A B\"&'店\U0001F600"; // blank, quote, ampersand, Chinese, a character outside GBK
    criteria.loc = "上海";
    TSearchRun search;
    bool over = false;
    QList<ShopRow> found(1);
    QObject::connect(&search, &TSearchRun::finished, &search, [&](const QList<ShopRow>& rows, bool) {
        found = rows;
        over = true;
    });
    ASSERT_TRUE(search.start(criteria, m_config));
    ASSERT_TRUE(waitFor([&] { return over; }));
    EXPECT_TRUE(found.isEmpty()); // nothing matches; the run still ends
    QFile log(m_dir.filePath("requests.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray first = log.readAll().split('\n').first();
    const std::string expected =
        "&shopname=A%20B\"%26'" + gbk::fromUtf8("店\U0001F600") + "&loc=" + gbk::fromUtf8("上海") + "&";
    EXPECT_TRUE(first.contains(QByteArray::fromStdString(expected))) << first.toStdString();
}

// "&" and "=" in a name would start a parameter of their own (a level filter here): the name
// reaches the marketplace as one value.
TEST_F(MiningRuns, TheCommandLineSendsANameWithQuerySignsAsOneValue)
{
    startMarket({"--shops", "5", "--ratings", "1", "--log", m_dir.filePath("requests.log")});
    QProcess cli;
    cli.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
              {"--data-dir", m_dir.path(), "search", "--shopname", "小&levels=99", "--count", "1"});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    QFile log(m_dir.filePath("requests.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray first = log.readAll().split('\n').first();
    const std::string expected = "?sort=&shopname=" + gbk::fromUtf8("小") + "%26levels%3D99&";
    EXPECT_TRUE(first.contains(QByteArray::fromStdString(expected + " HTTP/"))) << first.toStdString();
}

TEST_F(MiningRuns, TheCommandLineFailsOnAFailedDownload)
{
    startMarket({"--shops", "2", "--ratings", "120", "--fail-every", "3"});
    // One page at a time: which request is the third one the market sees is then certain.
    appendConfig("[Net]\r\nRetries=0\r\nConnections=1\r\n");
    QProcess cli;
    cli.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
              {"--data-dir", m_dir.path(), "mine", shop(0)["address"].toString()});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(cli.readAllStandardError().contains("download failed"));
    EXPECT_EQ(count("select count(*) from pjinfo"), 40); // the page read before the failure is kept
    // The ratings read are stored, but the shop is not told as whole.
    const QByteArray out = cli.readAllStandardOutput();
    EXPECT_TRUE(out.contains("\"stored\": 40, \"failed\": 0, \"complete\": false")) << out.toStdString();
}

TEST_F(MiningRuns, TheCommandLineFailsWhenRatingsCouldNotBeStored)
{
    startMarket({"--shops", "1", "--ratings", "40"});
    // Every rating insert is refused by the database; the shop row itself can be written.
    ASSERT_TRUE(dm.adoCn.exec(
        "CREATE TRIGGER refuse_ratings BEFORE INSERT ON pjInfo BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QProcess cli;
    cli.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
              {"--data-dir", m_dir.path(), "mine", shop(0)["address"].toString()});
    ASSERT_TRUE(cli.waitForFinished(30000));
    const QByteArray out = cli.readAllStandardOutput();
    EXPECT_TRUE(out.contains("\"stored\": 0, \"failed\": 40")) << out.toStdString();
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(cli.readAllStandardError().contains("40 ratings")) << "the shortfall is named";
    EXPECT_EQ(count("select count(*) from pjinfo"), 0);
}

TEST(MiningCli, AKilledSaveLeavesAConsistentDatabase)
{
    ensureCoreApp();
    QTemporaryDir dir;
    const QString requests = dir.filePath("requests.log");
    MarketProcess market({"--shops", "1", "--ratings", "20000", "--seed", "3", "--log", requests});
    ASSERT_TRUE(market.running());
    QFile config(dir.filePath("config.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    const QByteArray host = "127.0.0.1:" + QByteArray::number(market.port());
    config.write("[Market]\r\nRatingHost=http://" + host + "\r\nDomain=127.0.0.1\r\n");
    config.close();

    QProcess cli;
    cli.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
              {"--data-dir", dir.path(), "mine", "--to", "20000",
               QString::fromStdString(market.url("/shop/1.htm"))});
    ASSERT_TRUE(cli.waitForStarted());
    // The saver starts once every page is read; kill the program while it writes. Standard
    // error is no terminal here, so the market's request log tells how far the walk is.
    auto lastPageAsked = [&] {
        QFile log(requests);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("currentPage%7C500--");
    };
    while (!lastPageAsked() && !cli.waitForFinished(20))
        ;
    QThread::msleep(100);
    const qint64 pid = cli.processId();
    ASSERT_GT(pid, 0) << "the program ended before it could be killed";
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    cli.waitForFinished();

    TDM dm;
    ASSERT_TRUE(dm.DataModuleCreate(dir.filePath("quelmar2.mdb")));
    dm.ADOQuery1->SetSQL("PRAGMA integrity_check");
    ASSERT_TRUE(dm.ADOQuery1->Open());
    EXPECT_EQ(dm.ADOQuery1->value(0, 0).toString(), "ok");
    dm.ADOQuery1->SetSQL("select count(*) from pjinfo");
    ASSERT_TRUE(dm.ADOQuery1->Open());
    const qlonglong n = dm.ADOQuery1->value(0, 0).toLongLong();
    EXPECT_TRUE(n == 0 || n == 20000) << n; // one transaction: all or nothing
    dm.ADOQuery1->Close();

    // The same run again, re-mining only what is new, completes the shop.
    QProcess again;
    again.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                {"--data-dir", dir.path(), "mine", "--new-only", "--to", "20000",
                 QString::fromStdString(market.url("/shop/1.htm"))});
    ASSERT_TRUE(again.waitForFinished(120000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    dm.ADOQuery1->SetSQL("select count(*), count(distinct itemId_pjsj) from pjinfo");
    ASSERT_TRUE(dm.ADOQuery1->Open());
    EXPECT_EQ(dm.ADOQuery1->value(0, 0).toLongLong(), 20000);
    EXPECT_EQ(dm.ADOQuery1->value(0, 1).toLongLong(), 20000);
}

} // namespace
