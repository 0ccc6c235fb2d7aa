// The demo marketplace's pages, read with the program's own patterns (as the readers of
// result, shop and rating pages use them), compared with what the marketplace says it
// served. A page shape that a reader would miss fails here.

#include "MarketProcess.h"
#include "QtTestApp.h"

#include "text/GbkCodec.h"
#include "text/TRegex.h"
#include "text/TextOps.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <optional>

namespace {

std::string g(const char* utf8)
{
    return gbk::fromUtf8(utf8);
}

// What the program stores for a served text: GBK, ASCII letters lowered.
std::string stored(const QJsonValue& v)
{
    return text::foldAscii(gbk::fromQString(v.isString() ? v.toString() : QString::number(v.toInt())));
}

std::optional<std::string> findIn(const char* utf8Pattern, std::string_view subject, bool fold = false)
{
    auto m = TRegex::fromUtf8(utf8Pattern, fold)->find(subject);
    if (!m)
        return std::nullopt;
    return std::string(m->text(subject));
}

std::string del(const char* utf8Pattern, std::string_view subject, bool fold = false)
{
    return text::RegexReplace(g(utf8Pattern), subject, "", fold);
}

int countOf(std::string_view haystack, std::string_view needle)
{
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

size_t collect(char* data, size_t size, size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// A plain synchronous GET; the page bytes, or nothing on any error.
std::optional<std::string> fetch(const std::string& url)
{
    CURL* h = curl_easy_init();
    std::string body;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
    CURLcode rc = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK || status != 200)
        return std::nullopt;
    return body;
}

const char* const kBlockPieces[] = {
    R"P(<div\s*class=\"shop\">\s*)P",
    R"P(<div\s*class=\"shoplogo\">\s*<a\s*[^<]+\s*<img\s*[^<]+\s*</a>\s*(<img\s*[^<]+\s*</a>\s*)?</div>\s*)P",
    R"P(<div\s*class=\"info\">\s*<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*[^>]+>)P",
    R"P(\s*[^<]*(<span\s*class=\"h\"\s*>\s*[^<]*\s*</span>\s*)?\s*[^<]*\s*</a>\s*</div>\s*<div\s*class=\"market\">\s*<i>\s*[^<]+</i>\s*[^<]*</div>\s*(<ul\sclass=\"promotion-list\">((?!</ul>).)*</ul>)?</div>\s*)P",
    R"P(<div\s*class=\"userlevel\">\s*<i>[^<]+</i>\s*(<img[^>]+>)?\s*(<!--)?\s*<span\s*[^>]*>((?!</span>).)*</span>\s*(-->)?\s*</div>\s*)P",
    R"P(<div\s*class="place\">[^<]*</div>\s*)P",
    R"P(<div\s*class=\"legend\">\s*(<a\s*[^>]+>\s*<img\s*[^>]*></a>)?\s*[^<]*\s*</div>\s*)P",
    R"P(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^<]+</a>\s*<span\s*[^<]+</span>\s*</div>\s*)P",
    R"P(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*[^<]+</div>\s*</div>\s*<div\s*class=\"hackbox\">\s*</div>)P",
};

struct ResultPage
{
    int total = -1;
    std::vector<std::string> blocks; // matched blocks, folded
    int rendered = 0;                // blocks on the page, matched or not
};

ResultPage readResultPage(const std::string& page)
{
    ResultPage out;
    const std::string text = text::foldAscii(text::removeWhitespaceRuns(page));
    if (auto crumb = findIn(
            R"P(<div\s*id=\"*linkpath\"*>\s*<ul\s*class=\"pathlinkslevel1\">\s*<li><a\s*[^<]+</a></li>\s*<li><a\s*[^<]+</a></li>\s*(<li>.*</li>)?\s*<li>[^<]+<span>\s*[^<]+)P",
            text, true)) {
        std::string rest = del(
            R"P(<div\s*id=\"*linkpath\"*>\s*<ul\s*class=\"pathlinkslevel1\">\s*<li><a\s*[^<]+</a></li>\s*<li><a\s*[^<]+</a></li>\s*(<li>.*</li>)?\s*<li>[^<]+<span>\s*)P",
            *crumb);
        rest = del(R"(\))", del(R"(\()", rest));
        out.total = text::toIntDef(text::trim(rest), -2);
    }
    std::string joined;
    for (const char* piece : kBlockPieces)
        joined += piece;
    auto block = TRegex::fromUtf8(joined, true);
    for (auto m = block->find(text); m; m = block->find(text, m->end))
        out.blocks.emplace_back(m->text(text));
    out.rendered = countOf(text, "<div class=\"shop\">");
    return out;
}

// The six texts of a shop record, read from one block.
std::vector<std::string> shopFields(const std::string& b)
{
    std::vector<std::string> f(6);
    if (auto m = findIn(R"P(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^<]+)P", b))
        f[0] = del(R"P(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^>]+>)P", *m);
    if (auto m = findIn(
            R"P(<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*href=.+\s*</a>\s*</div>\s*)P",
            b)) {
        std::string s = del(
            R"P(<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*href\s*=[^>]+\s*>)P",
            *m);
        s = del(R"P(</[^>]+>)P", del(R"P(<[^>]+>)P", del(R"P(\s*</a>)P", s)));
        f[1] = text::DecodeEntities(s);
    }
    if (auto m = findIn(R"P(<div\s*class=\"market\">\s*<i>[^<]+</i>\s*[^<]*</div>)P", b))
        f[2] = del("</div>", del(R"P(<div\s*class=\"market\">\s*<i>[^<]+</i>\s*)P", *m));
    if (auto m = findIn(R"P(<div\s*class=\"shoplogo\">\s*<a\s*[^<]+\s*)P", b))
        f[3] = del(R"P(\")P", del(R"P(\s*target\s*=\"_blank\">)P",
                                  del(R"P(<div\s*class=\"shoplogo\">\s*<a\s*href\s*=\s*\")P", *m)));
    if (auto m = findIn(R"P(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*[^<]+)P", b))
        f[4] = del(R"P(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*)P", *m);
    if (auto m = findIn(R"P(<div\s*class="place\">[^<]*\s*)P", b))
        f[5] = del(R"P(<div\s*class="place\">)P", *m);
    return f;
}

class DemoMarketPages : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ensureCoreApp();
        s_dir = new QTemporaryDir;
        const QString truth = s_dir->filePath(QStringLiteral("truth.json"));
        s_market = new MarketProcess(
            {QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--shops"), QStringLiteral("300"),
             QStringLiteral("--ratings"), QStringLiteral("90"), QStringLiteral("--dump-truth"), truth});
        QFile f(truth);
        if (f.open(QIODevice::ReadOnly))
            s_truth = new QJsonObject(QJsonDocument::fromJson(f.readAll()).object());
        else
            s_truth = new QJsonObject;
    }
    static void TearDownTestSuite()
    {
        delete s_market;
        delete s_truth;
        delete s_dir;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_market->running());
        ASSERT_EQ(shops().size(), 300);
    }
    static QJsonArray shops() { return (*s_truth)[QStringLiteral("shops")].toArray(); }
    static QJsonObject shop(int index) { return shops()[index - 1].toObject(); }
    static std::string page(const std::string& path)
    {
        auto body = fetch(s_market->url(path));
        EXPECT_TRUE(body.has_value()) << path;
        return body.value_or("");
    }
    template <typename Pred> static int countShops(Pred pred)
    {
        int n = 0;
        for (const auto& v : shops())
            n += pred(v.toObject());
        return n;
    }
    void expectBlockIsShop(const std::string& block, const QJsonObject& s)
    {
        std::vector<std::string> f = shopFields(block);
        EXPECT_EQ(f[0], stored(s["shopkeeper"]));
        EXPECT_EQ(f[1], stored(s["name"]));
        EXPECT_EQ(f[2], stored(s["business"]));
        EXPECT_EQ(f[3], stored(s["address"]));
        EXPECT_EQ(f[4], stored(s["goods"]));
        EXPECT_EQ(f[5], stored(s["location"]));
        EXPECT_EQ(TRegex::fromUtf8(R"P(<span\s*class=\"bseller\">)P", true)->contains(block),
                  s["bseller"].toBool());
    }

    static QTemporaryDir* s_dir;
    static MarketProcess* s_market;
    static QJsonObject* s_truth;
};

