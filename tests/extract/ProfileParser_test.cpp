#include "SamplePages.h"
#include "extract/CreditLevel.h"
#include "extract/THTMLExcavate.h"
#include "text/TextOps.h"

#include <gtest/gtest.h>

namespace {

using sample::gbkText;

const std::string kRatingHost = "http://rate.market.test";

TEST(CreditLevel, LevelBoundsBelongToTheLowerLevel)
{
    EXPECT_EQ(CreditLevel(3), std::nullopt);
    EXPECT_EQ(CreditLevel(4), 1);
    EXPECT_EQ(CreditLevel(10), 1);
    EXPECT_EQ(CreditLevel(11), 2);
    const int upper[] = {40,   90,    150,   250,   500,    1000,   2000,
                         5000, 10000, 20000, 50000, 100000, 200000, 500000};
    for (int level = 2; level <= 15; ++level) {
        EXPECT_EQ(CreditLevel(upper[level - 2]), level) << upper[level - 2];
        if (level < 15) {
            EXPECT_EQ(CreditLevel(upper[level - 2] + 1), level + 1) << upper[level - 2] + 1;
        }
    }
    EXPECT_EQ(CreditLevel(500001), std::nullopt);
    EXPECT_EQ(CreditLevel(0), std::nullopt);
    EXPECT_EQ(CreditLevel(-20), std::nullopt);
}

TEST(ProfileParser, StartPageHoldsTheFirstWantedRating)
{
    auto startPage = [](int from) { return THTMLExcavate(from, 5000, kRatingHost).PageNo(); };
    EXPECT_EQ(startPage(1), 1);
    EXPECT_EQ(startPage(40), 1);
    EXPECT_EQ(startPage(41), 2);
    EXPECT_EQ(startPage(81), 3);
    EXPECT_EQ(startPage(0), 1);
    EXPECT_EQ(startPage(-100), 1);
}

THTMLExcavate profile(const sample::ShopPage& p, const std::string& host = kRatingHost)
{
    THTMLExcavate e(1, 5000, host);
    e.LoadProfilePage(sample::shopPage(p));
    return e;
}

TEST(ProfileParser, RatingAddressUsesTheLoweredUserKey)
{
    const std::string tail =
        "--buyerOrSeller%7C--receivedOrPosted%7C--goodNeutralOrBad%7C--timeLine%7C--detailed%"
        "7C--ismore%7C1--auctionId%7C--lastModified%7C--currentPage%7C";
    THTMLExcavate e(1, 5000, kRatingHost);
    EXPECT_FALSE(e.Ready());
    e.LoadProfilePage(sample::shopPage({}));
    EXPECT_TRUE(e.Ready());
    EXPECT_FALSE(e.Finished());
    EXPECT_FALSE(e.SummaryDone());
    EXPECT_EQ(e.RatingUrlBase(), kRatingHost + "/user-rate-uxyz2008" + tail);

    sample::ShopPage port;
    port.ratingHref = "http://127.0.0.1:8631/user-rate-K9.htm";
    EXPECT_EQ(profile(port, "http://127.0.0.1:8631").RatingUrlBase(),
              "http://127.0.0.1:8631/user-rate-k9" + tail);
}

TEST(ProfileParser, MissingRatingLinkLeavesTheAddressEmpty)
{
    sample::ShopPage none;
    none.ratingLink = false;
    EXPECT_EQ(profile(none).RatingUrlBase(), "");

    THTMLExcavate e(1, 5000, kRatingHost);
    e.LoadProfilePage(gbkText("<li><a name=\"rate\">信用评价</a></li>"));
    EXPECT_EQ(e.RatingUrlBase(), "") << "a link without an address";

    // A rating link of another host or port would be pasted whole into a bogus address.
    sample::ShopPage elsewhere;
    elsewhere.ratingHref = "http://127.0.0.1:9999/user-rate-K9.htm";
    EXPECT_EQ(profile(elsewhere, "http://127.0.0.1:8631").RatingUrlBase(), "");
    elsewhere.ratingHref = "http://127.0.0.1:8631/shop/K9.htm";
    EXPECT_EQ(profile(elsewhere, "http://127.0.0.1:8631").RatingUrlBase(), "") << "not a rating page";
}

TEST(ProfileParser, HostWithPatternSyntaxIsMatchedLiterally)
{
    sample::ShopPage p;
    p.ratingHref = "http://[::1]:8631/user-rate-abc.htm";
    EXPECT_EQ(profile(p, "http://[::1]:8631").RatingUrlBase().substr(0, 31),
              "http://[::1]:8631/user-rate-abc");
}

std::string createDate(const std::string& a, const std::string& b)
{
    sample::ShopPage p;
    p.dateA = a;
    p.dateB = b;
    return profile(p).createDate();
}

TEST(ProfileParser, CreationDateFromEitherPageForm)
{
    EXPECT_EQ(createDate("2008-03-15", ""), "2008-03-15");
    EXPECT_EQ(createDate("2008-3-5", "2001/01/01"), "2008-3-5") << "a valid form A wins";
    EXPECT_EQ(createDate("", "2008/3/15"), "2008-3-15");
    EXPECT_EQ(createDate("", "不详"), "");
    EXPECT_EQ(createDate("2008年3月", ""), gbkText("2008年3月")) << "form A stays when there is no form B";
    EXPECT_EQ(createDate("2008年3月", "2008/03/15"), "2008-03-15");
    EXPECT_EQ(createDate("2008年3月", "今天"), "") << "form B replaces an invalid form A, even by nothing";
    EXPECT_EQ(createDate("", ""), "");
    EXPECT_EQ(createDate("", "2009/2/29"), "") << "no such day";
    EXPECT_EQ(createDate("", "2008/2/29"), "2008-2-29");
    EXPECT_EQ(createDate("", "08/2/9"), "");
    EXPECT_EQ(createDate("", "401877777777777777777/3/15"), "") << "a run of digits is no year";
    EXPECT_EQ(createDate("", "2008/003/15"), "");
}

THTMLExcavate summary(const sample::RatingPage& p)
{
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ParseCreditSummary(text::foldAscii(sample::ratingPage(p)));
    return e;
}

TEST(CreditSummary, EveryFigureOfAFullPage)
{
    THTMLExcavate e = summary({});
    EXPECT_EQ(e.salerCredit(), 1205);
    EXPECT_EQ(e.saleLevel(), 8);
    EXPECT_EQ(e.buyerCredit(), 56);
    EXPECT_EQ(e.buyLevel(), 3);
    EXPECT_EQ(e.salerGoodRate(), "99.85%");
    EXPECT_EQ(e.buyerGoodRate(), "100.00%");
    EXPECT_EQ(e.salerGood(), 1205);
    EXPECT_EQ(e.salerNotBad(), 11);
    EXPECT_EQ(e.salerBad(), 4);
    EXPECT_EQ(e.buyerGood(), 38);
    EXPECT_EQ(e.buyerNotBad(), 1);
    EXPECT_EQ(e.buyerBad(), 2);
}

TEST(CreditSummary, CreditOutsideTheLevelTableKeepsTheLevel)
{
    auto seller = [](const std::string& credit) {
        sample::RatingPage p;
        p.sellerCredit = credit;
        THTMLExcavate e = summary(p);
        return std::pair(e.salerCredit(), e.saleLevel());
    };
    EXPECT_EQ(seller("3"), std::pair(3, 0));
    EXPECT_EQ(seller("4"), std::pair(4, 1));
    EXPECT_EQ(seller("500000"), std::pair(500000, 15));
    EXPECT_EQ(seller("500001"), std::pair(500001, 0));
    EXPECT_EQ(seller("很多"), std::pair(1, 0)) << "a credit that is no number counts as 1";
    EXPECT_EQ(seller("1205 "), std::pair(1, 0)) << "nothing may follow the number";

    // A second summary without levels in the table leaves the first levels alone.
    THTMLExcavate e(1, 5000, kRatingHost);
    e.ParseCreditSummary(text::foldAscii(sample::ratingPage({})));
    sample::RatingPage high;
    high.sellerCredit = "900000";
    e.ParseCreditSummary(text::foldAscii(sample::ratingPage(high)));
    EXPECT_EQ(e.salerCredit(), 900000);
    EXPECT_EQ(e.saleLevel(), 8);
}

TEST(CreditSummary, RatesNeedBothLines)
{
    sample::RatingPage p;
    p.rates = false;
    THTMLExcavate e = summary(p);
    EXPECT_EQ(e.salerGoodRate(), "");
    EXPECT_EQ(e.buyerGoodRate(), "");

    THTMLExcavate onlySeller(1, 5000, kRatingHost);
    onlySeller.ParseCreditSummary(gbkText("<li>卖家好评率：<strong>98%<span></span></strong></li>"));
    EXPECT_EQ(onlySeller.salerGoodRate(), "");
}

TEST(CreditSummary, OneTableFillsOnlyTheSellerFigures)
{
    sample::RatingPage p;
    p.buyerTable = false;
    THTMLExcavate e = summary(p);
    EXPECT_EQ(e.salerGood(), 1205);
    EXPECT_EQ(e.salerBad(), 4);
    EXPECT_EQ(e.buyerGood(), 0);
    EXPECT_EQ(e.buyerNotBad(), 0);
    EXPECT_EQ(e.buyerBad(), 0);

    p.buyerTable = true;
    p.seller.bad[4] = -1; // shown as "-1"
    p.buyer.good[0] = 7;
    sample::RatingPage cells = p;
    std::string page = sample::ratingPageUtf8(cells);
    // A total cell that is no number counts 0.
    const std::string goodTotal = "<td class=\"total\">1205</td>";
    page.replace(page.find(goodTotal), goodTotal.size(), "<td class=\"total\">1,205</td>");
    THTMLExcavate odd(1, 5000, kRatingHost);
    odd.ParseCreditSummary(text::foldAscii(gbkText(page)));
    EXPECT_EQ(odd.salerGood(), 0);
    EXPECT_EQ(odd.salerBad(), -1);
    EXPECT_EQ(odd.buyerGood(), 38);
}

} // namespace
