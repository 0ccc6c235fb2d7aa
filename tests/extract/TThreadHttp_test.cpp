#include "LoopbackPort.h"
#include "MarketProcess.h"
#include "RawServer.h"
#include "TinyProxy.h"
#include "WorkerRecorder.h"

#include "text/GbkCodec.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using Kind = WorkerRecorder::Kind;

std::string g(const char* utf8)
{
    return gbk::fromUtf8(utf8);
}

std::vector<std::string> lines(const QString& path)
{
    QFile f(path);
    std::vector<std::string> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.isEmpty())
            out.push_back(line.toStdString());
    return out;
}

bool contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

// Position of the first status event of a kind, or -1.
int indexOf(const WorkerRecorder& r, HttpStatus kind)
{
    for (size_t i = 0; i < r.events().size(); ++i)
        if (r.events()[i].kind == Kind::Status && r.events()[i].status == kind)
            return int(i);
    return -1;
}

int indexOf(const WorkerRecorder& r, Kind kind)
{
    for (size_t i = 0; i < r.events().size(); ++i)
        if (r.events()[i].kind == kind)
            return int(i);
    return -1;
}

struct ShortReadTimeout
{
    explicit ShortReadTimeout(int ms)
    {
        TThreadHttp::setReadTimeoutForTesting(std::chrono::milliseconds(ms));
    }
    ~ShortReadTimeout() { TThreadHttp::setReadTimeoutForTesting(std::chrono::milliseconds(0)); }
};

} // namespace

TEST(TThreadHttpAddress, EncodesOnlyBytesThatCannotStandOnARequestLine)
{
    EXPECT_EQ(TThreadHttp::requestLineUrl("http://h/a b#c\t\x7f\r\n"), "http://h/a%20b%23c%09%7F%0D%0A");
    // GBK characters whose second byte is '|' or '\', and ASCII that libcurl takes as it is.
    const std::string kept = "http://h/s.htm?n=" + g("店铺億乗") + "&x=%7C|{}\\^`[]\"<>&";
    EXPECT_EQ(TThreadHttp::requestLineUrl(kept), kept);
}

TEST(TThreadHttpMarket, DeliversEveryEventInOrderOnTheUserInterfaceThread)
{
    MarketProcess market;
    ASSERT_TRUE(market.running());
    WorkerRecorder r;
    ASSERT_TRUE(r.run(market.url("/shop/1.htm"))) << "the worker did not free itself";

    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    for (const auto& e : r.events())
        EXPECT_TRUE(e.onMainThread);
    int resolving = indexOf(r, HttpStatus::Resolving), connecting = indexOf(r, HttpStatus::Connecting),
        connected = indexOf(r, HttpStatus::Connected), statusLine = indexOf(r, HttpStatus::Text),
        begin = indexOf(r, Kind::WorkBegin), work = indexOf(r, Kind::Work), end = indexOf(r, Kind::WorkEnd),
        closing = indexOf(r, HttpStatus::Disconnecting), closed = indexOf(r, HttpStatus::Disconnected);
    EXPECT_EQ(resolving, 0);
    EXPECT_TRUE(resolving < connecting && connecting < connected && connected < statusLine &&
                statusLine < begin && begin < work && work < end && end < closing && closing < closed)
        << resolving << connecting << connected << statusLine << begin << work << end << closing << closed;
    EXPECT_TRUE(r.events()[size_t(statusLine)].text.startsWith(QLatin1String("HTTP/1.1 200")));

    // A server that keeps the connection: one Disconnected, the final one, with the page.
    EXPECT_EQ(r.count(HttpStatus::Disconnected), 1);
    EXPECT_EQ(r.count(HttpStatus::Disconnecting), 1);
    const auto& last = r.events().back();
    EXPECT_TRUE(last.ended);
    EXPECT_TRUE(contains(r.finalBody(), g("信用评价")));
    EXPECT_EQ(last.bodySize, r.finalBody().size());

    // Progress: the announced size, rising counts ending at the body size; no page before
    // the transfer has ended.
    EXPECT_EQ(r.events()[size_t(begin)].value, qint64(r.finalBody().size()));
    qint64 previous = 0;
    for (const auto& e : r.events()) {
        if (e.kind == Kind::Work) {
            EXPECT_GT(e.value, previous);
            previous = e.value;
        }
        if (&e - &r.events()[0] <= end) {
            EXPECT_EQ(e.bodySize, 0u);
        }
    }
    EXPECT_EQ(previous, qint64(r.finalBody().size()));
}

