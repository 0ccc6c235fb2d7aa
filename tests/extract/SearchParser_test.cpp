#include "SamplePages.h"
#include "extract/TSearchUser.h"
#include "text/GbkCodec.h"

#include <gtest/gtest.h>

namespace {

using sample::gbkText;

const std::string kHome = "http://www.market.test/";

std::string page(int total, int shopCount, int first = 1)
{
    sample::ResultPage p;
    p.total = std::to_string(total);
    p.shops = sample::shops(shopCount, first);
    return sample::resultPage(p);
}

// Feeds pages the way the search run does: the first page to LoadFirstPage and then every
// page to ProcessPage, stopping at the first page that finishes the walk.
int walk(TSearchUser& parser, int total, int perPage, int maxPages = 100)
{
    int pagesRequested = 1;
    parser.LoadFirstPage(page(total, perPage));
    for (int no = 1; no <= maxPages && !parser.Finished(); ++no) {
        parser.ProcessPage(page(total, perPage, (no - 1) * perPage + 1));
        if (!parser.Finished())
            ++pagesRequested;
    }
    return pagesRequested;
}

TEST(SearchParserWalk, StartsEmptyUntilTheFirstPage)
{
    TSearchUser parser(10, 40, kHome);
    EXPECT_EQ(parser.TotalFound(), -1);
    EXPECT_EQ(parser.TotalPages(), -1);
    EXPECT_EQ(parser.PagesNeeded(), 0);
    EXPECT_FALSE(parser.Ready());
    parser.LoadFirstPage(page(1000, 40));
    EXPECT_TRUE(parser.Ready());
    EXPECT_EQ(parser.ShopCount(), 0) << "set-up reads no shops";
    EXPECT_NE(parser.PageText().find("pathlinkslevel1"), std::string::npos) << "kept folded";
    EXPECT_EQ(parser.PageText().find("\r\n"), std::string::npos) << "kept without whitespace runs";
}

TEST(SearchParserWalk, StopsReadingAtTheLimitAndFinishesOnTheNextPage)
{
    TSearchUser parser(10, 40, kHome);
    parser.LoadFirstPage(page(1000, 40));
    EXPECT_EQ(parser.Limit(), 10);
    EXPECT_EQ(parser.PagesNeeded(), 1);
    EXPECT_EQ(parser.TotalPages(), 25);
    parser.ProcessPage(page(1000, 40));
    EXPECT_EQ(parser.ShopCount(), 10);
    ASSERT_EQ(parser.Shops().size(), 10u);
    EXPECT_EQ(parser.Shops().back().first, "10");
    EXPECT_EQ(parser.PageNo(), 2);
    EXPECT_FALSE(parser.Finished());
    parser.ProcessPage(page(1000, 40, 41));
    EXPECT_TRUE(parser.Finished());
    EXPECT_EQ(parser.ShopCount(), 10) << "the finishing page is not read";
    EXPECT_EQ(parser.PageNo(), 2);
}

TEST(SearchParserWalk, ReadsAsManyPagesAsTheLimitNeeds)
{
    TSearchUser parser(50, 40, kHome);
    EXPECT_EQ(walk(parser, 1000, 40), 3); // pages 1 and 2 read, page 3 finishes
    EXPECT_EQ(parser.PagesNeeded(), 2);
    EXPECT_EQ(parser.ShopCount(), 50);
    EXPECT_EQ(parser.Shops()[40].first, "41");
    EXPECT_EQ(parser.Shops()[40].second[0], gbkText("掌柜41")) << "page 2 starts at its own first shop";
    EXPECT_EQ(parser.PageNo(), 3);
}

TEST(SearchParserWalk, LimitIsClippedToTheReportedTotal)
{
    TSearchUser all(0, 40, kHome);
    all.LoadFirstPage(page(70, 40));
    EXPECT_EQ(all.Limit(), 70) << "asking for 0 shops means all of them";
    EXPECT_EQ(all.PagesNeeded(), 2);

    TSearchUser negative(-3, 40, kHome);
    negative.LoadFirstPage(page(70, 40));
    EXPECT_EQ(negative.Limit(), 70);

    TSearchUser more(100, 40, kHome);
    EXPECT_EQ(walk(more, 30, 30), 2);
    EXPECT_EQ(more.Limit(), 30);
    EXPECT_EQ(more.PagesNeeded(), 1);
    EXPECT_EQ(more.TotalPages(), 1);
    EXPECT_EQ(more.ShopCount(), 30);
}

TEST(SearchParserWalk, SkippedSellersDoNotCountAndTheWalkGoesOnOnlyForManyResultPages)
{
    auto pageWithMallSellers = [](int total, int first) {
        sample::ResultPage p;
        p.total = std::to_string(total);
        p.shops = sample::shops(10, first);
        p.shops[2].bseller = true;
        p.shops[7].bseller = true;
        return sample::resultPage(p);
    };
    // 1000 results are 25 result pages: page 2 × 40 > 25, so the walk ends short.
    TSearchUser few(10, 40, kHome);
    few.LoadFirstPage(pageWithMallSellers(1000, 1));
    few.ProcessPage(pageWithMallSellers(1000, 1));
    EXPECT_EQ(few.ShopCount(), 8);
    EXPECT_EQ(few.Shops()[2].second[0], gbkText("掌柜4")) << "the marked block is skipped";
    few.ProcessPage(pageWithMallSellers(1000, 11));
    EXPECT_TRUE(few.Finished());
    EXPECT_EQ(few.ShopCount(), 8);

    // 100000 results are 2500 pages: page 2 × 40 ≤ 2500, so page 2 is read up to the limit.
    TSearchUser many(10, 40, kHome);
    many.LoadFirstPage(pageWithMallSellers(100000, 1));
    many.ProcessPage(pageWithMallSellers(100000, 1));
    many.ProcessPage(pageWithMallSellers(100000, 11));
    EXPECT_FALSE(many.Finished());
    EXPECT_EQ(many.ShopCount(), 10);
    EXPECT_EQ(many.Shops().back().second[0], gbkText("掌柜12"));
    many.ProcessPage(pageWithMallSellers(100000, 21));
    EXPECT_TRUE(many.Finished()) << "the limit is reached";
}

TEST(SearchParserWalk, PageWithoutBreadcrumbEndsAtOnce)
{
    sample::ResultPage p;
    p.breadcrumb = false;
    p.shops = sample::shops(5);
    TSearchUser parser(10, 40, kHome);
    parser.LoadFirstPage(sample::resultPage(p));
    EXPECT_EQ(parser.TotalFound(), 0);
    EXPECT_EQ(parser.Limit(), 0);
    EXPECT_EQ(parser.PagesNeeded(), 0);
    parser.ProcessPage(sample::resultPage(p));
    EXPECT_TRUE(parser.Finished());
    EXPECT_TRUE(parser.Shops().empty());
}

TEST(SearchParserWalk, CancelIgnoresLaterPages)
{
    TSearchUser parser(100, 40, kHome);
    parser.LoadFirstPage(page(1000, 40));
    parser.SetFinished(true);
    parser.ProcessPage(page(1000, 40));
    EXPECT_EQ(parser.ShopCount(), 0);
    EXPECT_EQ(parser.PageNo(), 1);
}

TEST(SearchParserWalk, PageSizeBelowOneDoesNotDivideByZero)
{
    TSearchUser parser(10, 0, kHome);
    parser.LoadFirstPage(page(30, 5));
    EXPECT_EQ(parser.PageSize(), 1);
    EXPECT_EQ(parser.PagesNeeded(), 10);
    EXPECT_EQ(parser.TotalPages(), 30);
}

TEST(SearchParserTotal, ReadsTheCountOfTheLastCrumb)
{
    auto total = [](const std::string& text, bool categoryCrumb) {
        sample::ResultPage p;
        p.total = text;
        p.categoryCrumb = categoryCrumb;
        TSearchUser parser(10, 40, kHome);
        parser.LoadFirstPage(sample::resultPage(p));
        return parser.TotalFound();
    };
    EXPECT_EQ(total("1234", true), 1234);
    EXPECT_EQ(total("1234", false), 1234);
    EXPECT_EQ(total(" 77 ", true), 77);
    EXPECT_EQ(total("1,234", true), 0) << "a grouped number is no count";
    EXPECT_EQ(total("很多", true), 0);
}

TSearchUser readOne(const sample::Shop& shop, int count = 1)
{
    sample::ResultPage p;
    p.shops.assign(count, shop);
    TSearchUser parser(10, 40, kHome);
    const std::string bytes = sample::resultPage(p);
    parser.LoadFirstPage(bytes);
    parser.ProcessPage(bytes);
    return parser;
}

TEST(SearchParserFields, EveryFieldOfAFullBlock)
{
    sample::Shop s;
    s.keeper = "Bear妈妈";
    s.address = "http://Shop77.Market.test/";
    s.mallLogo = true;
    s.promotions = true;
    TSearchUser parser = readOne(s);
    ASSERT_EQ(parser.Shops().size(), 1u);
    const auto& [key, r] = parser.Shops()[0];
    EXPECT_EQ(key, "1");
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[0], gbkText("bear妈妈")) << "texts are folded";
    EXPECT_EQ(r[1], gbkText("小熊的杂货铺")) << "logo link and highlight span removed";
    EXPECT_EQ(r[2], gbkText("女装 饰品 家居"));
    EXPECT_EQ(r[3], "http://shop77.market.test/");
    EXPECT_EQ(r[4], "326");
    EXPECT_EQ(r[5], gbkText("浙江 杭州"));
}

