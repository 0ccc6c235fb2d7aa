#include "extract/SamplePages.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// kestrova-cli parse, run as a user runs it: saved pages in, JSON lines out.

namespace {

struct CliRun
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

class ParseCli : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;

    QString write(const QString& name, const std::string& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }

    CliRun run(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                QStringList{QStringLiteral("--data-dir"), m_dir.filePath(QStringLiteral("data")),
                            QStringLiteral("parse")} +
                    args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }
};

QList<QByteArray> lines(const QByteArray& out)
{
    QList<QByteArray> l = out.split('\n');
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

TEST_F(ParseCli, SearchPrintsShopsThenTheWalkState)
{
    sample::ResultPage first;
    first.total = "85";
    first.shops = sample::shops(40);
    first.shops[0].keeper = "乗风"; // trail byte '\' must not become a JSON escape
    sample::ResultPage second = first;
    second.shops = sample::shops(40, 41);
    const QString p1 = write("p1.html", sample::resultPage(first));
    const QString p2 = write("p2.html", sample::resultPage(second));

    const CliRun r = run({"search", "--limit", "45", "--page-size", "40", p1, p2, p2});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QList<QByteArray> out = lines(r.out);
    ASSERT_EQ(out.size(), 46);
    EXPECT_TRUE(out[0].startsWith(
        R"({"key": "1", "dianzhu": "乗风", "dianming": "小熊的店1", "loc": "女装 饰品 家居", )"
        R"("webaddr": "http://shop1.market.test/", "commodityNum": "101", "addr": "浙江 杭州"})"))
        << out[0].toStdString();
    const QJsonObject last = QJsonDocument::fromJson(out[44]).object();
    EXPECT_EQ(last.value("key").toString(), "45");
    EXPECT_EQ(last.value("dianzhu").toString(), QString::fromUtf8("掌柜45"));
    EXPECT_EQ(out[45],
              R"({"TotalFound": 85, "Limit": 45, "ShopCount": 45, "PagesNeeded": 2, "TotalPages": 3, )"
              R"("PageNo": 3, "Ready": true, "Finished": true})");
    EXPECT_TRUE(QFile::exists(m_dir.filePath("data/config.ini"))) << "the configuration is created";
    EXPECT_EQ(lines(run({"search", p1}).out).size(), 11) << "ten shops by default";
}

TEST_F(ParseCli, ProfileUsesTheConfiguredRatingHost)
{
    QDir().mkpath(m_dir.filePath("data"));
    QFile ini(m_dir.filePath("data/config.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Net]\nAgentType=0\nPort=0\n[Market]\nRatingHost=http://rate.market.test\n");
    ini.close();

    sample::RatingPage page1;
    page1.rows = sample::ratings(40);
    page1.rows[0].comment = "说\"好\"\\的";
    sample::RatingPage page2 = page1;
    page2.rows = sample::ratings(40, 40);
    const QString shop = write("shop.html", sample::shopPage({}));
    const QString r1 = write("r1.html", sample::ratingPage(page1)); // as sent: the command folds it
    const QString r2 = write("r2.html", sample::ratingPage(page2));

    const CliRun r = run({"profile", "--from", "1", "--to", "60", shop, r1, r2, r2});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_EQ(lines(r.out).size(), 1);
    EXPECT_TRUE(r.out.startsWith(
        R"({"RatingUrlBase": "http://rate.market.test/user-rate-uxyz2008--buyerOrSeller%7C)"));
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    const QStringList keys = {"RatingUrlBase", "createDate", "saleLevel",     "buyLevel",      "salerCredit",
                              "buyerCredit",   "buyerGood",  "buyerNotBad",   "buyerBad",      "salerGood",
                              "salerNotBad",   "salerBad",   "salerGoodRate", "buyerGoodRate", "TotalRatings",
                              "LastPage",      "PageNo",     "RatingCount",   "FirstPageDone", "Finished",
                              "ratings"};
    qsizetype at = 0;
    for (const QString& key : keys) {
        const qsizetype next = r.out.indexOf("\"" + key.toUtf8() + "\": ", at);
        EXPECT_GT(next, at - 1) << "key order at " << key.toStdString();
        at = next;
    }
    EXPECT_EQ(o.value("createDate").toString(), "2008-03-15");
    EXPECT_EQ(o.value("salerCredit").toInt(), 1205);
    EXPECT_EQ(o.value("saleLevel").toInt(), 8);
    EXPECT_EQ(o.value("TotalRatings").toInt(), 5032);
    EXPECT_EQ(o.value("LastPage").toInt(), 2);
    EXPECT_EQ(o.value("PageNo").toInt(), 3);
    EXPECT_EQ(o.value("RatingCount").toInt(), 80);
    EXPECT_TRUE(o.value("Finished").toBool());
    const QJsonArray ratings = o.value("ratings").toArray();
    ASSERT_EQ(ratings.size(), 80);
    EXPECT_TRUE(
        r.out.contains(R"({"key": "0", "pj": "好评", "pjsj": "2024-03-05 21:14:09", "trade_id": "81000", )"
                       R"("itemId": "55500", "itemTitle": "夏季新款 纯棉t恤", "pjName": "买家0", )"
                       R"("buyerOrSaler": "True", "jg": "10.50", "pjInfo": "说\"好\"\\的", "pjjs": "无"})"));
    EXPECT_EQ(ratings[79].toObject().value("key").toString(), "79");
}

TEST_F(ParseCli, UnreadableInputIsAnErrorWithNothingPrinted)
{
    sample::ResultPage p;
    const QString good = write("p.html", sample::resultPage(p));
    for (const QStringList& args :
         {QStringList{"search", good, m_dir.filePath("missing.html")}, QStringList{"profile", m_dir.path()},
          QStringList{"search"}, QStringList{"search", "--limit", "ten", good},
          QStringList{"search", "--x", good}, QStringList{"search", "--page-size", "0", good},
          QStringList{"scan", good}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
}

} // namespace
