#pragma once

#include "extract/MarketProcess.h"
#include "extract/QtTestApp.h"
#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"
#include "settings/Settings.h"
#include "store/TDM.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

// A demo marketplace on a free port, a configuration pointing at it, a fresh database, and
// helpers that run a search or a mining run to its end on this thread's event loop.
class MarketFixture : public ::testing::Test
{
protected:
    void startMarket(const QStringList& args)
    {
        ensureCoreApp();
        m_market = std::make_unique<MarketProcess>(
            args + QStringList{"--dump-truth", m_dir.filePath("truth.json"), "--today", m_today});
        ASSERT_TRUE(m_market->running());
        writeConfig();
    }

    // Replaces the market by one with other options on the same port, so that the stored
    // shop addresses stay the same; the configuration and the database stay.
    void restartMarket(const QStringList& args)
    {
        const int port = m_market->port();
        m_market.reset();
        m_market = std::make_unique<MarketProcess>(
            args + QStringList{"--port", QString::number(port), "--dump-truth", m_dir.filePath("truth.json"),
                               "--today", m_today});
        ASSERT_TRUE(m_market->running());
        ASSERT_EQ(m_market->port(), port);
        readTruth();
    }

    void writeConfig()
    {
        QFile config(m_dir.filePath("config.ini"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        const QByteArray host = "127.0.0.1:" + QByteArray::number(m_market->port());
        config.write("[Market]\r\nSearchHost=" + host + "\r\nRatingHost=http://" + host +
                     "\r\nSnapHost=http://" + host + "\r\nDomain=127.0.0.1\r\nHomePage=http://" + host +
                     "/\r\nTestUrl=http://" + host + "/\r\n");
        config.close();
        auto loaded = settings::load(m_dir.filePath("config.ini"));
        ASSERT_TRUE(loaded);
        m_config = *loaded;
        ASSERT_TRUE(dm.DataModuleCreate(m_dir.filePath("quelmar2.mdb")));
        readTruth();
    }

    void readTruth()
    {
        QFile truth(m_dir.filePath("truth.json"));
        ASSERT_TRUE(truth.open(QIODevice::ReadOnly));
        m_truth = QJsonDocument::fromJson(truth.readAll()).object();
        ASSERT_FALSE(shops().isEmpty());
    }

    // One connection unless told: the request order of a walk one page at a time.
    void setNet(int retries, int retryDelay, int pageDelay, int connections = 1)
    {
        NetSettings net;
        net.Retries = retries;
        net.RetryDelay = retryDelay;
        net.PageDelay = pageDelay;
        net.Connections = connections;
        m_config.SetNet(net);
    }

    // Adds lines to the configuration file, for the command line.
    void appendConfig(const QByteArray& text)
    {
        QFile config(m_dir.filePath("config.ini"));
        ASSERT_TRUE(config.open(QIODevice::Append));
        config.write(text);
    }

    QJsonArray shops() const { return m_truth.value("shops").toArray(); }
    QJsonObject shop(int i) const { return shops().at(i).toObject(); }

    // Waits on the event loop until done() holds, at most the given time.
    static bool waitFor(const std::function<bool()>& done, int ms = 30000)
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        poll.start(5);
        if (!done())
            loop.exec();
        return done();
    }

    // A result row for the truth's shop i, as the grid would hand it to the mining run.
    QList<TMiningRun::Row> rowsFor(const QList<int>& indices) const
    {
        QList<TMiningRun::Row> rows;
        for (int i : indices) {
            const QJsonObject s = shop(i);
            rows << TMiningRun::Row{true,
                                    {s["shopkeeper"].toString(), s["name"].toString(),
                                     s["business"].toString(), s["address"].toString(), s["goods"].toString(),
                                     s["location"].toString(), QStringLiteral("不限")}};
        }
        return rows;
    }

    // Mines rows to the end (the saver included); false on a time-out.
    bool mine(TMiningRun& run, const QList<TMiningRun::Row>& rows, int from = 1, int to = 5000)
    {
        bool over = false;
        QObject::connect(&run, &TMiningRun::finished, &run, [&] { over = true; });
        if (run.start(rows, from, to, m_config) != TMiningRun::StartResult::Started)
            return false;
        return waitFor([&] { return over && !run.saving(); });
    }

    // The request lines the market logged (with --log FILE).
    QList<QByteArray> requests(const QString& file = "requests.log") const
    {
        QFile log(m_dir.filePath(file));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = log.readAll().split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    // Every stored field of every rating of truth shop i, against what the market served. A
    // shop mined from its address alone has no search texts (shopkeeper) to compare.
    void expectShopStored(int i, bool searchTexts = true)
    {
        const QJsonObject s = shop(i);
        TQuery* q = dm.ADOQuery1;
        q->SetSQL("select * from dianbase where webaddr=:w");
        q->SetParam("w", s["address"].toString());
        ASSERT_TRUE(q->Open());
        ASSERT_EQ(q->RecordCount(), 1);
        if (searchTexts) {
            EXPECT_EQ(q->FieldByName("dianzhu").asString(), s["shopkeeper"].toString());
        }
        EXPECT_EQ(q->FieldByName("salerCredit").asInteger(), s["sellerCredit"].toInt());
        EXPECT_EQ(q->FieldByName("salelevel").asInteger(), s["sellerLevel"].toInt());
        EXPECT_EQ(q->FieldByName("buylevel").asInteger(), s["buyerLevel"].toInt());
        EXPECT_EQ(q->FieldByName("buyerGood").asInteger(), s["buyerGood"].toInt());
        EXPECT_EQ(q->FieldByName("salerNotBad").asInteger(), s["sellerNeutral"].toInt());
        EXPECT_EQ(q->FieldByName("createDate").asString(), s["createDate"].toString());
        EXPECT_EQ(q->FieldByName("salerGoodRate").asString(), s["sellerGoodRate"].toString());
        const QString shopId = q->FieldByName("id").asString();

        q->SetSQL("select pj, pjsj, trade_id, itemId, itemTitle, pjName, jg, pjInfo, pjjs, buyerOrSaler "
                  "from pjinfo where dian_id=:d order by pjsj desc, id");
        q->SetParam("d", shopId);
        ASSERT_TRUE(q->Open());
        const QJsonArray ratings = s["ratings"].toArray();
        ASSERT_EQ(q->RecordCount(), ratings.size());
        QStringList stored, served;
        for (q->First(); !q->Eof(); q->Next()) {
            QStringList f;
            for (const char* c :
                 {"pj", "pjsj", "trade_id", "itemId", "itemTitle", "pjName", "pjInfo", "pjjs"})
                f << q->FieldByName(c).asString();
            f << QString::number(q->FieldByName("jg").asFloat(), 'f', 2)
              << q->FieldByName("buyerOrSaler").asString();
            stored << f.join('|');
        }
        for (const QJsonValue& v : ratings) {
            const QJsonObject r = v.toObject();
            QString when = r["time"].toString();
            QStringList f{r["pj"].toString(),
                          QDateTime::fromString(when, "yyyy-MM-dd HH:mm:ss").toString("yyyy-MM-dd H:mm:ss"),
                          r["tradeId"].toString(),
                          r["itemId"].toString(),
                          folded(r["title"].toString()),
                          folded(r["buyer"].toString()),
                          folded(r["comment"].toString()),
                          folded(r["explanation"].toString()),
                          QString::number(r["price"].toString().toDouble(), 'f', 2),
                          "True"};
            served << f.join('|');
        }
        stored.sort();
        served.sort();
        EXPECT_EQ(stored, served);
    }

    qlonglong count(const QString& sql)
    {
        dm.ADOQuery1->SetSQL(sql);
        EXPECT_TRUE(dm.ADOQuery1->Open()) << dm.ADOQuery1->lastError().toStdString();
        return dm.ADOQuery1->value(0, 0).toLongLong();
    }

    static QString folded(const QString& s) { return gbk::toQString(text::foldAscii(gbk::fromQString(s))); }

    QTemporaryDir m_dir;
    std::unique_ptr<MarketProcess> m_market;
    // A restarted market dates its ratings from the same day, midnight or not.
    const QString m_today = QDate::currentDate().toString(Qt::ISODate);
    TConfig m_config;
    QJsonObject m_truth;
    TDM dm;
};
