// Addresses given to "kestrova-cli mine": only the configured marketplace domain is mined.
#include "cli/CliProcess.h"
#include "mining/ShopAddress.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Result = CliResult;

Result cli(const QString& dataDir, const QStringList& args)
{
    return runCli(dataDir, args);
}

TEST(ShopAddress, OnlyHttpAddressesOnTheDomainOrUnderItPass)
{
    for (const char* good : {"http://127.0.0.1/shop", "https://127.0.0.1:8631/shop?id=1", "HTTP://127.0.0.1",
                             "http://127.0.0.1:8631#top"}) {
        EXPECT_EQ(shopaddress::problem(good, "127.0.0.1"), QString()) << good;
    }
    for (const char* good :
         {"http://shop.market.example/x", "http://Market.Example/x", "http://a.b.market.example"})
        EXPECT_EQ(shopaddress::problem(good, "market.example"), QString()) << good;
    // A domain written with its port wants that port.
    EXPECT_EQ(shopaddress::problem("http://127.0.0.1:8631/x", "127.0.0.1:8631"), QString());
    EXPECT_NE(shopaddress::problem("http://127.0.0.1:9999/x", "127.0.0.1:8631"), QString());

    const struct
    {
        const char* url;
        const char* reason;
    } bad[] = {
        {"", "empty"},
        {"   ", "empty"},
        {"notaurl", "not an http"},
        {"127.0.0.1/shop", "not an http"},
        {"://127.0.0.1/", "not an http"},
        {"ftp://127.0.0.1/shop", "scheme ftp"},
        {"file:///etc/passwd", "scheme file"},
        {"javascript://127.0.0.1", "scheme javascript"},
        {"http://elsewhere.example/x", "host elsewhere.example"},
        {"http://127.0.0.1.evil.example/", "host 127.0.0.1.evil.example"},
        {"http://evil127.0.0.1/", "host evil127.0.0.1"},
        {"http://127.0.0.10/", "host 127.0.0.10"},
        {"http://127.0.0.1@evil.example/", "user name"},
        {"http://evil.example\\@127.0.0.1/", "backslash"},
        {"http://127.0.0.1 .evil.example/", "blank"},
        {"http:///shop", "no host"},
        {"http://127.0.0.1:99999/", "port 99999"},
        {"http://127.0.0.1:/", "port"},
    };
    for (const auto& b : bad) {
        const QString why = shopaddress::problem(QString::fromUtf8(b.url), "127.0.0.1");
        EXPECT_TRUE(why.contains(QLatin1String(b.reason))) << b.url << ": " << why.toStdString();
    }
    EXPECT_TRUE(shopaddress::problem("http://127.0.0.1/", "").contains("no marketplace domain"));
}

TEST(CliMine, BadAddressesAreNamedAndNothingIsStored)
{
    QTemporaryDir dir;
    const QStringList bad{"notaurl",
                          "ftp://127.0.0.1/shop",
                          "http://elsewhere.example/x",
                          "http://127.0.0.1.evil.example/shop",
                          "http://x127.0.0.1/",
                          ""};
    for (const QString& address : bad) {
        SCOPED_TRACE(address.toStdString());
        // A good address beside it is neither stored nor fetched either.
        Result r = cli(dir.path(), {"mine", "http://127.0.0.1:1/shop/1", address});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains("\"" + address + "\": ")) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("127.0.0.1:1/shop/1")) << r.err.toStdString();
    }
    Result all = cli(dir.path(), QStringList{"mine"} + bad);
    EXPECT_EQ(all.status, 2);
    EXPECT_EQ(all.err.count("kestrova-cli mine: "), bad.size()) << all.err.toStdString();

    Result count = cli(dir.path(), {"sql", "select count(*) as n from dianBase"});
    EXPECT_EQ(count.out, "{\"n\": 0}\n") << count.err.toStdString();
}

TEST(CliMine, BadAddressLeavesTheDatabaseUntouched)
{
    // Refused before the database is opened: no file is created, and a damaged one does not
    // turn the bad usage into a database failure.
    QTemporaryDir dir;
    Result r = cli(dir.path(), {"mine", "notaurl"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(QFile::exists(dir.filePath("quelmar2.mdb")));

    QFile damaged(dir.filePath("quelmar2.mdb"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    r = cli(dir.path(), {"mine", "http://elsewhere.example/x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("elsewhere.example")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("quelmar2.mdb")) << r.err.toStdString();
}

TEST(CliMine, TheDomainComesFromTheConfigurationFile)
{
    QTemporaryDir dir;
    QFile config(dir.filePath("config.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[Net]\r\nAgentType=0\r\nPort=0\r\n[Market]\r\nDomain=market.example\r\n");
    config.close();
    Result r = cli(dir.path(), {"mine", "http://127.0.0.1:1/shop"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("market.example")) << r.err.toStdString();
}

} // namespace