QTemporaryDir* DemoMarketPages::s_dir = nullptr;
MarketProcess* DemoMarketPages::s_market = nullptr;
QJsonObject* DemoMarketPages::s_truth = nullptr;

TEST_F(DemoMarketPages, EveryResultBlockOfEveryPageIsReadWithItsShopRecord)
{
    int index = 0;
    // Each accepted block form must occur, so that the readers meet all of them.
    std::map<std::string, int> forms;
    for (int p = 1; p <= 8; ++p) {
        std::string raw =
            page("/browse/shop-.htm?sort=&" + (p > 1 ? "&page=" + std::to_string(p) : std::string()));
        ResultPage r = readResultPage(raw);
        EXPECT_EQ(r.total, 300) << "page " << p;
        EXPECT_EQ(r.rendered, p < 8 ? 40 : 20) << "page " << p;
        ASSERT_EQ(int(r.blocks.size()), r.rendered)
            << "a block of page " << p << " does not match the block pattern";
        for (const std::string& b : r.blocks) {
            expectBlockIsShop(b, shop(++index));
            forms["logo badge"] += countOf(b, "</a><img") > 0;
            forms["icon link"] += countOf(b, "mall.gif") > 0;
            forms["promotions"] += countOf(b, "promotion-list") > 0;
            forms["commented level"] += countOf(b, "<!--") > 0;
            forms["level image"] += countOf(b, "/img/rank/") > 0;
            forms["guarantee link"] += countOf(b, "guarantee.gif") > 0;
            forms["bseller"] += countOf(b, "bseller") > 0;
            for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&nbsp;"})
                forms[entity] += countOf(b, entity) > 0;
        }
    }
    EXPECT_EQ(index, 300);
    for (const auto& [form, n] : forms)
        EXPECT_GT(n, 0) << form;
}

