// Two users on one server database at once: one deletes a shop in the browser while the other's
// mining stores ratings of that same shop. Whichever comes first, the shop and its ratings go
// together or stay together, and the shop beside it keeps every rating as it was.
#include "MarketFixture.h"
#include "browser/ShopDelete.h"
#include "extract/QtTestApp.h"
#include "mining/TSaveBarGain.h"
#include "store/ServerDatabase.h"
#include "store/ShopQueue.h"
#include "store/TDM.h"
#include "text/GbkCodec.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace {

// Rating i of a shop: its own item and time, so that none is a duplicate of another.
RatingRecord rating(int shop, int i)
{
    const QString time = QDateTime(QDate(2011, 3, 1), QTime(8, 0))
                             .addSecs(i * 61LL)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const std::string item = "it" + std::to_string(shop) + "-" + std::to_string(i % 37);
    return {gbk::fromUtf8(i % 5 == 0 ? "中评" : "好评"),
            time.toStdString(),
            "T" + std::to_string(shop) + "-" + std::to_string(i),
            item,
            gbk::fromUtf8("竹编果篮"),
            gbk::fromUtf8("买家丙"),
            "True",
            std::to_string(10 + i % 90) + ".25",
            gbk::fromUtf8("编得结实"),
            ""};
}

RatingList ratings(int shop, int n)
{
    RatingList list;
    for (int i = 0; i < n; ++i)
        list.emplace_back(std::to_string(i + 1), rating(shop, i));
    return list;
}

class TwoUsersOnOneShop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApp();
        SERVER_DATABASE(url);
        m_url = url;
        ASSERT_TRUE(dm.DataModuleCreate(url)) << dm.OpenError().toStdString();
        m_target = addShop(QStringLiteral("http://127.0.0.1/shop/11.htm"));
        m_beside = addShop(QStringLiteral("http://127.0.0.1/shop/12.htm"));
        ASSERT_FALSE(m_target.isEmpty());
        ASSERT_FALSE(m_beside.isEmpty());
        Saved s = save(m_beside, ratings(2, 300));
        ASSERT_EQ(s.stored, 300) << s.fault.toStdString();
        s = save(m_target, ratings(1, 40));
        ASSERT_EQ(s.stored, 40) << s.fault.toStdString();
        m_besideBefore = besideRows();
        ASSERT_EQ(m_besideBefore.size(), 300);
        ASSERT_TRUE(dm.tb_dianbase->Open()) << dm.tb_dianbase->lastError().toStdString();
        // The browser's current shop is the one both users want.
        for (dm.tb_dianbase->First(); !dm.tb_dianbase->Eof(); dm.tb_dianbase->Next())
            if (dm.tb_dianbase->FieldByName("id").asString() == m_target)
                break;
        ASSERT_EQ(dm.tb_dianbase->FieldByName("id").asString(), m_target);
    }

    QString addShop(const QString& webaddr)
    {
        TQuery* q = dm.ADOQuery1;
        q->SetSQL("insert into dianBase(dianzhu, dianming, webaddr, commodityNum) values(:k, :n, :w, 3)");
        q->SetParam("k", QStringLiteral("掌柜") + webaddr.right(6));
        q->SetParam("n", QStringLiteral("小铺") + webaddr.right(6));
        q->SetParam("w", webaddr);
        EXPECT_EQ(q->ExecSQL(), 1) << q->lastError().toStdString();
        q->SetSQL("select id from dianBase where webaddr=:w");
        q->SetParam("w", webaddr);
        EXPECT_TRUE(q->Open()) << q->lastError().toStdString();
        const QString id = q->RecordCount() == 1 ? q->FieldByName("id").asString() : QString();
        q->Close();
        return id;
    }

    struct Saved
    {
        int stored = -1;
        int failed = -1;
        QString fault;
    };
    // Stores the list for a shop as a mining run does (profile figures first) and waits for the
    // saver's end. midway, when given, runs on the saver's thread at its first progress text,
    // inside its transaction.
    Saved save(const QString& shopId, const RatingList& list,
               const std::function<void(TSaveBarGain&)>& setUp = {}, const std::function<void()>& midway = {})
    {
        auto* saver = TSaveBarGain::Create(m_url, std::make_shared<const RatingList>(list), shopId);
        QHash<QString, QVariant> profile;
        for (const char* key : {"buyLevel", "buyerCredit", "saleLevel", "salerCredit", "buyerGood",
                                "buyerNotBad", "buyerBad", "salerGood", "salerNotBad", "salerBad"})
            profile.insert(QLatin1String(key), 7);
        profile.insert("createDate", "2010-05-06");
        profile.insert("salerGoodRate", "99.10%");
        profile.insert("buyerGoodRate", "100.00%");
        saver->setProfile(profile);
        if (setUp)
            setUp(*saver);
        Saved s;
        QEventLoop loop;
        QObject::connect(saver, &TSaveBarGain::faulted, &loop, [&](const QString& e) { s.fault = e; });
        QObject::connect(saver, &TSaveBarGain::completed, &loop, [&](int stored, int failed) {
            s.stored = stored;
            s.failed = failed;
            loop.quit();
        });
        if (midway) {
            auto once = std::make_shared<std::atomic<bool>>(false);
            QObject::connect(
                saver, &TSaveBarGain::statusText, saver,
                [once, midway](const QString&) {
                    if (!once->exchange(true))
                        midway();
                },
                Qt::DirectConnection);
        }
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        saver->start();
        if (m_duringSave)
            m_duringSave();
        loop.exec();
        return s;
    }

    // The ratings of the shop beside, every column that a delete or a duplicate removal could
    // change.
    QStringList besideRows()
    {
        QStringList rows;
        TQuery* q = dm.ADOQuery1;
        q->SetSQL("select id, dian_id, itemId_pjsj, jg, pj, pjInfo from pjinfo where dian_id=:d order by id");
        q->SetParam("d", m_beside);
        EXPECT_TRUE(q->Open()) << q->lastError().toStdString();
        for (q->First(); !q->Eof(); q->Next()) {
            QStringList f;
            for (int c = 0; c < 6; ++c)
                f << q->DisplayText(q->RecNo() - 1, c);
            rows << f.join('|');
        }
        q->Close();
        return rows;
    }

    qlonglong count(const QString& sql)
    {
        dm.ADOQuery1->SetSQL(sql);
        EXPECT_TRUE(dm.ADOQuery1->Open()) << dm.ADOQuery1->lastError().toStdString();
        const qlonglong n = dm.ADOQuery1->value(0, 0).toLongLong();
        dm.ADOQuery1->Close();
        return n;
    }

    // The target shop gone with every rating of it, no rating left without its shop, and the
    // shop beside as it was.
    void expectTargetGoneAndTheRestUntouched()
    {
        EXPECT_EQ(count("select count(*) from dianbase where id=" + m_target), 0);
        EXPECT_EQ(count("select count(*) from pjinfo where dian_id=" + m_target), 0);
        EXPECT_EQ(count("select count(*) from pjinfo p where not exists (select 1 from dianbase d where "
                        "d.id=p.dian_id)"),
                  0);
        EXPECT_EQ(count("select count(*) from dianbase"), 1);
        EXPECT_EQ(count("select count(*) from pjinfo"), 300);
        EXPECT_EQ(besideRows(), m_besideBefore);
    }

    QString m_url;
    TDM dm;
    QString m_target, m_beside;
    QStringList m_besideBefore;
    std::function<void()> m_duringSave;
};

