// Every statement the windows and runs send, exactly as they send it, against a small
// database whose answers are worked out by hand.
#include "StoreFixture.h"

namespace {

class Statements : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        shop = addShop("掌柜一", "http://127.0.0.1:8631/shop/1");
        other = addShop("掌柜二", "http://127.0.0.1:8631/shop/2");
        ASSERT_TRUE(addRating(shop, "好评", "True", "2026-01-05 10:15:00", "A", "10"));
        ASSERT_TRUE(addRating(shop, "好评", "true", "2026-01-05 22:40:00", "A", "10"));
        ASSERT_TRUE(addRating(shop, "中评", "1", "2026.02.14 10:05", "B", "25.5"));
        ASSERT_TRUE(addRating(shop, "好评", "TRUE", "2026-04-01", "C", "100"));
        ASSERT_TRUE(addRating(shop, "坏评", "0", "2026-04-02 09:00:00", "A", "10")); // rated by the seller
        ASSERT_TRUE(addRating(other, "好评", "True", "2026-01-05 10:15:00", "A", "999"));
    }

    QStringList run(TQuery* q, const QString& sql, const QString& spj = {})
    {
        q->SetSQL(sql);
        q->SetParam("beginDate", "2026-01-01");
        q->SetParam("endDate", "2026-12-31");
        q->SetParam("dianId", shop);
        if (!spj.isEmpty())
            q->SetParam("spj", spj);
        EXPECT_TRUE(q->Open()) << q->lastError().toStdString() << "\n" << sql.toStdString();
        return rows(q);
    }

    qlonglong shop = 0;
    qlonglong other = 0;
};

TEST_F(Statements, NavigationPageCounts)
{
    TQuery* q = dm.ADOQuery1;
    q->SetSQL("select count(*) as recordNum from dianBase");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(q->FieldByName("recordNum").asInteger(), 2);
    // A rating whose shop is gone is not counted.
    ASSERT_TRUE(addRating(77, "好评", "True", "2026-01-01 01:00:00", "Z", "1"));
    q->SetSQL("select count(*) as recordNum from pjinfo a,dianbase b where a.dian_id=b.id");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(q->FieldByName("recordNum").asInteger(), 6);
}

TEST_F(Statements, ShopLookupInsertUpdateAndProfile)
{
    TQuery* q = dm.adoq1;
    q->SetSQL("select * from dianbase where webaddr=:webaddr");
    q->SetParam("webaddr", "http://127.0.0.1:8631/shop/1");
    ASSERT_TRUE(q->Open());
    ASSERT_EQ(q->RecordCount(), 1);
    EXPECT_EQ(q->FieldByName("id").asString(), QString::number(shop));
    EXPECT_EQ(q->FieldByName("commodityNum").asInteger(), 10);

    q->SetSQL("update dianbase set dianzhu=:dianzhu,addr=:addr,dianming=:dianming,commodityNum=:commodityNum,"
              "loc=:loc,updateDate=:updateDate,commodityKind=:commodityKind where webaddr=:webaddr");
    q->SetParam("dianzhu", "新掌柜");
    q->SetParam("addr", "上海");
    q->SetParam("dianming", "新店");
    q->SetParam("commodityNum", "42");
    q->SetParam("loc", "数码");
    q->SetParam("updateDate", "2026-12-08 7:05:09");
    q->SetParam("commodityKind", "所有分类");
    q->SetParam("webaddr", "http://127.0.0.1:8631/shop/1");
    EXPECT_EQ(q->ExecSQL(), 1) << q->lastError().toStdString();

    TQuery* p = dm.ADOQuery1;
    p->SetSQL(
        "update dianBase set buyLevel=:buyLevel,buyerCredit=:buyerCredit,saleLevel=:saleLevel,"
        "salerCredit=:salerCredit,createDate=:createDate, buyerGood=:buyerGood,buyerNotBad=:buyerNotBad,"
        "buyerBad=:buyerBad,salerGood=:salerGood,salerNotBad=:salerNotBad,salerBad=:salerBad,"
        "salerGoodRate=:salerGoodRate,buyerGoodRate=:buyerGoodRate where id=:Id");
    const char* ints[] = {"buyLevel",    "buyerCredit", "saleLevel", "salerCredit", "buyerGood",
                          "buyerNotBad", "buyerBad",    "salerGood", "salerNotBad", "salerBad"};
    int n = 1;
    for (const char* name : ints)
        p->SetParam(name, n++);
    p->SetParam("createDate", "2019-07-01");
    p->SetParam("salerGoodRate", "99.50%");
    p->SetParam("buyerGoodRate", "100.00%");
    p->SetParam("id", shop); // the statement writes :Id
    ASSERT_EQ(p->ExecSQL(), 1) << p->lastError().toStdString();

    p->SetSQL("select dianzhu,commodityNum,updateDate,buylevel,salelevel,salerBad,createDate,salerGoodRate "
              "from dianbase where id=:id");
    ASSERT_TRUE(p->Open());
    EXPECT_EQ(rows(p), QStringList{"新掌柜|42|2026-12-08 7:05:09|1|3|10|2019-07-01|99.50%"});
}