TEST_F(DemoMarketPages, SearchCriteriaFilterTheShopsAndTheWordIsHighlighted)
{
    // A GBK shop name: the found shops carry the word in a highlight span, and the name is
    // still read whole.
    const std::string word = g("青禾");
    ResultPage named = readResultPage(page("/browse/shop-.htm?sort=&shopname=" + word + "&"));
    int expected = countShops(
        [](const QJsonObject& s) { return s["name"].toString().contains(QStringLiteral("青禾")); });
    ASSERT_GT(expected, 0);
    EXPECT_EQ(named.total, expected);
    ASSERT_EQ(int(named.blocks.size()), std::min(expected, 40));
    for (const std::string& b : named.blocks) {
        EXPECT_NE(b.find("<span class=\"h\">" + word + "</span>"), std::string::npos);
        EXPECT_NE(shopFields(b)[1].find(word), std::string::npos);
    }

    // A category: the breadcrumb gains the category item and the total is still read.
    ResultPage phones = readResultPage(page("/browse/shop-13.htm?sort=&"));
    EXPECT_EQ(phones.total,
              countShops([](const QJsonObject& s) { return s["category"] == QStringLiteral("13"); }));
    EXPECT_EQ(int(phones.blocks.size()), std::min(phones.total, 40));

    // Seller levels, with the trailing comma the program writes.
    ResultPage levels = readResultPage(page("/browse/shop-.htm?sort=&ratesum=1,2,15"));
    EXPECT_EQ(levels.total, countShops([](const QJsonObject& s) {
                  int l = s["sellerLevel"].toInt();
                  return l == 1 || l == 2 || l == 15;
              }));

    // Main business and location texts together; a page past the end has the total and no block.
    ResultPage both =
        readResultPage(page("/browse/shop-.htm?sort=&keybiz=" + g("茶叶") + "&loc=" + g("杭州") + "&"));
    EXPECT_EQ(both.total, countShops([](const QJsonObject& s) {
                  return s["business"].toString().contains(QStringLiteral("茶叶")) &&
                         s["location"].toString().contains(QStringLiteral("杭州"));
              }));
    ResultPage beyond = readResultPage(page("/browse/shop-.htm?sort=&&page=99"));
    EXPECT_EQ(beyond.total, 300);
    EXPECT_TRUE(beyond.blocks.empty());
}