TEST_F(TwoUsersOnOneShop, ADeleteWhileTheSaverWritesWaitsForItAndTakesItsRatingsAlong)
{
    // A third session sees when the delete waits for the saver's transaction.
    TConnection watch;
    ASSERT_TRUE(watch.open(m_url)) << watch.error().toStdString();
    std::atomic<bool> midway{false};
    std::atomic<bool> deleteWaited{false};
    auto atMidway = [&] {
        midway = true;
        TQuery waiting(&watch, "watch");
        waiting.SetSQL("select count(*) from pg_locks where not granted");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            if (waiting.Open() && waiting.value(0, 0).toLongLong() > 0) {
                deleteWaited = true;
                break;
            }
            waiting.Close();
            QThread::msleep(10);
        }
    };
    QString deleteError;
    bool deleted = false;
    m_duringSave = [&] {
        QElapsedTimer clock;
        clock.start();
        while (!midway && clock.elapsed() < 60000)
            QThread::msleep(1);
        ASSERT_TRUE(midway) << "the saver never began";
        deleted = shopdelete::deleteCurrent(dm.adoCn, *dm.tb_dianbase, &deleteError);
    };
    const Saved s = save(m_target, ratings(1, 20000), {}, atMidway);
    EXPECT_TRUE(deleteWaited) << "the delete never waited for the saver";
    EXPECT_TRUE(deleted) << deleteError.toStdString();
    EXPECT_TRUE(s.fault.isEmpty()) << s.fault.toStdString();
    EXPECT_EQ(s.stored, 20000);
    expectTargetGoneAndTheRestUntouched();
}