TEST(TThreadHttpMarket, ServerClosingTheConnectionGivesAnEarlyDisconnectedWithoutPage)
{
    MarketProcess market({QStringLiteral("--close")});
    ASSERT_TRUE(market.running());
    WorkerRecorder r;
    ASSERT_TRUE(r.run(market.url("/shop/2.htm")));
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();

    std::vector<const WorkerRecorder::Event*> closed;
    for (const auto& e : r.events())
        if (e.kind == Kind::Status && e.status == HttpStatus::Disconnected)
            closed.push_back(&e);
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_FALSE(closed[0]->ended);
    EXPECT_EQ(closed[0]->bodySize, 0u);
    EXPECT_EQ(closed[0]->resultCode, "0");
    EXPECT_TRUE(closed[1]->ended);
    EXPECT_GT(closed[1]->bodySize, 0u);
    EXPECT_LT(indexOf(r, Kind::Work), indexOf(r, HttpStatus::Disconnected));
    EXPECT_LT(indexOf(r, HttpStatus::Disconnected), indexOf(r, HttpStatus::Disconnecting));
}

TEST(TThreadHttpMarket, SendsTheFixedUserAgentNoRangeAndNoCookieOfAnEarlierDownload)
{
    MarketProcess market;
    ASSERT_TRUE(market.running());
    {
        WorkerRecorder first;
        ASSERT_TRUE(first.run(market.url("/test/cookie")));
        ASSERT_TRUE(first.succeeded());
    }
    WorkerRecorder second;
    ASSERT_TRUE(second.run(market.url("/test/headers")));
    ASSERT_TRUE(second.succeeded());
    const std::string& headers = second.finalBody();
    EXPECT_TRUE(contains(headers, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows 98; Maxthon)\n"))
        << headers;
    EXPECT_FALSE(contains(headers, "Range:"));
    EXPECT_FALSE(contains(headers, "Cookie:"));
}

TEST(TThreadHttpMarket, GbkQueryWithBlankAndHashArrivesByteForByte)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("requests.log"));
    MarketProcess market({QStringLiteral("--log"), log});
    ASSERT_TRUE(market.running());
    // 億 and 乗 end with the bytes '|' and '\'; the blank and '#' must be escaped, nothing else.
    const std::string query = "/browse/shop-13.htm?sort=&shopname=" + g("青禾") + "&sellername=" + g("億乗");
    WorkerRecorder r;
    ASSERT_TRUE(r.run(market.url(query + " x#1&ratesum=1,3,")));
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    EXPECT_TRUE(contains(r.finalBody(), g("搜索结果")));
    EXPECT_EQ(lines(log), std::vector<std::string>{"GET " + query + "%20x%231&ratesum=1,3, HTTP/1.1"});
}

TEST(TThreadHttpMarket, RedirectIsNotFollowedAndFails)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("requests.log"));
    MarketProcess market({QStringLiteral("--log"), log});
    ASSERT_TRUE(market.running());
    WorkerRecorder r;
    ASSERT_TRUE(r.run(market.url("/test/redirect")));
    EXPECT_TRUE(r.failedCleanly());
    EXPECT_TRUE(r.failureText().contains(QLatin1String("302"))) << r.failureText().toStdString();
    EXPECT_EQ(lines(log).size(), 1u) << "the redirect target was fetched";
}

TEST(TThreadHttpMarket, ErrorStatusesAndCutConnectionsFailWithOneFinalDisconnected)
{
    MarketProcess market;
    ASSERT_TRUE(market.running());
    for (const char* path : {"/test/status/404", "/test/status/500", "/test/truncate", "/no/such/page"}) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(market.url(path))) << path;
        EXPECT_TRUE(r.failedCleanly()) << path;
        EXPECT_TRUE(r.first(Kind::Failure)->onMainThread);
    }

    MarketProcess dropping({QStringLiteral("--fail-every"), QStringLiteral("1"),
                            QStringLiteral("--fail-mode"), QStringLiteral("drop")});
    MarketProcess busy({QStringLiteral("--fail-every"), QStringLiteral("2")});
    ASSERT_TRUE(dropping.running() && busy.running());
    WorkerRecorder cut;
    ASSERT_TRUE(cut.run(dropping.url("/shop/1.htm")));
    EXPECT_TRUE(cut.failedCleanly());
    for (int i = 1; i <= 2; ++i) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(busy.url("/shop/1.htm")));
        EXPECT_EQ(r.failedCleanly(), i == 2) << "request " << i;
    }
}