TEST_F(DemoMarketPages, ShopPagesLinkTheRatingListAndShowTheCreationDate)
{
    const std::string ratingPrefix = s_market->base() + "/user-rate-";
    int formA = 0, formB = 0;
    for (int i = 1; i <= 60; ++i) {
        const QJsonObject s = shop(i);
        const std::string text = text::foldAscii(page("/shop/" + std::to_string(i) + ".htm"));

        auto link = findIn(R"P(<a\s*[^>]+>信用评价</a>)P", text, true);
        ASSERT_TRUE(link) << "shop " << i;
        auto href = findIn(R"P(href=\"[^\"]+\")P", *link);
        ASSERT_TRUE(href);
        std::string key = del(R"P(\")P", del(R"P(href=\")P", *href));
        key = del(R"P(\.htm)P", text::RegexReplace(ratingPrefix, key, "", true));
        EXPECT_EQ(key, stored(s["key"]));
        EXPECT_NE(s["key"].toString(), s["key"].toString().toLower()) << "the key shows upper-case letters";

        std::string date;
        if (auto a = findIn(R"P(<li>\s*<span>创店时间：</span>\s*[^<]+\s*</li>)P", text, true)) {
            ++formA;
            date = del(R"P(\s*</li>)P", del(R"P(<li>\s*<span>创店时间：</span>\s*)P", *a));
        } else if (auto b = findIn(R"P(<li>\s*<span\s*[^>]+>\s*创店时间:\s*</span>\s*[^<]+\s*</li>)P", text,
                                   true)) {
            ++formB;
            date = del(R"P(\s*</li>)P", del(R"P(<li>\s*<span\s*[^>]+>\s*创店时间:\s*</span>\s*)P", *b));
            std::replace(date.begin(), date.end(), '/', '-');
        }
        EXPECT_EQ(date, stored(s["createDate"])) << "shop " << i;
    }
    EXPECT_GT(formA, 0);
    EXPECT_GT(formB, 0);
}