TEST_F(Statements, SaverInsertAndDuplicateRemovalKeepFirstCopyOfThisShopOnly)
{
    // The same rating read again (same item, same time) for both shops.
    ASSERT_TRUE(addRating(shop, "好评", "True", "2026-01-05 10:15:00", "A", "10", "again"));
    ASSERT_TRUE(addRating(shop, "好评", "True", "2026-01-05 10:15:00", "A", "10", "and again"));
    ASSERT_TRUE(addRating(other, "好评", "True", "2026-01-05 10:15:00", "A", "999", "other shop"));
    TQuery* q = dm.ADOQuery1;
    q->SetSQL("delete from pjinfo where itemId_pjsj  in \n"
              " (select itemId_pjsj from pjinfo where dian_id=:dian_id1 group by \n"
              " itemId_pjsj having count(*)>1)  and id \n"
              " not in (select min(id) from pjinfo where  dian_id=:dian_id2 group by itemId_pjsj\n"
              "  having count(*)>1) and dian_id=:dian_id3 ");
    for (const char* name : {"dian_id1", "dian_id2", "dian_id3"})
        q->SetParam(name, QString::number(shop));
    EXPECT_EQ(q->ExecSQL(), 2) << q->lastError().toStdString();

    q->SetSQL("select dian_id, pjInfo from pjinfo where itemId_pjsj=:k order by id");
    q->SetParam("k", "A2026-01-05 10:15:00");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(rows(q), (QStringList{QString::number(shop) + "|很好", QString::number(other) + "|很好",
                                    QString::number(other) + "|other shop"}));
}

TEST_F(Statements, ShopDeleteRemovesItsRatingsOnly)
{
    TQuery* q = dm.ADOQuery1;
    q->SetSQL("delete from pjInfo where dian_id=:dian_id");
    q->SetParam("dian_id", shop);
    EXPECT_EQ(q->ExecSQL(), 5);
    q->SetSQL("select count(*) as n from pjinfo");
    ASSERT_TRUE(q->Open());
    EXPECT_EQ(q->FieldByName("n").asInteger(), 1);
}