TEST(TThreadHttpMarket, UnreachablePortFailsWithoutEverConnecting)
{
    ensureCoreApp();
    WorkerRecorder r;
    ASSERT_TRUE(r.run("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/"));
    EXPECT_TRUE(r.failedCleanly());
    EXPECT_EQ(r.count(HttpStatus::Connected), 0);
    EXPECT_EQ(r.count(HttpStatus::Disconnected), 1);
    EXPECT_EQ(r.count(Kind::WorkBegin), 0);
}

TEST(TThreadHttpMarket, OnlyPlainHttpIsFetched)
{
    RawServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 0}}, false);
    WorkerRecorder r;
    ASSERT_TRUE(r.run("https://127.0.0.1:" + std::to_string(server.port()) + "/"));
    EXPECT_TRUE(r.failedCleanly());
}

TEST(TThreadHttpTimeout, NoByteForTheReadTimeOutFails)
{
    ShortReadTimeout timeout(700);
    {
        RawServer silent({}, true);
        WorkerRecorder r;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(r.run(silent.url()));
        EXPECT_TRUE(r.failedCleanly());
        EXPECT_TRUE(r.failureText().contains(QLatin1String("no data"))) << r.failureText().toStdString();
        EXPECT_LT(clock.elapsed(), 5000);
    }
    {
        // Stalling in the middle of the body: the transfer started, so it also ends.
        RawServer stalled({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", 0}}, true);
        WorkerRecorder r;
        ASSERT_TRUE(r.run(stalled.url()));
        EXPECT_TRUE(r.failedCleanly());
        EXPECT_EQ(r.count(Kind::WorkBegin), 1);
        EXPECT_EQ(r.count(Kind::WorkEnd), 1);
    }
}

TEST(TThreadHttpTimeout, SlowButSteadyServerIsNotCutOff)
{
    // Longer in total than the time-out, but never silent for that long.
    ShortReadTimeout timeout(700);
    std::vector<RawServer::Piece> script{{"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n", 0}};
    for (int i = 0; i < 6; ++i)
        script.push_back({"x", 250});
    RawServer drip(script, false);
    WorkerRecorder r;
    ASSERT_TRUE(r.run(drip.url()));
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    EXPECT_EQ(r.finalBody(), "xxxxxx");
}

TEST(TThreadHttpMarket, BodyLargerThanTheCapFails)
{
    MarketProcess market;
    ASSERT_TRUE(market.running());
    const std::string over = std::to_string(TThreadHttp::kBodyCap + 1);
    for (const std::string& path : {"/test/bytes/" + over, "/test/bytes/" + over + "?chunked=1"}) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(market.url(path), {}, 60000)) << path;
        EXPECT_TRUE(r.failedCleanly()) << path;
        EXPECT_TRUE(r.failureText().contains(QLatin1String("larger"))) << r.failureText().toStdString();
    }
    WorkerRecorder r;
    ASSERT_TRUE(r.run(market.url("/test/bytes/1048576?chunked=1")));
    ASSERT_TRUE(r.succeeded());
    EXPECT_EQ(r.finalBody().size(), 1048576u);
}

TEST(TThreadHttpMarket, TerminateDoesNotInterruptTheDownload)
{
    MarketProcess market({QStringLiteral("--latency"), QStringLiteral("300")});
    ASSERT_TRUE(market.running());
    WorkerRecorder r;
    bool stopSeenAtEnd = false;
    r.m_afterCreate = [](TThreadHttp* w) { w->Terminate(); };
    r.m_onStatus = [&](TThreadHttp* w, HttpStatus kind) {
        if (kind == HttpStatus::Disconnected && w->Ended())
            stopSeenAtEnd = w->StopRequested();
    };
    ASSERT_TRUE(r.run(market.url("/shop/3.htm")));
    EXPECT_TRUE(r.succeeded());
    EXPECT_TRUE(stopSeenAtEnd);
    EXPECT_FALSE(r.finalBody().empty());
    EXPECT_TRUE(r.m_worker.isNull()) << "an owner's QPointer must see the worker gone";
}

