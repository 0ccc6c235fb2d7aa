#include "SamplePages.h"
#include "extract/THTMLExcavate.h"
#include "extract/TSearchUser.h"
#include "text/TRegex.h"
#include "text/TextOps.h"

#include <gtest/gtest.h>
#include <random>

// Pages the parsers must survive: legitimate pages of several megabytes without a line
// break must still be read right, garbage and hostile pages must end quickly with defaults.

namespace {

using sample::gbkText;

constexpr size_t kMB = 1 << 20;

std::string repeat(const std::string& piece, size_t bytes)
{
    std::string out;
    out.reserve(bytes + piece.size());
    while (out.size() < bytes)
        out += piece;
    return out;
}

// Restores the process-wide match limit when a test changes it.
class MatchLimitGuard
{
public:
    MatchLimitGuard() : m_saved(TRegex::matchLimit()) {}
    ~MatchLimitGuard() { TRegex::setMatchLimit(m_saved); }

private:
    unsigned m_saved;
};

struct SearchResult
{
    int total;
    int shops;
};

SearchResult search(const std::string& page, int limit = 10)
{
    TSearchUser parser(limit, 40, "http://www.market.test/");
    parser.LoadFirstPage(page);
    parser.ProcessPage(page);
    return {parser.TotalFound(), parser.ShopCount()};
}

void expectProfileDefaults(const THTMLExcavate& e)
{
    EXPECT_EQ(e.RatingUrlBase(), "");
    EXPECT_EQ(e.createDate(), "");
    EXPECT_EQ(e.salerCredit(), 0);
    EXPECT_EQ(e.buyerCredit(), 0);
    EXPECT_EQ(e.salerGood(), 0);
    EXPECT_EQ(e.buyerBad(), 0);
    EXPECT_EQ(e.salerGoodRate(), "");
    EXPECT_EQ(e.TotalRatings(), 0);
    EXPECT_EQ(e.LastPage(), 1);
    EXPECT_EQ(e.RatingCount(), 0);
}

THTMLExcavate mine(const std::string& shopPage, const std::string& ratingPage)
{
    THTMLExcavate e(1, 5000, "http://rate.market.test");
    e.LoadProfilePage(shopPage);
    e.ProcessRatingPage(text::foldAscii(ratingPage));
    return e;
}

TEST(LargeLegitimatePages, ResultPageOfMegabytesOnOneLineIsReadWhole)
{
    sample::ResultPage p;
    p.total = "100000";
    p.shops = sample::shops(2500); // about 2.5 MB; blank runs go, so it is one line
    const std::string page = sample::resultPage(p);
    ASSERT_GT(page.size(), 2 * kMB);
    const SearchResult r = search(page, 0);
    EXPECT_EQ(r.total, 100000);
    EXPECT_EQ(r.shops, 2500);

    // The breadcrumb's greedy ".*" backtracks over the whole page: a match limit near 1e5
    // would lose the total, and with it every shop.
    MatchLimitGuard guard;
    TRegex::setMatchLimit(100000);
    EXPECT_EQ(search(page, 0).total, 0);
}

TEST(LargeLegitimatePages, RatingPageOfMegabytesIsReadWhole)
{
    sample::RatingPage p;
    p.rows = sample::ratings(4000);
    const THTMLExcavate e = mine(sample::shopPage({}), sample::ratingPage(p));
    EXPECT_EQ(e.RatingCount(), 4000);
    EXPECT_EQ(e.Ratings().back().second[2], "81003999");
    EXPECT_EQ(e.salerGood(), 1205);
    EXPECT_EQ(e.TotalRatings(), 5032);
}

const std::string kCrumbHead =
    "<div id=\"linkpath\"><ul class=\"pathlinkslevel1\"><li><a href=\"/\">a</a></li>"
    "<li><a href=\"/s\">b</a></li>";

TEST(HostilePages, OneLongBacktrackGivesUpAtTheMatchLimit)
{
    // One breadcrumb, then megabytes of list items without the counted item: the greedy
    // ".*" would try every item end.
    EXPECT_EQ(search(kCrumbHead + repeat("<li>xxxx", 4 * kMB)).total, 0);
    EXPECT_EQ(search(repeat(kCrumbHead + "<li>xxxx</li><li>yy", 4 * kMB)).total, 0);
}

TEST(HostilePages, ManyCostlyStartPositionsStopAtTheDeadline)
{
    // Every breadcrumb head is a start position that stays under the match limit but scans
    // to the end of the line: without the deadline this takes minutes.
    const SearchResult r = search(repeat(kCrumbHead + "<li>xxxx</li><li>yy", 300 * 1024));
    EXPECT_EQ(r.total, 0);
    EXPECT_EQ(r.shops, 0);

    // An address-like run with no tag end: every "<a href" scans to the end of the page.
    const std::string links = repeat("<a href", 2 * kMB);
    expectProfileDefaults(mine(links, links));
}

TEST(HostilePages, GarbageAndBrokenPagesGiveDefaults)
{
    std::mt19937 rng(20240305);
    std::string noise(20 * kMB, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    EXPECT_EQ(search(noise).total, 0);
    expectProfileDefaults(mine(noise, noise));

    EXPECT_EQ(search("").total, 0);
    expectProfileDefaults(mine("", ""));

    // The same pages in UTF-8 instead of GBK: no Chinese literal matches.
    sample::RatingPage rp;
    rp.rows = sample::ratings(5);
    const THTMLExcavate utf8 = mine(sample::gbkText(""), sample::ratingPageUtf8(rp));
    EXPECT_EQ(utf8.salerCredit(), 0);
    EXPECT_EQ(utf8.RatingCount(), 0);
}

TEST(HostilePages, TruncatedPagesNeverYieldMoreThanWasThere)
{
    sample::ResultPage p;
    p.total = "3";
    p.shops = sample::shops(3);
    const std::string result = sample::resultPage(p);
    sample::RatingPage rp;
    rp.rows = sample::ratings(3);
    const std::string rating = sample::ratingPage(rp);
    const std::string shop = sample::shopPage({});
    for (size_t cut = 0; cut < result.size(); cut += 97) {
        const SearchResult r = search(result.substr(0, cut), 0);
        EXPECT_TRUE(r.total == 0 || r.total == 3) << cut;
        EXPECT_LE(r.shops, 3) << cut;
    }
    for (size_t cut = 0; cut < rating.size(); cut += 97) {
        const THTMLExcavate e = mine(shop.substr(0, cut % shop.size()), rating.substr(0, cut));
        EXPECT_LE(e.RatingCount(), 3) << cut;
        EXPECT_TRUE(e.salerCredit() == 0 || e.salerCredit() == 1205 || e.salerCredit() == 1) << cut;
    }
}

} // namespace