TEST_F(DemoMarketPages, RatingPagesAtTheProgramsAddressesYieldTotalsSummaryAndEveryRow)
{
    std::map<std::string, int> forms;
    for (int i = 1; i <= 16; ++i) {
        const QJsonObject s = shop(i);
        const QJsonArray ratings = s["ratings"].toArray();
        // The address as the mining run builds it: the key lowered, "|" written as %7C.
        const std::string base =
            s_market->base() + "/user-rate-" + stored(s["key"]) +
            "--buyerOrSeller%7C--receivedOrPosted%7C--goodNeutralOrBad%7C--timeLine%7C--detailed%7C"
            "--ismore%7C1--auctionId%7C--lastModified%7C--currentPage%7C";
        for (int p = 1; p <= 4; ++p) {
            auto body = fetch(base + std::to_string(p) + "--snapId%7C0.htm");
            ASSERT_TRUE(body) << "shop " << i << " page " << p;
            const std::string text = text::foldAscii(*body);

            auto total = findIn(R"P(<span\s*class\s*=\s*\"G\">[^<]+)P", text, true);
            ASSERT_TRUE(total);
            std::string digits = text::RegexReplace(g(R"P(<span\s*class\s*=\s*\"g\">)P"), *total, "", true);
            digits = text::RegexReplace("[^0-9]*", text::RegexReplace(g("，.*"), digits, "", true), "", true);
            EXPECT_EQ(text::toIntDef(digits, 0), 90);

            auto last = findIn(R"P(<a\s*href[^>]+>\s*末页)P", text);
            ASSERT_TRUE(last);
            auto n = findIn(R"P(currentpage\s*(=|\|)\s*[0-9]+)P", *last);
            ASSERT_TRUE(n) << *last;
            EXPECT_EQ(text::toIntDef(del(R"P(currentpage\s*(=|\|)\s*)P", *n), 1), 3);
            forms[n->find('|') != std::string::npos ? "pipe" : "equals"]++;

            if (p == 1) {
                const std::string summary = text::removeWhitespaceRuns(text);
                auto credit = [&](const char* find, const char* prefix) {
                    auto m = findIn(find, summary);
                    return m ? text::toIntDef(del("</a>", del(prefix, *m)), 1) : -1;
                };
                EXPECT_EQ(credit(R"P(<h4\s*class=\"seller\">\s*卖家累积信用：\s*<a\s[^>]+>\s*[^<]+</a>)P",
                                 R"P(<h4\s*class=\"seller\">\s*卖家累积信用：\s*<a\s[^>]+>\s*)P"),
                          s["sellerCredit"].toInt());
                EXPECT_EQ(credit(R"P(<h4\s*class=\"buyer\">\s*买家累积信用：\s*<a\s[^>]+>\s*[^<]+</a>)P",
                                 R"P(<h4\s*class=\"buyer\">\s*买家累积信用：\s*<a\s[^>]+>\s*)P"),
                          s["buyerCredit"].toInt());
                auto pair = findIn("<li>卖家好评率：<strong>[^<]+<span></span></strong></li>"
                                   R"P(\s*<li>买家好评率：<strong>[^<]+<span></span></strong></li>)P",
                                   summary, true);
                ASSERT_TRUE(pair);
                auto rate = [&](const char* find, const char* prefix) {
                    auto m = findIn(find, *pair);
                    return m ? del("</span>", del("<span>", del(prefix, *m))) : std::string();
                };
                EXPECT_EQ(rate("<li>卖家好评率：<strong>[^<]+<span>", "<li>卖家好评率：<strong>"),
                          stored(s["sellerGoodRate"]));
                EXPECT_EQ(rate("<li>买家好评率：<strong>[^<]+<span>", "<li>买家好评率：<strong>"),
                          stored(s["buyerGoodRate"]));
                const char* const kinds[3][3] = {{"rate-ok", "好评", "Good"},
                                                 {"rate-normal", "中评", "Neutral"},
                                                 {"rate-bad", "差评", "Bad"}};
                for (const auto& k : kinds) {
                    const std::string head =
                        std::string(R"P(<tr>\s*<td><span\s*class=\"rate-icon\s)P") + k[0] + "\\\">" + k[1] +
                        R"P(</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>)P";
                    auto row = TRegex::fromUtf8(head + R"P([^<]+</td>\s*</tr>)P", true);
                    auto figure = [&](const TRegex::Match& m) {
                        std::string t = text::RegexReplace(gbk::fromUtf8(head), m.text(summary), "", false);
                        return text::toIntDef(del(R"P(</td>\s*</tr>)P", t), 0);
                    };
                    auto seller = row->find(summary);
                    ASSERT_TRUE(seller) << k[1];
                    EXPECT_EQ(figure(*seller), s[QStringLiteral("seller") + k[2]].toInt()) << k[1];
                    auto buyer = row->find(summary, seller->end);
                    EXPECT_EQ(buyer ? figure(*buyer) : 0, s[QStringLiteral("buyer") + k[2]].toInt()) << k[1];
                    forms[buyer ? "buyer table" : "no buyer table"]++;
                }
            }

            // Rows: line breaks dropped, whitespace runs removed, folded, then every match.
            std::string rows =
                text::removeWhitespaceRuns(text::RegexReplace(g(R"P(<br\s*/>)P"), text, "", true));
            auto row = TRegex::fromUtf8(
                R"P(<tr><td\sclass=\"rate\"><span\s[^>]+>[^<]+</span>(<span\sclass=\"no-effect\">\[不计分\]</span>)?</td><td><p\sclass=\"rate\"\sstyle=\"text-align:left;\">(<script>[^<]+</script>)?[^<]+</p>(<p\sclass=\"exp\">[^<]+</p>)?<span\sclass=\"date\">[^<]+</span></td><td>买家：(<a\s[^>]+>[^<]+</a>(<a\s[^>]+><img\s[^>]+></a>)?)?([^<]+)?</td><td><p\sclass=\"exp\"><a\s[^>]+>[^<]+</a></p><span\sclass=\"price\"><em>[^<]+</em>元</span></td></tr>)P",
                true);
            int k = 0;
            for (auto m = row->find(rows); m; m = row->find(rows, m->end), ++k) {
                const std::string r(m->text(rows));
                const int number = (p - 1) * 40 + k;
                ASSERT_LT(number, ratings.size());
                const QJsonObject want = ratings[number].toObject();
                std::string f[10];
                if (auto x = findIn(R"P(<td\sclass=\"rate\"><span[^>]+>\s*[^<]+)P", r))
                    f[0] = del(R"P(\")P", del(R"P(<td\sclass=\"rate\"><span[^>]+>\s*)P", *x));
                if (auto x = findIn(R"P(<span\sclass=\"date\">\[[^<]+\]</span>)P", r))
                    f[1] = del(R"P(\]</span>)P", del(R"P(<span\sclass=\"date\">\[)P",
                                                     text::RegexReplace(R"(\.)", *x, "-", false)));
                if (auto x = findIn("trade_id=[^=]+", r))
                    f[2] = del("&auction_id", del("trade_id=", *x));
                if (auto x = findIn("&auction_id=[^=]+", r))
                    f[3] = del(R"P(\"\s*title)P", del("&auction_id=", *x));
                if (auto x = findIn(R"P(<a\shref=\"[^\"]+\"\s*title=\"[^\"]+\"\s*target=\"[^>]+>)P", r))
                    f[4] = del(R"P(\"\s*target=\"[^>]+>)P", del(R"P(<a\shref=\"[^\"]+\"\s*title=\")P", *x));
                if (auto x = findIn(R"P(买家：(<a\s[^>]+>[^<]+</a>(<a\s[^>]+><img\s[^>]+></a>)?)?([^<]+)?)P",
                                    r, true)) {
                    if (auto y = findIn(R"P(买家：<a\s[^>]+>[^<]+</a>)P", *x, true))
                        f[5] = del("</a>", del(R"P(买家：<a\s[^>]+>)P", *y));
                    else
                        f[5] = del("买家：", *x);
                }
                if (auto x = findIn(R"P(<span\sclass=\"price\"><em>[^<]+</em>元</span>)P", r))
                    f[7] = del("</em>元</span>", del(R"P(<span\sclass=\"price\"><em>)P", *x));
                if (auto x = findIn(
                        R"P(<p\sclass=\"rate\"\sstyle=\"text-align:left;\">(<script>[^<]+</script>)?[^<]+</p>)P",
                        r, true))
                    f[8] = del("</p>",
                               del("<script>[^<]+</script>",
                                   del(R"P(<p\sclass=\"rate\"\sstyle=\"text-align:left;\">)P", *x, true)));
                f[9] = g("无");
                if (auto x = findIn(R"P(</p><p\sclass=\"exp\">[^<]+</p><span\sclass=\"date\">)P", r, true))
                    f[9] =
                        del(R"P(</p><span\sclass=\"date\">)P", del(R"P(</p><p\sclass=\"exp\">)P", *x, true));

                EXPECT_EQ(f[0], stored(want["pj"]));
                EXPECT_EQ(f[1], stored(want["time"]));
                EXPECT_EQ(f[2], stored(want["tradeId"]));
                EXPECT_EQ(f[3], stored(want["itemId"]));
                EXPECT_EQ(f[4], stored(want["title"]));
                EXPECT_EQ(f[5], stored(want["buyer"]));
                EXPECT_EQ(f[7], stored(want["price"]));
                EXPECT_EQ(f[8], stored(want["comment"]));
                EXPECT_EQ(f[9], stored(want["explanation"])) << "shop " << i << " rating " << number;
                forms["no-effect"] += countOf(r, "no-effect") > 0;
                forms["script"] += countOf(r, "<script>") > 0;
                forms["explanation"] += countOf(r, "<p class=\"exp\">") > 1;
                forms["anonymous"] += countOf(r, g("买家：<a")) == 0;
                forms["buyer icon"] += countOf(r, "<img") > 0;
                forms["dotted date"] +=
                    countOf(r, "<span class=\"date\">[") > 0 && r[r.find("date\">[") + 11] == '.';
            }
            // 40 rows a page, the rest on the last; none on a page past the end.
            EXPECT_EQ(k, p < 3 ? 40 : p == 3 ? 10 : 0) << "shop " << i << " page " << p;
            EXPECT_EQ(countOf(text, "<tr><td class=\"rate\">"), k)
                << "a rating row does not match the row pattern";
        }
    }
    for (const char* form : {"pipe", "equals", "buyer table", "no buyer table", "no-effect", "script",
                             "explanation", "anonymous", "buyer icon", "dotted date"})
        EXPECT_GT(forms[form], 0) << form;
}

