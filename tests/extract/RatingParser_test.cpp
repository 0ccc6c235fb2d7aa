#include "SamplePages.h"
#include "extract/THTMLExcavate.h"
#include "text/TextOps.h"

#include <gtest/gtest.h>

namespace {

using sample::gbkText;

const std::string kRatingHost = "http://rate.market.test";

// A rating page as the mining run hands it over: folded.
std::string foldedPage(const sample::RatingPage& p)
{
    return text::foldAscii(sample::ratingPage(p));
}

sample::RatingPage listPage(int pageNo, const std::string& lastHref)
{
    sample::RatingPage p;
    p.rows = sample::ratings(40, (pageNo - 1) * 40);
    p.lastHref = lastHref;
    p.lastLink = !lastHref.empty();
    return p;
}

const std::string kLastIs10 = "http://rate.market.test/user-rate-abc--currentPage|10--snapId|0.htm";

// Walks the list like the mining run: requests PageNo until the extractor finishes.
std::vector<int> walk(THTMLExcavate& e, const std::string& lastHref)
{
    std::vector<int> requested;
    while (!e.Finished() && requested.size() < 50) {
        requested.push_back(e.PageNo());
        e.ProcessRatingPage(foldedPage(listPage(e.PageNo(), lastHref)));
    }
    return requested;
}

TEST(RatingWalk, ReadsUpToThePageOfTheLastWantedRating)
{
    THTMLExcavate e(1, 100, kRatingHost);
    EXPECT_EQ(walk(e, kLastIs10), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(e.LastPage(), 3);
    EXPECT_EQ(e.RatingCount(), 120) << "whole pages are read";
    EXPECT_EQ(e.Ratings().front().first, "0");
    EXPECT_EQ(e.Ratings()[1].first, "1");
    EXPECT_EQ(e.Ratings().back().first, "119");
    EXPECT_EQ(e.Ratings().back().second[3], "5550119");
    EXPECT_EQ(e.PageNo(), 4);
    EXPECT_TRUE(e.FirstPageDone());
    EXPECT_TRUE(e.SummaryDone());
}

TEST(RatingWalk, LastPageLinkBoundsTheWalk)
{
    THTMLExcavate all(1, 5000, kRatingHost);
    EXPECT_EQ(walk(all, kLastIs10).size(), 11u);
    EXPECT_EQ(all.LastPage(), 10);
    EXPECT_EQ(all.RatingCount(), 400);

    THTMLExcavate middle(81, 120, kRatingHost);
    EXPECT_EQ(walk(middle, kLastIs10), (std::vector<int>{3, 4}));
    EXPECT_EQ(middle.RatingCount(), 40);
    EXPECT_EQ(middle.Ratings().front().second[3], "555080");
    EXPECT_EQ(middle.Ratings().front().first, "0");
}

TEST(RatingWalk, WithoutLastPageLinkOnlyTheFirstPageIsRead)
{
    THTMLExcavate e(1, 5000, kRatingHost);
    EXPECT_EQ(walk(e, ""), (std::vector<int>{1, 2}));
    EXPECT_EQ(e.LastPage(), 1);
    EXPECT_EQ(e.RatingCount(), 40);

    THTMLExcavate nothing(1, 0, kRatingHost);
    EXPECT_EQ(walk(nothing, ""), (std::vector<int>{1}));
    EXPECT_EQ(nothing.LastPage(), 0);
    EXPECT_EQ(nothing.RatingCount(), 0);
    EXPECT_EQ(nothing.TotalRatings(), 5032) << "totals and summary are still read";
    EXPECT_EQ(nothing.salerCredit(), 1205);

    THTMLExcavate negative(1, -50, kRatingHost);
    walk(negative, kLastIs10);
    EXPECT_EQ(negative.LastPage(), 0);
}

TEST(RatingWalk, StartBeyondTheListFinishesWithoutRows)
{
    THTMLExcavate e(1000, 5000, kRatingHost);
    EXPECT_EQ(walk(e, kLastIs10), (std::vector<int>{25}));
    EXPECT_EQ(e.RatingCount(), 0);
    EXPECT_EQ(e.TotalRatings(), 5032);
}

TEST(RatingWalk, LastPageNumberForms)
{
    auto lastPage = [](const std::string& href) {
        THTMLExcavate e(1, 5000, kRatingHost);
        e.ProcessRatingPage(foldedPage(listPage(1, href)));
        return e.LastPage();
    };
    EXPECT_EQ(lastPage("http://r/user-rate-a--currentPage=7--x.htm"), 7);
    EXPECT_EQ(lastPage("http://r/user-rate-a--currentPage = 12--x.htm"), 12);
    EXPECT_EQ(lastPage("http://r/user-rate-a--currentPage|10--x.htm"), 10);
    EXPECT_EQ(lastPage("http://r/user-rate-a--currentPage%7C10--x.htm"), 1) << "the encoded bar is not read";
    EXPECT_EQ(lastPage("http://r/user-rate-a--page|10--x.htm"), 1);
}

TEST(RatingWalk, SummaryAndTotalsComeFromTheFirstPageOnly)
{
    THTMLExcavate e(1, 5000, kRatingHost);
    sample::RatingPage first = listPage(1, kLastIs10);
    first.rows[0].comment = "好<br/>用";
    e.ProcessRatingPage(foldedPage(first));
    EXPECT_EQ(e.Ratings()[0].second[8], gbkText("好用"));
    EXPECT_EQ(e.salerGood(), 1205);
    sample::RatingPage second = listPage(2, kLastIs10);
    second.sellerCredit = "9";
    second.totalSpan = "7";
    e.ProcessRatingPage(foldedPage(second));
    EXPECT_EQ(e.salerCredit(), 1205);
    EXPECT_EQ(e.TotalRatings(), 5032);
    EXPECT_EQ(e.RatingCount(), 80);
}

TEST(RatingWalk, CancelKeepsWhatWasRead)
{
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ProcessRatingPage(foldedPage(listPage(1, kLastIs10)));
    e.SetFinished(true);
    e.ProcessRatingPage(foldedPage(listPage(2, kLastIs10)));
    EXPECT_EQ(e.RatingCount(), 40);
    EXPECT_EQ(e.PageNo(), 2);
}

TEST(RatingTotal, DigitsBeforeTheFullWidthComma)
{
    auto total = [](const std::string& span) {
        sample::RatingPage p;
        p.totalSpan = span;
        THTMLExcavate e(1, 5000, kRatingHost);
        e.ProcessRatingPage(foldedPage(p));
        return e.TotalRatings();
    };
    EXPECT_EQ(total("共5,032条，最近半年1,207条"), 5032);
    EXPECT_EQ(total("812"), 812);
    EXPECT_EQ(total("暂无评价"), 0);
    EXPECT_EQ(total("，1234"), 0);
    EXPECT_EQ(total("99999999999"), 0) << "too large for the field";
    std::string page = foldedPage({});
    page.replace(page.find("class=\"g\""), 9, "class=\"x\"");
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ProcessRatingPage(page);
    EXPECT_EQ(e.TotalRatings(), 0);
}

RatingRecord readRow(const sample::Rating& r)
{
    sample::RatingPage p;
    p.rows = {r};
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ProcessRatingPage(foldedPage(p));
    EXPECT_EQ(e.RatingCount(), 1);
    return e.Ratings().empty() ? RatingRecord(10) : e.Ratings()[0].second;
}

TEST(RatingRows, EveryFieldOfAFullRow)
{
    sample::Rating r;
    r.explanation = "谢谢亲的支持";
    r.title = "夏季新款 Cotton T恤";
    const RatingRecord rec = readRow(r);
    ASSERT_EQ(rec.size(), 10u);
    EXPECT_EQ(rec[0], gbkText("好评"));
    EXPECT_EQ(rec[1], "2024-03-05 21:14:09");
    EXPECT_EQ(rec[2], "81234567");
    EXPECT_EQ(rec[3], "5550001");
    EXPECT_EQ(rec[4], gbkText("夏季新款 cotton t恤"));
    EXPECT_EQ(rec[5], gbkText("买家小王"));
    EXPECT_EQ(rec[6], "True");
    EXPECT_EQ(rec[7], "39.90");
    EXPECT_EQ(rec[8], gbkText("宝贝很好，物流也快"));
    EXPECT_EQ(rec[9], gbkText("谢谢亲的支持"));
}

TEST(RatingRows, OptionalPartsOfARow)
{
    sample::Rating r;
    r.noEffect = true;
    r.script = true;
    r.buyerBadge = true;
    r.comment = "还行<br />就是慢了点";
    RatingRecord rec = readRow(r);
    EXPECT_EQ(rec[0], gbkText("好评")) << "the no-score mark is not recorded";
    EXPECT_EQ(rec[5], gbkText("买家小王"));
    EXPECT_EQ(rec[8], gbkText("还行就是慢了点")) << "script and line breaks dropped";
    EXPECT_EQ(rec[9], gbkText("无"));

    sample::Rating anonymous;
    anonymous.buyerLink = false;
    anonymous.buyer = "匿名**人";
    EXPECT_EQ(readRow(anonymous)[5], gbkText("匿名**人"));
}

TEST(RatingRows, MissingPartsGiveDefaults)
{
    sample::Rating r;
    r.date = "2024.03.05 21:14:09"; // without brackets
    r.tradeId.clear();
    std::string row = sample::ratingRowUtf8(r);
    row.replace(row.find("trade_id="), 9, "order=");
    row.replace(row.find("&auction_id="), 12, "&item=");
    row.replace(row.rfind(" title=\""), 8, " alt=\""); // the item link's title
    sample::RatingPage p;
    std::string page = sample::ratingPageUtf8(p);
    page.insert(page.find("</table>\r\n<div class=\"page-nav\">"), row);
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ProcessRatingPage(text::foldAscii(gbkText(page)));
    ASSERT_EQ(e.RatingCount(), 1);
    const RatingRecord& rec = e.Ratings()[0].second;
    EXPECT_EQ(rec[1], "");
    EXPECT_EQ(rec[2], "");
    EXPECT_EQ(rec[3], "");
    EXPECT_EQ(rec[4], "");
    EXPECT_EQ(rec[7], "39.90");
    EXPECT_EQ(rec[9], gbkText("无"));
}

TEST(RatingRows, RowWithoutPriceIsNoRating)
{
    sample::RatingPage p;
    p.rows = sample::ratings(3);
    std::string page = sample::ratingPageUtf8(p);
    const size_t price = page.find("<span class=\"price\"><em>11.50</em>元</span>");
    ASSERT_NE(price, std::string::npos);
    page.erase(price, std::string("<span class=\"price\"><em>11.50</em>元</span>").size());
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ProcessRatingPage(text::foldAscii(gbkText(page)));
    ASSERT_EQ(e.RatingCount(), 2);
    EXPECT_EQ(e.Ratings()[1].second[3], "55502");
    EXPECT_EQ(e.Ratings()[1].first, "1");
}

TEST(RatingRows, DoubleByteCharactersWithAsciiTrailBytesSurvive)
{
    // 癆 ends in 'A', 乗 in '\', 腪 in 'Z': right after and before the Chinese literals.
    sample::Rating r;
    r.word = "乗";
    r.buyer = "癆乗";
    r.comment = "腪乗";
    r.explanation = "乗";
    r.title = "癆";
    r.price = "1";
    const RatingRecord rec = readRow(r);
    EXPECT_EQ(rec[0], gbkText("乗"));
    EXPECT_EQ(rec[5], "\xB0\x41\x81\x5C");
    EXPECT_EQ(rec[8], gbkText("腪乗"));
    EXPECT_EQ(rec[9], gbkText("乗"));
    EXPECT_EQ(rec[4], gbkText("癆"));

    sample::Rating plain;
    plain.buyerLink = false;
    plain.buyer = "乗A";
    EXPECT_EQ(readRow(plain)[5], gbkText("乗a"));
}

} // namespace