TEST_F(Statements, ProductRankingByCountAndByAmount)
{
    const QString where =
        " sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from pjinfo where "
        "buyerOrSaler=true and pjsj>:beginDate and pjsj<=:endDate and dian_id=:dianId ";
    EXPECT_EQ(run(dm.pj_fx1, "select top 5" + where +
                                 " group by itemtitle,itemid,dian_id,jg order by count(itemId) desc,sum(jg)"),
              (QStringList{"20|商品A|A|10|2|1", "25.5|商品B|B|25.5|1|1", "100|商品C|C|100|1|1"}));
    EXPECT_EQ(
        run(dm.pj_fx1, "select top 2" + where +
                           " group by itemtitle,itemid,dian_id,jg order by sum(jg) desc,count(itemId) desc"),
        (QStringList{"100|商品C|C|100|1|1", "25.5|商品B|B|25.5|1|1"}));
    // Seller-rated trades only ("买"), and a chosen rating with the inclusive lower bound.
    EXPECT_EQ(run(dm.pj_fx1, "select top 5" + where + " and buyerOrSaler = false " +
                                 " group by itemtitle,itemid,dian_id,jg order by count(itemId) desc,sum(jg)"),
              QStringList{});
    EXPECT_EQ(
        run(dm.pj_fx1,
            "select top 5 sum(jg) as amount,itemTitle,itemid,jg,count(itemId) as num,dian_id from pjinfo "
            "where buyerOrSaler=true and pjsj>=:beginDate and pjsj<=:endDate and pj=:spj and dian_id=:dianId "
            " and buyerOrsaler =true  group by itemtitle,itemid,dian_id,jg order by sum(jg) desc,"
            "count(itemId) desc",
            "中评"),
        QStringList{"25.5|商品B|B|25.5|1|1"});
}

TEST_F(Statements, RankingDetailFollowsTheRankedItem)
{
    run(dm.pj_fx1,
        "select top 5 sum(jg) as amount,itemTitle,itemId,jg,count(itemId) as num,dian_id from pjinfo "
        "where buyerOrSaler=true and pjsj>:beginDate and pjsj<=:endDate and dian_id=:dianId  group by "
        "itemtitle,itemid,dian_id,jg order by count(itemId) desc,sum(jg)");
    ASSERT_TRUE(dm.pj_fx1_detail->Open());
    dm.pj_fx1->First(); // item A of this shop: three ratings, one by the seller
    EXPECT_EQ(dm.pj_fx1_detail->RecordCount(), 3);
    dm.pj_fx1->Last(); // item C
    EXPECT_EQ(dm.pj_fx1_detail->RecordCount(), 1);
    EXPECT_EQ(dm.pj_fx1_detail->FieldByName("itemId").asString(), "C");
}

TEST_F(Statements, SalesTrendForEveryPeriod)
{
    const QString w =
        " from pjinfo where buyerOrSaler=true and pjsj>:beginDate and pjsj<=:endDate and dian_id=:dianId ";
    struct Period
    {
        QString key, group;
        QStringList series;
        QString peakAmount, peakCount;
    } periods[] = {
        {"format(pjsj,'yyyy-mm-dd')",
         "(format(pjsj,'yyyy-mm-dd'))",
         {"20|2|2026-01-05", "25.5|1|2026-02-14", "100|1|2026-04-01"},
         "100|2026-04-01",
         "2|2026-01-05"},
        {"datePart('ww',pjsj)", "datePart('ww',pjsj)", {"20|2|2", "25.5|1|7", "100|1|14"}, "100|14", "2|2"},
        {"format(pjsj,'yyyy-mm')",
         "(format(pjsj,'yyyy-mm'))",
         {"20|2|2026-01", "25.5|1|2026-02", "100|1|2026-04"},
         "100|2026-04",
         "2|2026-01"},
        {"datePart('q',pjsj)", "datePart('q',pjsj)", {"45.5|3|1", "100|1|2"}, "100|2", "3|1"},
        {"format(pjsj,'yyyy')", "(format(pjsj,'yyyy'))", {"145.5|4|2026"}, "145.5|2026", "4|2026"},
    };
    for (const Period& p : periods) {
        EXPECT_EQ(run(dm.pj_fx3, "select  sum(jg) as totalAmount,count(itemId) as num,(" + p.key +
                                     ") as time1" + w + "\ngroup by " + p.group + " order by " + p.key),
                  p.series)
            << p.key.toStdString();
        EXPECT_EQ(run(dm.pj_fx3, "select top 1 sum(jg) as totalAmount," + p.group + w + "\ngroup by " +
                                     p.group + " order by sum(jg) desc"),
                  QStringList{p.peakAmount});
        EXPECT_EQ(run(dm.pj_fx3, "select top 1 count(*) as num," + p.group + w + "\ngroup by " + p.group +
                                     " order by count(*) desc"),
                  QStringList{p.peakCount});
    }
    const QString rated = " from pjinfo where buyerOrSaler=true and pjsj>=:beginDate and pjsj<=:endDate and "
                          "pj=:spj and dian_id=:dianId ";
    EXPECT_EQ(run(dm.pj_fx3,
                  "select  sum(jg) as totalAmount,count(itemId) as num,(format(pjsj,'yyyy-mm-dd')) as time1" +
                      rated + "\ngroup by (format(pjsj,'yyyy-mm-dd')) order by format(pjsj,'yyyy-mm-dd')",
                  "好评"),
              (QStringList{"20|2|2026-01-05", "100|1|2026-04-01"}));
    EXPECT_EQ(run(dm.pj_fx3,
                  "select  top 1 sum(jg) as totalAmount,(format(pjsj,'yyyy-mm'))" + rated +
                      "\ngroup by (format(pjsj,'yyyy-mm')) order by sum(jg) desc",
                  "好评"),
              QStringList{"100|2026-04"});
}

