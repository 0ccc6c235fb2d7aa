// The filter, sort and count texts of both browser tabs, and the rows those texts leave in
// the data module's cursors.
#include "BrowserFixture.h"
#include "browser/BrowserTexts.h"
#include "browser/TCursorModel.h"
#include "store/StoreFixture.h"

#include <gtest/gtest.h>

using namespace browsertexts;

namespace {

QString shopFilterOf(const QString& zg, const QString& dp, const QString& addr, int buy, int sale)
{
    ShopFilterInput in;
    in.zg = zg;
    in.dp = dp;
    in.addr = addr;
    in.buyLevel = buy;
    in.saleLevel = sale;
    return shopFilter(in);
}

// The values of one column over the cursor's rows, in order.
QStringList column(TCursor* c, const char* name)
{
    QStringList out;
    for (c->First(); !c->Eof(); c->Next())
        out << c->FieldByName(QLatin1String(name)).asString();
    return out;
}

} // namespace

TEST(BrowserTexts, ShopFilterJoinsTheConditionsInOrderAndKeepsTextsAsTyped)
{
    EXPECT_EQ(shopFilterOf({}, {}, {}, 0, 0), QString());
    EXPECT_EQ(shopFilterOf("abc", {}, {}, 3, 0), "dianzhu like %abc% and buyLevel >3");
    EXPECT_EQ(shopFilterOf({}, {}, {}, 15, 15), "buyLevel >15 and saleLevel >15");
    EXPECT_EQ(shopFilterOf("a", "b", "c", 1, 2),
              "dianzhu like %a% and dianming like %b% and addr like %c% and buyLevel >1 and saleLevel >2");
    EXPECT_EQ(shopFilterOf(" O'Neil and co ", {}, {}, 0, 0), "dianzhu like % O'Neil and co %");
    const QStringList levels = levelItems();
    ASSERT_EQ(levels.size(), 16);
    EXPECT_EQ(levels.first(), "不限");
    EXPECT_EQ(levels[3], "大于3级");
    EXPECT_EQ(levels.last(), "大于15级");
}

TEST(BrowserTexts, TradeFilterStartsWithTheShopAndTakesOnlyPositiveWholePrices)
{
    TradeFilterInput in;
    EXPECT_EQ(tradeConditions(in), QString());
    EXPECT_EQ(tradeFilter(7, tradeConditions(in)), "dian_id =7");

    in.buyerIndex = 2;
    EXPECT_EQ(tradeFilter(7, tradeConditions(in)), "dian_id =7 and buyerOrSaler = false");

    in = {};
    in.jg1 = "100";
    in.jg2 = "0";
    EXPECT_EQ(tradeConditions(in), "jg >=100");
    in.jg1 = "";
    in.jg2 = "250";
    EXPECT_EQ(tradeConditions(in), "jg <=250");

    in = {};
    in.pjr = "x";
    in.pjIndex = 1;
    in.buyerIndex = 1;
    in.jg1 = "5";
    in.jg2 = "9";
    in.sp = "杯";
    EXPECT_EQ(tradeConditions(in), "pjName like %x% and pj = '好评' and buyerOrSaler = true and jg >=5 and "
                                   "jg <=9 and itemTitle like %杯%");
    // "坏评" finds the bad ratings, which the rating pages call "差评".
    in = {};
    in.pjIndex = 3;
    EXPECT_EQ(tradeConditions(in), "pj = '差评'");
}

TEST(BrowserTexts, SortAlternatesDescendingAndAscendingPerColumn)
{
    bool up = true;
    QString sort = nextSort(QString(), "jg", &up);
    EXPECT_EQ(sort, "jg DESC ");
    EXPECT_FALSE(up);
    sort = nextSort(sort, "jg", &up);
    EXPECT_EQ(sort, "jg");
    EXPECT_TRUE(up);
    EXPECT_EQ(nextSort(sort, "jg", &up), "jg DESC ");
    EXPECT_EQ(nextSort("jg DESC ", "pj", &up), "pj DESC ");
    EXPECT_EQ(stripArrow(QStringLiteral("▲价格")), "价格");
    EXPECT_EQ(stripArrow(QStringLiteral("▼价格")), "价格");
    EXPECT_EQ(stripArrow(QStringLiteral("价格")), "价格");
}

TEST(BrowserTexts, CountTexts)
{
    EXPECT_EQ(dataInfo(0), "目前共有0个掌柜数据!");
    EXPECT_EQ(dataInfo(12), "目前共有12个掌柜数据!");
    EXPECT_EQ(tradeCount(0, true), "掌柜共有0条交易记录!");
    EXPECT_EQ(tradeCount(31, false), "掌柜共有31条交易记录");
    EXPECT_EQ(initialTradeCount(), "掌柜共有0条交易!");
}

