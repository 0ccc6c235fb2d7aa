#include "extract/QtTestApp.h"
#include "mining/TSaveBarGain.h"
#include "store/ShopQueue.h"
#include "store/TDM.h"
#include "text/GbkCodec.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

RatingRecord rating(const char* item, const char* time, const char* buyer = "True",
                    const char* price = "12.50")
{
    return {gbk::fromUtf8("好评"),
            time,
            "T-" + std::string(item),
            item,
            gbk::fromUtf8("羊毛围巾"),
            gbk::fromUtf8("买家乙"),
            buyer,
            price,
            gbk::fromUtf8("很暖和"),
            ""};
}

class Saver : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApp();
        ASSERT_TRUE(dm.DataModuleCreate(dir.filePath("quelmar2.mdb")));
        // The shop the ratings belong to: a saver stores none for a shop that is not there.
        dm.ADOQuery1->SetSQL("insert into dianBase(id, dianzhu, webaddr) values(7, :k, :w)");
        dm.ADOQuery1->SetParam("k", QStringLiteral("掌柜丁"));
        dm.ADOQuery1->SetParam("w", QStringLiteral("http://127.0.0.1/shop/7.htm"));
        ASSERT_EQ(dm.ADOQuery1->ExecSQL(), 1) << dm.ADOQuery1->lastError().toStdString();
    }

    // Saves the list for shop 7 and waits for the saver to report.
    void save(const RatingList& list, const std::function<void(TSaveBarGain&)>& setUp = {})
    {
        auto* saver = TSaveBarGain::Create(dm.adoCn.path(), std::make_shared<const RatingList>(list), "7");
        if (setUp)
            setUp(*saver);
        QEventLoop loop;
        QObject::connect(saver, &TSaveBarGain::faulted, &loop, [this](const QString& e) { fault = e; });
        QObject::connect(saver, &TSaveBarGain::statusText, &loop, [this](const QString& t) { texts << t; });
        QObject::connect(saver, &TSaveBarGain::completed, &loop, [&, saver](int s, int f) {
            stored = s;
            failed = f;
            writing = saver->writing(); // a run waits for this before its next shop
            loop.quit();
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        saver->start();
        loop.exec();
    }

    QStringList column(const QString& sql)
    {
        QStringList out;
        dm.ADOQuery1->SetSQL(sql);
        EXPECT_TRUE(dm.ADOQuery1->Open());
        for (dm.ADOQuery1->First(); !dm.ADOQuery1->Eof(); dm.ADOQuery1->Next())
            out << dm.ADOQuery1->DisplayText(dm.ADOQuery1->RecNo() - 1, 0);
        return out;
    }

    QTemporaryDir dir;
    TDM dm;
    QStringList texts;
    int stored = -1;
    int failed = -1;
    QString fault;
    bool writing = true;
};

TEST_F(Saver, ThreeRecordsReportTheirProgressAndTheEnd)
{
    save({{"1", rating("A", "2009-01-02 03:04:05")},
          {"2", rating("B", "2009-01-02 03:04:06", "0")},
          {"3", rating("C", "2009-01-02 03:04:07", "FALSE")}});
    EXPECT_EQ(texts, (QStringList{"正在保存数据...33%", "正在保存数据...66%", "正在保存数据...100%",
                                  "数据保存完毕!"}));
    EXPECT_EQ(stored, 3);
    EXPECT_FALSE(writing);
    EXPECT_EQ(column("select buyerOrSaler from pjinfo order by id"), (QStringList{"True", "False", "False"}));
    EXPECT_EQ(column("select itemId_pjsj from pjinfo where itemId='A'"), QStringList{"A2009-01-02 03:04:05"});
    EXPECT_EQ(column("select dian_id from pjinfo group by dian_id"), QStringList{"7"});
}

TEST_F(Saver, AnEmptyListEndsAtOnce)
{
    save({});
    EXPECT_EQ(texts, QStringList{"数据保存完毕!"});
    EXPECT_EQ(stored, 0);
    EXPECT_FALSE(writing);
}

TEST_F(Saver, TheSameRatingTwiceInOneRunIsStoredOnce)
{
    save({{"1", rating("A", "2009-01-02 03:04:05")},
          {"2", rating("A", "2009-01-02 03:04:05")},
          {"3", rating("A", "2009-01-02 03:04:06")}});
    EXPECT_EQ(column("select id from pjinfo order by id"), (QStringList{"1", "3"}));
}

TEST_F(Saver, FailedRecordsAreSkippedEvenTheLastAndTheFlagClears)
{
    save({{"1", rating("A", "2009-01-02 03:04:05")},
          {"2", rating("B", "not a time")},
          {"3", rating("C", "2009-01-02 03:04:07")},
          {"4", rating("D", "2009-01-02 03:04:08", "True", "12,5")}}); // the last one fails
    EXPECT_EQ(stored, 2);
    EXPECT_EQ(failed, 2);
    EXPECT_FALSE(writing);
    EXPECT_EQ(texts.last(), "数据保存完毕!");
    EXPECT_EQ(column("select itemId from pjinfo order by id"), (QStringList{"A", "C"}));
    // The transaction ended: the main connection can write again at once.
    dm.ADOQuery1->SetSQL("delete from pjinfo where itemId='A'");
    EXPECT_EQ(dm.ADOQuery1->ExecSQL(), 1);
}

// A shop claimed from the queue is marked in the transaction of its ratings, and only while
// the claim is still the saver's worker's: a claim taken over keeps nothing of the late walk.
TEST_F(Saver, AQueuedShopIsMarkedWithItsRatingsOnlyWhileItsClaimHolds)
{
    const QList<shopqueue::Entry> entries{{"http://127.0.0.1:9/shop/7.htm", {}, 1, 5000, false},
                                          {"http://127.0.0.1:9/shop/8.htm", {}, 1, 5000, false},
                                          {"http://127.0.0.1:9/shop/9.htm", {}, 1, 5000, false}};
    ASSERT_EQ(shopqueue::add(dm.adoCn, entries, nullptr), 3);
    auto held = shopqueue::claim(dm.adoCn, "a:1", 120, nullptr);
    ASSERT_TRUE(held);
    const RatingList two{{"1", rating("A", "2009-01-02 03:04:05")},
                         {"2", rating("B", "2009-01-02 03:04:06")}};
    save(two, [&](TSaveBarGain& s) { s.setQueueClaim(*held, true, "cut short"); });
    EXPECT_EQ(stored, 2);
    EXPECT_TRUE(fault.isEmpty()) << fault.toStdString();
    EXPECT_EQ(column("select state || ' ' || stored from shopQueue where id=1"), QStringList{"done 2"});

    // Cut short: what was read is kept, and the shop is failed with the reason.
    auto cut = shopqueue::claim(dm.adoCn, "a:1", 120, nullptr);
    ASSERT_TRUE(cut);
    save({{"3", rating("C", "2009-01-02 03:04:07")}},
         [&](TSaveBarGain& s) { s.setQueueClaim(*cut, false, "HTTP status 503"); });
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(column("select state || ' ' || reason from shopQueue where id=2"),
              QStringList{"failed HTTP status 503"});
    EXPECT_EQ(column("select count(*) from pjinfo"), QStringList{"3"});

    // The lease ended and another worker claimed the shop: nothing of this walk is stored.
    auto late = shopqueue::claim(dm.adoCn, "a:1", 120, nullptr);
    ASSERT_TRUE(late);
    dm.ADOQuery1->SetSQL("update shopQueue set leaseUntil=0 where id=3");
    ASSERT_EQ(dm.ADOQuery1->ExecSQL(), 1);
    auto other = shopqueue::claim(dm.adoCn, "b:2", 120, nullptr);
    ASSERT_TRUE(other);
    ASSERT_EQ(other->id, late->id);
    save({{"4", rating("D", "2009-01-02 03:04:08")}, {"5", rating("E", "2009-01-02 03:04:09")}},
         [&](TSaveBarGain& s) { s.setQueueClaim(*late, true, QString()); });
    EXPECT_EQ(stored, 0);
    EXPECT_TRUE(fault.contains("no longer this worker's")) << fault.toStdString();
    EXPECT_EQ(column("select count(*) from pjinfo"), QStringList{"3"});
    EXPECT_EQ(column("select state || ' ' || worker from shopQueue where id=3"), QStringList{"claimed b:2"});
}

} // namespace