TEST_F(TwoUsersOnOneShop, ASaverAfterTheDeleteStoresNothingAndItsQueuedShopIsNotMinedAgain)
{
    QString error;
    ASSERT_TRUE(shopdelete::deleteCurrent(dm.adoCn, *dm.tb_dianbase, &error)) << error.toStdString();
    EXPECT_EQ(count("select count(*) from pjinfo where dian_id=" + m_target), 0);

    shopqueue::Entry entry;
    entry.webaddr = "http://127.0.0.1/shop/11.htm";
    ASSERT_EQ(shopqueue::add(dm.adoCn, {entry}, &error), 1) << error.toStdString();
    const std::optional<shopqueue::Claim> claim = shopqueue::claim(dm.adoCn, "other:1", 120, &error);
    ASSERT_TRUE(claim) << error.toStdString();
    const Saved s = save(m_target, ratings(1, 500),
                         [&](TSaveBarGain& saver) { saver.setQueueClaim(*claim, true, QString()); });
    EXPECT_TRUE(s.fault.isEmpty()) << s.fault.toStdString();
    EXPECT_EQ(s.stored, 0);
    EXPECT_EQ(s.failed, 500);
    expectTargetGoneAndTheRestUntouched();
    const auto status = shopqueue::status(dm.adoCn, &error);
    ASSERT_TRUE(status) << error.toStdString();
    EXPECT_EQ(status->done, 0);
    EXPECT_TRUE(status->claimed.isEmpty());
    ASSERT_EQ(status->failed.size(), 1);
    EXPECT_EQ(status->failed[0].reason, TSaveBarGain::shopDeletedReason());
}

TEST_F(TwoUsersOnOneShop, ADeleteAfterTheSaverTakesTheNewRatingsAndNoOtherShopsOnes)
{
    const Saved s = save(m_target, ratings(1, 900));
    ASSERT_EQ(s.stored, 900) << s.fault.toStdString();
    EXPECT_EQ(count("select count(*) from pjinfo where dian_id=" + m_target), 900);
    QString error;
    ASSERT_TRUE(dm.tb_dianbase->Refresh());
    ASSERT_EQ(dm.tb_dianbase->FieldByName("id").asString(), m_target);
    ASSERT_TRUE(shopdelete::deleteCurrent(dm.adoCn, *dm.tb_dianbase, &error)) << error.toStdString();
    expectTargetGoneAndTheRestUntouched();
}

// The same on a whole mining run: the shop is deleted in the browser while the run reads its
// rating pages from the market.
class MiningWhileDeleting : public MarketFixture
{
};

TEST_F(MiningWhileDeleting, AShopDeletedMidWalkIsToldKeepsNoRatingAndTheRunGoesOnWithTheNext)
{
    SERVER_DATABASE(url);
    startMarket({"--shops", "2", "--ratings", "200", "--seed", "41", "--latency", "60"});
    ASSERT_TRUE(dm.DataModuleCreate(url)) << dm.OpenError().toStdString();
    setNet(0, 100, 0);
    const QString gone = shop(0)["address"].toString();
    TMiningRun run(dm);
    QStringList skipped, deleteErrors;
    QList<int> failedCounts;
    bool deleted = false;
    QObject::connect(&run, &TMiningRun::shopSkipped, &run,
                     [&](const QString& webaddr) { skipped << webaddr; });
    QObject::connect(&run, &TMiningRun::shopSaved, &run,
                     [&](const QString&, int, int failed, bool) { failedCounts << failed; });
    QObject::connect(&run, &TMiningRun::ratingsReadChanged, &run, [&](int read) {
        if (deleted || read == 0)
            return;
        deleted = true;
        // The other user's browser, on its own connection to the same server.
        TDM browser;
        if (!browser.DataModuleCreate(url) || !browser.tb_dianbase->Open()) {
            deleteErrors << browser.OpenError();
            return;
        }
        TTable* shops = browser.tb_dianbase;
        for (shops->First(); !shops->Eof(); shops->Next())
            if (shops->FieldByName("webaddr").asString() == gone)
                break;
        QString error;
        if (shops->FieldByName("webaddr").asString() != gone)
            deleteErrors << "the shop is not in the browser";
        else if (!shopdelete::deleteCurrent(browser.adoCn, *shops, &error))
            deleteErrors << error;
    });
    ASSERT_TRUE(mine(run, rowsFor({0, 1})));
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(deleteErrors.isEmpty()) << deleteErrors.join('\n').toStdString();
    EXPECT_EQ(skipped, QStringList{gone});
    EXPECT_EQ(failedCounts, (QList<int>{200, 0}));
    EXPECT_EQ(count("select count(*) from dianbase where webaddr='" + gone + "'"), 0);
    EXPECT_EQ(count("select count(*) from pjinfo p where not exists (select 1 from dianbase d where "
                    "d.id=p.dian_id)"),
              0);
    EXPECT_EQ(count("select count(*) from pjinfo"), 200);
    expectShopStored(1);
}

} // namespace