TEST_F(Statements, TimeDistributionOverHoursMonthsAndQuarters)
{
    const QString w = " from pjinfo where pjsj>:beginDate and pjsj<=:endDate and dian_id=:dianId ";
    EXPECT_EQ(
        run(dm.pj_fx2, "select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(hour(pjsj)) as time1" +
                           w + "group by dian_id,hour(pjsj)  order by hour(pjsj)"),
        (QStringList{"1|100|1|0", "1|10|1|9", "1|35.5|2|10", "1|10|1|22"}));
    EXPECT_EQ(
        run(dm.pj_fx2, "select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(format(pjsj,'yyyy-mm')) "
                       "as time1" +
                           w + "group by dian_id,format(pjsj,'yyyy-mm')  order by (format(pjsj,'yyyy-mm'))"),
        (QStringList{"1|20|2|2026-01", "1|25.5|1|2026-02", "1|110|2|2026-04"}));
    EXPECT_EQ(
        run(dm.pj_fx2, "select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(datePart('q',pjsj)) as "
                       "time1" +
                           w + "group by dian_id,datePart('q',pjsj)  order by datePart('q',pjsj)"),
        (QStringList{"1|45.5|3|1", "1|110|2|2"}));
    const QString rated =
        " from pjinfo where pjsj>=:beginDate and pjsj<=:endDate and pj=:spj and dian_id=:dianId ";
    EXPECT_EQ(run(dm.pj_fx2,
                  "select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(hour(pjsj)) as time1" +
                      rated + "group by dian_id,hour(pjsj) order by hour(pjsj)",
                  "好评"),
              (QStringList{"1|100|1|0", "1|10|1|10", "1|10|1|22"}));
    EXPECT_EQ(
        run(dm.pj_fx2,
            "select  dian_id,sum(jg) as totalAmount,count(itemId) as num,(datePart('q',pjsj)) as time1" +
                rated + "group by dian_id,datePart('q',pjsj) order by (datePart('q',pjsj))",
            "坏评"),
        QStringList{"1|10|1|2"});
}

TEST_F(Statements, DateBoundsCompareAsMidnightOfTheGivenDay)
{
    ASSERT_TRUE(addRating(shop, "好评", "True", "2026-12-31 00:00:00", "D", "1"));
    ASSERT_TRUE(addRating(shop, "好评", "True", "2026-12-31 00:00:01", "E", "1"));
    ASSERT_TRUE(addRating(shop, "好评", "True", "2026-01-01 00:00:00", "F", "1"));
    const QString count = "select count(*) as n from pjinfo where pjsj>:beginDate and pjsj<=:endDate and "
                          "dian_id=:dianId and jg=1";
    EXPECT_EQ(run(dm.ADOQuery1, count), QStringList{"1"}); // only D: F is on the open lower bound
    EXPECT_EQ(run(dm.ADOQuery1, QString(count).replace("pjsj>:", "pjsj>=:")), QStringList{"2"});
}

} // namespace