// The saver counts a shop's ratings for the analyses in a few statements once they are all
// stored; the counts must then be those of the ratings kept, duplicates removed, the shop's
// earlier ratings and another shop's included.
TEST_F(Saver, TheAnalysesCountsHoldTheKeptRatingsAfterASave)
{
    ASSERT_TRUE(
        dm.adoCn.exec("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg,itemId_pjsj) "
                      "values(8,'好评',1,'2009-01-02 03:00:00','A','羊毛围巾',12.5,'A2009-01-02 03:00:00')"));
    save({{"1", rating("A", "2009-01-02 03:04:05")}, {"2", rating("B", "2009-01-02 03:59:59", "False")}});
    ASSERT_EQ(stored, 2) << fault.toStdString();
    save({{"1", rating("A", "2009-01-02 03:04:05")},
          {"2", rating("C", "2009-01-02 04:00:00", "True", "3")},
          {"3", rating("C", "2009-01-02 04:00:00", "True", "3")},
          {"4", rating("D", "2009-02-01 00:00:00", "True", "0.1")}});
    ASSERT_EQ(stored, 4) << fault.toStdString();
    const QString ranking =
        "select dian_id,itemTitle,itemId,jg,buyerOrSaler,pj,month,n from pjInfoTally order by "
        "1,2,3,4,5,6,7";
    const QString rankingOfRatings =
        "select dian_id,itemTitle,itemId,jg,buyerOrSaler,pj,substr(pjsj,1,7),count(*) "
        "from pjInfo group by 1,2,3,4,5,6,7 order by 1,2,3,4,5,6,7";
    EXPECT_EQ(column(ranking).size(), 5) << column(ranking).join(u'\n').toStdString();
    EXPECT_EQ(column(ranking), column(rankingOfRatings));
    const QString hours =
        "select dian_id||'|'||hourKey||'|'||buyerOrSaler||'|'||pj||'|'||nulls||'|'||n||'|'||items||"
        "'|'||priced||'|'||units from pjInfoHourTally order by dian_id,hourKey,buyerOrSaler";
    const QStringList expected{"7|2009-01-02 03|0|好评|0|1|1|1|125000",
                               "7|2009-01-02 03|1|好评|0|1|1|1|125000",
                               "7|2009-01-02 04|1|好评|0|1|1|1|30000", "7|2009-02-01 00|1|好评|0|1|1|1|1000",
                               "8|2009-01-02 03|1|好评|0|1|1|1|125000"};
    EXPECT_EQ(column(hours).join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    // The triggers the saver set aside for its transaction are back: plain statements count.
    ASSERT_TRUE(dm.adoCn.exec("delete from pjinfo where itemId='D'"));
    ASSERT_TRUE(dm.adoCn.exec("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,itemId,itemTitle,jg) "
                              "values(8,'好评',1,'2009-03-01 10:00:00','E','丝巾',1)"));
    EXPECT_EQ(column(ranking), column(rankingOfRatings));
    EXPECT_EQ(column("select sum(n) from pjInfoHourTally"), column("select count(*) from pjInfo"));
}