class BrowserFilterRows : public StoreFixture
{
};

TEST_F(BrowserFilterRows, FilterTextsLeaveTheMatchingRowsAndTypedTextIsNeverSql)
{
    addShop(QStringLiteral("O'Neil and co"), "http://h/1");
    addShop(QStringLiteral("50%折扣"), "http://h/2");
    addShop(QStringLiteral("普通"), "http://h/3");
    TTable* shops = dm.tb_dianbase;
    ASSERT_TRUE(shops->Open());

    ASSERT_TRUE(shops->SetFilter(shopFilterOf("O'Neil and co", {}, {}, 0, 0)));
    ASSERT_TRUE(shops->SetFiltered(true));
    EXPECT_EQ(column(shops, "dianzhu"), QStringList{"O'Neil and co"});

    ASSERT_TRUE(shops->SetFilter(shopFilterOf("50%", {}, {}, 0, 0)));
    EXPECT_EQ(column(shops, "dianzhu"), QStringList{"50%折扣"});

    // Words of SQL inside a text are looked for, not run.
    ASSERT_TRUE(shops->SetFilter(shopFilterOf("x' or 1=1; delete from dianBase; --", {}, {}, 0, 0)));
    EXPECT_EQ(shops->RecordCount(), 0);

    // A text that is not one of the filter forms is refused and the rows stay.
    ASSERT_TRUE(shops->SetFilter(QString()));
    EXPECT_FALSE(shops->SetFilter(QStringLiteral("id = 1; delete from dianBase")));
    EXPECT_FALSE(shops->lastError().isEmpty());
    EXPECT_EQ(shops->RecordCount(), 3);
    dm.ADOQuery1->SetSQL("select count(*) as n from dianBase");
    ASSERT_TRUE(dm.ADOQuery1->Open());
    EXPECT_EQ(dm.ADOQuery1->FieldByName("n").asInteger(), 3);
}

TEST_F(BrowserFilterRows, PriceBoundsIncludeTheirLimitsAndSortOrdersTheRows)
{
    const qlonglong shop = addShop(QStringLiteral("甲"), "http://h/1");
    const qlonglong other = addShop(QStringLiteral("乙"), "http://h/2");
    for (const char* price : {"99.5", "100", "150", "250", "251"})
        ASSERT_TRUE(addRating(shop, QStringLiteral("好评"), "True", "2026-01-02 3:04:05", price, price));
    ASSERT_TRUE(addRating(other, QStringLiteral("好评"), "True", "2026-01-02 3:04:05", "x", "120"));
    ASSERT_TRUE(addRating(shop, QStringLiteral("中评"), "False", "2026-01-02 3:04:05", "y", "120"));

    TTable* ratings = dm.tb_pjinfo;
    ASSERT_TRUE(ratings->Open());
    TradeFilterInput in;
    in.jg1 = "100";
    in.jg2 = "250";
    ASSERT_TRUE(ratings->SetFilter(tradeFilter(shop, tradeConditions(in))));
    ASSERT_TRUE(ratings->SetFiltered(true));
    TCursorModel model(ratings, {{"pj", "评价"}, {"jg", "价格"}});
    ASSERT_TRUE(model.sortByColumn(1));
    EXPECT_EQ(ratings->Sort(), "jg DESC ");
    EXPECT_EQ(model.title(1), "▼价格");
    EXPECT_EQ(column(ratings, "jg"), (QStringList{"250", "150", "120", "100"}));
    ASSERT_TRUE(model.sortByColumn(1));
    EXPECT_EQ(model.title(1), "▲价格");
    EXPECT_EQ(column(ratings, "jg"), (QStringList{"100", "120", "150", "250"}));
    ASSERT_TRUE(model.sortByColumn(0));
    EXPECT_EQ(model.title(0), "▼评价");
    EXPECT_EQ(model.title(1), "价格");
    EXPECT_EQ(model.sortedColumn(), 0);
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "好评");
    EXPECT_EQ(model.data(model.index(3, 0)).toString(), "中评");

    in = {};
    in.buyerIndex = 2;
    ASSERT_TRUE(ratings->SetFilter(tradeFilter(shop, tradeConditions(in))));
    EXPECT_EQ(column(ratings, "itemId"), QStringList{"y"});
}

TEST(BrowserTexts, ExportDoneNamesTheRowsTheFileAndTheSheetsOfASpreadsheet)
{
    EXPECT_EQ(exportDone(1100000, 2, "/tmp/r.xlsx"), "已导出1100000条记录到 /tmp/r.xlsx，共2个工作表。");
    EXPECT_EQ(exportDone(0, 1, "r.xlsx"), "已导出0条记录到 r.xlsx，共1个工作表。");
    EXPECT_EQ(exportDone(3, 0, "r.csv"), "已导出3条记录到 r.csv。");
}