TEST(TThreadHttpMarket, SinkDeletedDuringTheDownloadDropsLaterEvents)
{
    MarketProcess market({QStringLiteral("--latency"), QStringLiteral("100")});
    ASSERT_TRUE(market.running());
    WorkerRecorder r;
    r.m_onStatus = [&](TThreadHttp*, HttpStatus kind) {
        if (kind == HttpStatus::Connected)
            r.sink()->deleteLater();
    };
    ASSERT_TRUE(r.run(market.url("/shop/4.htm")));
    EXPECT_EQ(r.events().back().status, HttpStatus::Connected);
}

class TThreadHttpProxy : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ensureCoreApp();
        s_log = new QTemporaryDir;
        s_market =
            new MarketProcess({QStringLiteral("--log"), s_log->filePath(QStringLiteral("requests.log"))});
        s_proxy = new TinyProxy(QStringLiteral("alice"), QStringLiteral("s3cret"));
    }
    static void TearDownTestSuite()
    {
        delete s_proxy;
        delete s_market;
        delete s_log;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_market->running());
        ASSERT_TRUE(s_proxy->ready()) << "tinyproxy is missing or did not start (scripts/setup installs it)";
    }
    static THttpAgent agent(int type, const QString& password = QStringLiteral("s3cret"))
    {
        THttpAgent a;
        a.AgentType = type;
        a.Server = QStringLiteral("127.0.0.1");
        a.Port = s_proxy->port();
        a.User = QStringLiteral("alice");
        a.Password = password;
        a.Domain = QStringLiteral("ignored");
        return a;
    }

    static QTemporaryDir* s_log;
    static MarketProcess* s_market;
    static TinyProxy* s_proxy;
};

QTemporaryDir* TThreadHttpProxy::s_log = nullptr;
MarketProcess* TThreadHttpProxy::s_market = nullptr;
TinyProxy* TThreadHttpProxy::s_proxy = nullptr;

TEST_F(TThreadHttpProxy, AgentTypeOneGoesThroughTheProxyWithUserAndPassword)
{
    WorkerRecorder r;
    ASSERT_TRUE(r.run(s_market->url("/test/headers"), agent(1)));
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    EXPECT_TRUE(contains(r.finalBody(), "Via: ")) << r.finalBody();
}

TEST_F(TThreadHttpProxy, AnyOtherAgentTypeConnectsDirectly)
{
    for (int type : {0, 2, -1}) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(s_market->url("/test/headers"), agent(type, QStringLiteral("wrong"))));
        ASSERT_TRUE(r.succeeded()) << type;
        EXPECT_FALSE(contains(r.finalBody(), "Via: ")) << type;
    }
}

TEST_F(TThreadHttpProxy, RefusedCredentialsAreAFailedDownload)
{
    THttpAgent noUser = agent(1);
    noUser.User.clear();
    for (const THttpAgent& a : {agent(1, QStringLiteral("wrong")), noUser}) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(s_market->url("/shop/1.htm"), a));
        EXPECT_TRUE(r.failedCleanly());
        EXPECT_TRUE(r.failureText().contains(QLatin1String("401")) ||
                    r.failureText().contains(QLatin1String("407")))
            << r.failureText().toStdString();
    }
}

TEST_F(TThreadHttpProxy, UnreachableOrUnsetProxyFails)
{
    THttpAgent dead = agent(1);
    dead.Port = freeLoopbackPort();
    THttpAgent unset = agent(1);
    unset.Server.clear();
    for (const THttpAgent& a : {dead, unset}) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(s_market->url("/shop/1.htm"), a));
        EXPECT_TRUE(r.failedCleanly());
    }
}

TEST_F(TThreadHttpProxy, ProxyVariablesOfTheEnvironmentAreIgnored)
{
    const std::string dead = "http://127.0.0.1:" + std::to_string(freeLoopbackPort());
    ::setenv("http_proxy", dead.c_str(), 1);
    ::setenv("no_proxy", "127.0.0.1", 1);
    WorkerRecorder direct;
    bool directDone = direct.run(s_market->url("/test/headers"), agent(0));
    WorkerRecorder proxied;
    bool proxiedDone = proxied.run(s_market->url("/test/headers"), agent(1));
    ::unsetenv("http_proxy");
    ::unsetenv("no_proxy");
    ASSERT_TRUE(directDone && proxiedDone);
    EXPECT_TRUE(direct.succeeded());
    EXPECT_TRUE(proxied.succeeded());
    EXPECT_TRUE(contains(proxied.finalBody(), "Via: "));
}