TEST_F(DemoMarketPages, SnapshotAddressShowsTheTradedItem)
{
    const QJsonObject r = shop(5)["ratings"].toArray()[0].toObject();
    std::string snap = page("/auction/snap_detail.htm?trade_id=" + r["tradeId"].toString().toStdString() +
                            "&auction_id=" + r["itemId"].toString().toStdString());
    EXPECT_NE(snap.find(gbk::fromQString(r["title"].toString())), std::string::npos);
    EXPECT_FALSE(fetch(s_market->url("/auction/snap_detail.htm?trade_id=1&auction_id=999")).has_value());
}

// The ratings are dated within the year before the market's day, so the analyses' default range
// finds some; a seed gives the same market relative to that day, whichever day it is.
TEST(DemoMarketDates, RatingsLieWithinTheYearBeforeTheDayAndMoveWithIt)
{
    ensureCoreApp();
    QTemporaryDir dir;
    auto times = [&](const QString& today) {
        const QString truth = dir.filePath(today + QStringLiteral(".json"));
        MarketProcess market(
            {"--seed", "4", "--shops", "20", "--ratings", "300", "--today", today, "--dump-truth", truth});
        QFile f(truth);
        EXPECT_TRUE(market.running() && f.open(QIODevice::ReadOnly));
        QList<QDateTime> out;
        for (const auto& shop : QJsonDocument::fromJson(f.readAll()).object()["shops"].toArray())
            for (const auto& r : shop.toObject()["ratings"].toArray()) {
                // As shown, without a time zone: no summer-time gap may drop a time.
                const QString t = r.toObject()["time"].toString();
                out << QDateTime(QDate::fromString(t.left(10), Qt::ISODate), QTime::fromString(t.mid(11)),
                                 Qt::UTC);
            }
        return out;
    };
    const QList<QDateTime> march = times("2026-03-01"), june = times("2026-06-09");
    ASSERT_EQ(march.size(), 20 * 300);
    ASSERT_EQ(june.size(), march.size());
    const QDateTime day(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC);
    for (qsizetype i = 0; i < march.size(); ++i) {
        EXPECT_TRUE(march[i] < day && march[i] >= day.addDays(-365)) << march[i].toString().toStdString();
        EXPECT_EQ(march[i].daysTo(june[i]), 100) << i;
    }
    // The ratings of a shop spread over most of the year, so every month shows some.
    EXPECT_LT(march[299], march[0].addDays(-300));

    QProcess bad;
    bad.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-market"), {"--port", "0", "--today", "2026-02-30"});
    ASSERT_TRUE(bad.waitForFinished(30000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("--today wants a date, yyyy-MM-dd: 2026-02-30"));
}

} // namespace