TEST(SearchParserFields, NameKeepsOnlyTheVisibleTextWithEntitiesDecoded)
{
    sample::Shop s;
    s.namePre = "A&amp;B ";
    s.highlight = "熊";
    s.namePost = "&lt;旗舰&gt;&nbsp;店";
    EXPECT_EQ(readOne(s).Shops()[0].second[1], gbkText("a&b 熊<旗舰> 店"));

    s.highlight.clear();
    s.namePre = "&amp;lt;";
    s.namePost = "店";
    EXPECT_EQ(readOne(s).Shops()[0].second[1], gbkText("&lt;店")) << "each entity is replaced once";

    s.nameHref = false;
    EXPECT_EQ(readOne(s).Shops()[0].second[1], "dianming") << "a name link not starting with href";
}

TEST(SearchParserFields, WhitespaceRunsVanishSingleBlanksStay)
{
    sample::Shop s;
    s.market = "女装  饰品\r\n家居 鞋包";
    s.place = "浙江\t\t杭州";
    const ShopRecord r = readOne(s).Shops()[0].second;
    EXPECT_EQ(r[2], gbkText("女装饰品家居 鞋包"));
    EXPECT_EQ(r[5], gbkText("浙江杭州"));
}

TEST(SearchParserFields, DoubleByteCharactersWithAsciiTrailBytesSurvive)
{
    // 癆 ends in the byte 'A', 乗 and 誠 in '\'; folding and matching must leave them whole.
    sample::Shop s;
    s.keeper = "癆乗";
    s.namePre = "誠";
    s.highlight = "癆";
    s.namePost = "乗";
    s.market = "癆";
    s.place = "乗";
    const ShopRecord r = readOne(s).Shops()[0].second;
    EXPECT_EQ(r[0], gbkText("癆乗"));
    EXPECT_EQ(r[0], "\xB0\x41\x81\x5C");
    EXPECT_EQ(r[1], gbkText("誠癆乗"));
    EXPECT_EQ(r[2], gbkText("癆"));
    EXPECT_EQ(r[5], gbkText("乗"));
}

TEST(SearchParserFields, BlockWithoutSellerPartIsNotAShop)
{
    sample::ResultPage p;
    p.shops = sample::shops(3);
    p.shops[1].sellerPart = false;
    TSearchUser parser(10, 40, kHome);
    parser.LoadFirstPage(sample::resultPage(p));
    parser.ProcessPage(sample::resultPage(p));
    ASSERT_EQ(parser.ShopCount(), 2);
    EXPECT_EQ(parser.Shops()[1].first, "2");
    EXPECT_EQ(parser.Shops()[1].second[0], gbkText("掌柜3"));
}

} // namespace