TEST_F(TThreadHttpProxy, GbkQueryThroughTheProxyArrivesByteForByte)
{
    const std::string query = "/browse/shop-.htm?sort=&keybiz=" + g("茶叶億乗") + "&";
    WorkerRecorder r;
    ASSERT_TRUE(r.run(s_market->url(query), agent(1)));
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    std::vector<std::string> received = lines(s_log->filePath(QStringLiteral("requests.log")));
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().substr(0, received.back().rfind(' ')), "GET " + query);
}

TEST(TThreadHttpTimeout, TimeInTheOwnersHandlerDoesNotCountAsSilence)
{
    // The handler of the first bytes keeps the user-interface thread busy for longer than the
    // time-out; the rest of the body comes soon after it returns.
    ShortReadTimeout timeout(1000);
    RawServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabc", 0}, {"def", 3000}}, false);
    WorkerRecorder r;
    bool blocked = false;
    r.m_onWork = [&](TThreadHttp*, qint64) {
        if (!blocked) {
            blocked = true;
            QThread::msleep(2500);
        }
    };
    ASSERT_TRUE(r.run(server.url()));
    EXPECT_TRUE(blocked);
    ASSERT_TRUE(r.succeeded()) << r.failureText().toStdString();
    EXPECT_EQ(r.finalBody(), "abcdef");
}

TEST(TThreadHttpMarket, FailuresThatMayPassAreRetryableOthersAreFinal)
{
    MarketProcess market;
    ASSERT_TRUE(market.running());
    TThreadHttp::Options quiet;
    quiet.quietIfRetryable = true;
    quiet.emptyBodyFails = true;
    struct Case
    {
        std::string url;
        bool retryable;
    };
    RawServer empty({{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0}}, false);
    const std::vector<Case> cases = {
        {market.url("/test/status/500"), true},
        {market.url("/test/status/503"), true},
        {market.url("/test/status/429"), true},
        {market.url("/test/truncate"), true},
        {"http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/", true},
        {empty.url(), true},
        {market.url("/test/status/404"), false},
        {market.url("/test/status/403"), false},
        {market.url("/test/redirect"), false},
        {"https://127.0.0.1:" + std::to_string(market.port()) + "/", false},
    };
    for (const Case& c : cases) {
        WorkerRecorder r;
        ASSERT_TRUE(r.run(c.url, {}, 15000, quiet)) << c.url;
        EXPECT_EQ(r.m_retryable, c.retryable) << c.url;
        // A retryable failure skips the failure handler; the final event still says it failed.
        EXPECT_EQ(r.m_quiet, c.retryable) << c.url;
        EXPECT_EQ(r.count(Kind::Failure), c.retryable ? 0 : 1) << c.url;
        EXPECT_EQ(r.events().back().resultCode, "100860") << c.url;
        EXPECT_EQ(r.events().back().bodySize, 0u) << c.url;
    }
    // Without the option an empty page is a page, as the options dialog's test expects.
    WorkerRecorder plain;
    ASSERT_TRUE(plain.run(empty.url()));
    EXPECT_TRUE(plain.succeeded());
}

TEST(TThreadHttpMarket, RetryAfterOfAThrottledAnswerIsRead)
{
    RawServer seconds({{"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 7\r\nContent-Length: 0\r\n\r\n", 0}},
                      false);
    WorkerRecorder r;
    ASSERT_TRUE(r.run(seconds.url()));
    EXPECT_TRUE(r.failedCleanly());
    EXPECT_TRUE(r.m_retryable);
    EXPECT_EQ(r.m_retryAfterMs, 7000);

    RawServer busy({{"HTTP/1.1 503 Busy\r\nRetry-After: 7\r\nContent-Length: 0\r\n\r\n", 0}}, false);
    WorkerRecorder b;
    ASSERT_TRUE(b.run(busy.url()));
    EXPECT_TRUE(b.m_retryable);
    EXPECT_EQ(b.m_retryAfterMs, 0); // only a 429 sets the pause
}
