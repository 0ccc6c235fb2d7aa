#pragma once

#include "app/Settings.h"
#include "extract/GbkCodec.h"
#include "extract/MarketProcess.h"
#include "extract/QtTestApp.h"
#include "extract/TextOps.h"
#include "mining/RunFlags.h"
#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"
#include "store/TDM.h"

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
        m_market =
            std::make_unique<MarketProcess>(args + QStringList{"--dump-truth", m_dir.filePath("truth.json")});
        ASSERT_TRUE(m_market->running());
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
        QFile truth(m_dir.filePath("truth.json"));
        ASSERT_TRUE(truth.open(QIODevice::ReadOnly));
        m_truth = QJsonDocument::fromJson(truth.readAll()).object();
        ASSERT_FALSE(shops().isEmpty());
    }

    void setNet(int retries, int retryDelay, int pageDelay)
    {
        NetSettings net;
        net.Retries = retries;
        net.RetryDelay = retryDelay;
        net.PageDelay = pageDelay;
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
        return waitFor([&] { return over && !runflags::savingRatings; });
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
    TConfig m_config;
    QJsonObject m_truth;
    TDM dm;
};
