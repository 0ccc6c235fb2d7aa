#include "extract/THTMLExcavate.h"

#include "extract/CreditLevel.h"
#include "extract/ExtractSteps.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <cstdint>

using namespace extract;

namespace {

const char kRatingUrlTail[] =
    "--buyerOrSeller%7C--receivedOrPosted%7C--goodNeutralOrBad%7C--timeLine%7C--detailed%"
    "7C--ismore%7C1--auctionId%7C--lastModified%7C--currentPage%7C";

// Year-month-day with a four-digit year and one or two digits for month and day, naming a
// day that exists.
bool isCalendarDate(std::string_view s)
{
    int parts[3] = {0, 0, 0};
    size_t digits[3] = {0, 0, 0};
    int part = 0;
    for (char c : s) {
        if (c == '-') {
            if (++part > 2)
                return false;
        } else if (c >= '0' && c <= '9') {
            // No part has more than four digits; stopping here also keeps the sum small.
            if (++digits[part] > 4)
                return false;
            parts[part] = parts[part] * 10 + (c - '0');
        } else {
            return false;
        }
    }
    if (part != 2 || digits[0] != 4 || digits[1] < 1 || digits[1] > 2 || digits[2] < 1 || digits[2] > 2)
        return false;
    const int year = parts[0], month = parts[1], day = parts[2];
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// The configured rating host as a pattern: its dots match any character, as in an address
// written into a pattern, but other pattern syntax (brackets of an IPv6 host) is literal.
std::string hostPattern(std::string_view host)
{
    std::string out;
    for (char c : host) {
        if (c != '.' && std::string_view("\\^$|?*+()[]{}").find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    return out;
}

struct ProfilePatterns
{
    const TRegex& ratingLink = pattern(R"re(<a\s*[^>]+>信用评价</a>)re", true);
    const TRegex& href = pattern(R"re(href=\"[^\"]+\")re");
    const TRegex& hrefOpen = pattern(R"re(href=\")re");
    const TRegex& quote = pattern(R"re(\")re");
    const TRegex& htm = pattern(R"re(\.htm)re", true);

    const TRegex& dateA = pattern(R"re(<li>\s*<span>创店时间：</span>\s*[^<]+\s*</li>)re", true);
    const TRegex& dateAPrefix = pattern(R"re(<li>\s*<span>创店时间：</span>\s*)re");
    const TRegex& dateB = pattern(R"re(<li>\s*<span\s*[^>]+>\s*创店时间:\s*</span>\s*[^<]+\s*</li>)re", true);
    const TRegex& dateBPrefix = pattern(R"re(<li>\s*<span\s*[^>]+>\s*创店时间:\s*</span>\s*)re");
    const TRegex& liEnd = pattern(R"re(\s*</li>)re");
    const TRegex& slash = pattern("/");
};

const ProfilePatterns& profilePatterns()
{
    static const ProfilePatterns p;
    return p;
}

// One credit line of the summary, seller or buyer.
struct CreditPatterns
{
    const TRegex& line;
    const TRegex& prefix;
};

// One kind of the tables of received ratings.
struct TableRow
{
    const TRegex& row;
    const TRegex& prefix;
};

struct SummaryPatterns
{
    CreditPatterns seller{pattern(R"re(<h4\s*class=\"seller\">\s*卖家累积信用：\s*<a\s[^>]+>\s*[^<]+</a>)re"),
                          pattern(R"re(<h4\s*class=\"seller\">\s*卖家累积信用：\s*<a\s[^>]+>\s*)re")};
    CreditPatterns buyer{pattern(R"re(<h4\s*class=\"buyer\">\s*买家累积信用：\s*<a\s[^>]+>\s*[^<]+</a>)re"),
                         pattern(R"re(<h4\s*class=\"buyer\">\s*买家累积信用：\s*<a\s[^>]+>\s*)re")};
    const TRegex& linkEnd = pattern(R"re(</a>)re");

    const TRegex& ratePair = pattern(std::string("<li>卖家好评率：<strong>[^<]+<span></span></strong></li>") +
                                         "\\s*<li>买家好评率：<strong>[^<]+<span></span></strong></li>",
                                     true);
    const TRegex& sellerRate = pattern(R"re(<li>卖家好评率：<strong>[^<]+<span>)re");
    const TRegex& sellerRatePrefix = pattern(R"re(<li>卖家好评率：<strong>)re");
    const TRegex& buyerRate = pattern(R"re(<li>买家好评率：<strong>[^<]+<span>)re");
    const TRegex& buyerRatePrefix = pattern(R"re(<li>买家好评率：<strong>)re");
    const TRegex& spanOpen = pattern(R"re(<span>)re");
    const TRegex& spanClose = pattern(R"re(</span>)re");

    TableRow good{
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-ok\">好评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>[^<]+</td>\s*</tr>)re",
            true),
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-ok\">好评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>)re")};
    TableRow neutral{
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-normal\">中评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>[^<]+</td>\s*</tr>)re",
            true),
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-normal\">中评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>)re")};
    TableRow bad{
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-bad\">差评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>[^<]+</td>\s*</tr>)re",
            true),
        pattern(
            R"re(<tr>\s*<td><span\s*class=\"rate-icon\srate-bad\">差评</span></td>(\s*<td[^>]*><a[^>]+>[^<]+</a></td>){4}\s*<td[^>]*>)re")};
    const TRegex& rowEnd = pattern(R"re(</td>\s*</tr>)re");
};

const SummaryPatterns& summaryPatterns()
{
    static const SummaryPatterns p;
    return p;
}

struct RatingPatterns
{
    const TRegex& total = pattern(R"re(<span\s*class\s*=\s*\"G\">[^<]+)re", true);
    const TRegex& totalPrefix = pattern(R"re(<span\s*class\s*=\s*\"g\">)re", true);
    const TRegex& fromComma = pattern("，.*", true);
    const TRegex& nonDigits = pattern("[^0-9]*", true);

    const TRegex& lastLink = pattern(R"re(<a\s*href[^>]+>\s*末页)re");
    const TRegex& currentPage = pattern(R"re(currentpage\s*(=|\|)\s*[0-9]+)re");
    const TRegex& currentPagePrefix = pattern(R"re(currentpage\s*(=|\|)\s*)re");

    const TRegex& lineBreak = pattern(R"re(<br\s*/>)re", true);
    const TRegex& row = pattern(
        R"re(<tr><td\sclass=\"rate\"><span\s[^>]+>[^<]+</span>(<span\sclass=\"no-effect\">\[不计分\]</span>)?</td><td><p\sclass=\"rate\"\sstyle=\"text-align:left;\">(<script>[^<]+</script>)?[^<]+</p>(<p\sclass=\"exp\">[^<]+</p>)?<span\sclass=\"date\">[^<]+</span></td><td>买家：(<a\s[^>]+>[^<]+</a>(<a\s[^>]+><img\s[^>]+></a>)?)?([^<]+)?</td><td><p\sclass=\"exp\"><a\s[^>]+>[^<]+</a></p><span\sclass=\"price\"><em>[^<]+</em>元</span></td></tr>)re",
        true);

    const TRegex& word = pattern(R"re(<td\sclass=\"rate\"><span[^>]+>\s*[^<]+)re");
    const TRegex& wordPrefix = pattern(R"re(<td\sclass=\"rate\"><span[^>]+>\s*)re");
    const TRegex& quote = pattern(R"re(\")re");

    const TRegex& date = pattern(R"re(<span\sclass=\"date\">\[[^<]+\]</span>)re");
    const TRegex& dot = pattern(R"re(\.)re");
    const TRegex& datePrefix = pattern(R"re(<span\sclass=\"date\">\[)re");
    const TRegex& dateSuffix = pattern(R"re(\]</span>)re");

    const TRegex& trade = pattern(R"re(trade_id=[^=]+)re");
    const TRegex& tradePrefix = pattern(R"re(trade_id=)re");
    const TRegex& tradeSuffix = pattern(R"re(&auction_id)re");

    const TRegex& item = pattern(R"re(&auction_id=[^=]+)re");
    const TRegex& itemPrefix = pattern(R"re(&auction_id=)re");
    const TRegex& itemSuffix = pattern(R"re(\"\s*title)re");

    const TRegex& title = pattern(R"re(<a\shref=\"[^\"]+\"\s*title=\"[^\"]+\"\s*target=\"[^>]+>)re");
    const TRegex& titlePrefix = pattern(R"re(<a\shref=\"[^\"]+\"\s*title=\")re");
    const TRegex& titleSuffix = pattern(R"re(\"\s*target=\"[^>]+>)re");

    const TRegex& buyer =
        pattern(R"re(买家：(<a\s[^>]+>[^<]+</a>(<a\s[^>]+><img\s[^>]+></a>)?)?([^<]+)?)re", true);
    const TRegex& buyerLink = pattern(R"re(买家：<a\s[^>]+>[^<]+</a>)re", true);
    const TRegex& buyerLinkPrefix = pattern(R"re(买家：<a\s[^>]+>)re");
    const TRegex& linkEnd = pattern(R"re(</a>)re");
    const TRegex& buyerLabel = pattern("买家：");

    const TRegex& price = pattern(R"re(<span\sclass=\"price\"><em>[^<]+</em>元</span>)re");
    const TRegex& pricePrefix = pattern(R"re(<span\sclass=\"price\"><em>)re");
    const TRegex& priceSuffix = pattern(R"re(</em>元</span>)re");

    const TRegex& comment = pattern(
        R"re(<p\sclass=\"rate\"\sstyle=\"text-align:left;\">(<script>[^<]+</script>)?[^<]+</p>)re", true);
    const TRegex& commentPrefix = pattern(R"re(<p\sclass=\"rate\"\sstyle=\"text-align:left;\">)re", true);
    const TRegex& script = pattern(R"re(<script>[^<]+</script>)re");
    const TRegex& paragraphEnd = pattern(R"re(</p>)re");

    const TRegex& explanation = pattern(R"re(</p><p\sclass=\"exp\">[^<]+</p><span\sclass=\"date\">)re", true);
    const TRegex& explanationPrefix = pattern(R"re(</p><p\sclass=\"exp\">)re", true);
    const TRegex& explanationSuffix = pattern(R"re(</p><span\sclass=\"date\">)re");

    const std::string none = gbk::fromUtf8("无");
};

const RatingPatterns& ratingPatterns()
{
    static const RatingPatterns p;
    return p;
}

// Credit points from a summary line: a text that is no number counts as 1 point. The level
// changes only inside the level table.
void readCredit(const CreditPatterns& p, const TRegex& linkEnd, std::string_view page, int& credit,
                int& level)
{
    auto found = findIn(p.line, page);
    if (!found)
        return;
    credit = text::toIntDef(eraseAll(std::string(*found), {&p.prefix, &linkEnd}), 1);
    if (auto l = CreditLevel(credit))
        level = *l;
}

// The seller figure from the first row of a kind, the buyer figure from the next one.
void readTableRow(const TableRow& kind, const TRegex& rowEnd, std::string_view page, int& seller, int& buyer)
{
    auto first = kind.row.find(page);
    if (!first)
        return;
    auto count = [&](const TRegex::Match& m) {
        return text::toIntDef(eraseAll(std::string(m.text(page)), {&kind.prefix, &rowEnd}), 0);
    };
    seller = count(*first);
    if (auto second = kind.row.find(page, first->end))
        buyer = count(*second);
}

RatingRecord readRow(std::string_view row)
{
    const RatingPatterns& p = ratingPatterns();
    RatingRecord r(10);
    if (auto m = findIn(p.word, row))
        r[0] = eraseAll(std::string(*m), {&p.wordPrefix, &p.quote});
    if (auto m = findIn(p.date, row))
        r[1] = eraseAll(p.dot.replaceAll(*m, "-"), {&p.datePrefix, &p.dateSuffix});
    if (auto m = findIn(p.trade, row))
        r[2] = eraseAll(std::string(*m), {&p.tradePrefix, &p.tradeSuffix});
    if (auto m = findIn(p.item, row))
        r[3] = eraseAll(std::string(*m), {&p.itemPrefix, &p.itemSuffix});
    if (auto m = findIn(p.title, row))
        r[4] = eraseAll(std::string(*m), {&p.titlePrefix, &p.titleSuffix});
    if (auto m = findIn(p.buyer, row)) {
        // A buyer shown without a link is the plain text after the label.
        if (auto link = findIn(p.buyerLink, *m))
            r[5] = eraseAll(std::string(*link), {&p.buyerLinkPrefix, &p.linkEnd});
        else
            r[5] = erase(p.buyerLabel, *m);
    }
    r[6] = "True";
    auto price = findIn(p.price, row);
    r[7] = price ? eraseAll(std::string(*price), {&p.pricePrefix, &p.priceSuffix}) : "0";
    auto comment = findIn(p.comment, row);
    r[8] = comment ? eraseAll(std::string(*comment), {&p.commentPrefix, &p.script, &p.paragraphEnd}) : p.none;
    auto explanation = findIn(p.explanation, row);
    r[9] = explanation ? eraseAll(std::string(*explanation), {&p.explanationPrefix, &p.explanationSuffix})
                       : p.none;
    return r;
}

} // namespace

THTMLExcavate::THTMLExcavate(int fromRecord, int toRecord, std::string ratingHost)
    : m_ratingHost(std::move(ratingHost)), m_pageNo(ceilDiv(fromRecord, kRatingsPerPage)),
      m_fromRecord(fromRecord), m_toRecord(toRecord)
{
    if (m_pageNo <= 0)
        m_pageNo = 1;
}

void THTMLExcavate::LoadProfilePage(std::string_view page)
{
    TRegex::Deadline deadline(pageBudget(page.size()));
    m_profileText = text::foldAscii(page);
    ParseProfile();
    m_ready = true;
    m_finished = false;
    m_summaryDone = false;
}

void THTMLExcavate::ParseProfile()
{
    readRatingUrl();
    readCreateDate();
}

void THTMLExcavate::readRatingUrl()
{
    const ProfilePatterns& p = profilePatterns();
    auto link = findIn(p.ratingLink, m_profileText);
    if (!link)
        return;
    auto href = findIn(p.href, *link);
    if (!href)
        return;
    const std::string address = eraseAll(std::string(*href), {&p.hrefOpen, &p.quote});
    const std::string rest = text::RegexReplace(hostPattern(m_ratingHost) + "/user-rate-", address, {}, true);
    // A link that does not lead to this marketplace's rating pages (another host or port)
    // gives no rating address: pasting the whole link into one would fetch nonsense.
    if (rest == address)
        return;
    const std::string key = erase(p.htm, rest);
    m_ratingUrlBase = m_ratingHost + "/user-rate-" + key + kRatingUrlTail;
}

void THTMLExcavate::readCreateDate()
{
    const ProfilePatterns& p = profilePatterns();
    if (auto a = findIn(p.dateA, m_profileText)) {
        m_createDate = eraseAll(std::string(*a), {&p.dateAPrefix, &p.liEnd});
        if (isCalendarDate(m_createDate))
            return;
    }
    if (auto b = findIn(p.dateB, m_profileText)) {
        std::string date = p.slash.replaceAll(eraseAll(std::string(*b), {&p.dateBPrefix, &p.liEnd}), "-");
        m_createDate = isCalendarDate(date) ? date : std::string();
    }
}

void THTMLExcavate::ParseCreditSummary(std::string_view page)
{
    TRegex::Deadline deadline(pageBudget(page.size()));
    readSummary(text::removeWhitespaceRuns(page));
}

void THTMLExcavate::readSummary(std::string_view text)
{
    const SummaryPatterns& p = summaryPatterns();
    readCredit(p.seller, p.linkEnd, text, m_salerCredit, m_saleLevel);
    readCredit(p.buyer, p.linkEnd, text, m_buyerCredit, m_buyLevel);
    if (auto pair = findIn(p.ratePair, text)) {
        if (auto s = findIn(p.sellerRate, *pair))
            m_salerGoodRate = eraseAll(std::string(*s), {&p.sellerRatePrefix, &p.spanOpen, &p.spanClose});
        if (auto b = findIn(p.buyerRate, *pair))
            m_buyerGoodRate = eraseAll(std::string(*b), {&p.buyerRatePrefix, &p.spanOpen, &p.spanClose});
    }
    readTableRow(p.good, p.rowEnd, text, m_salerGood, m_buyerGood);
    readTableRow(p.neutral, p.rowEnd, text, m_salerNotBad, m_buyerNotBad);
    readTableRow(p.bad, p.rowEnd, text, m_salerBad, m_buyerBad);
}

void THTMLExcavate::ProcessRatingPage(std::string_view page)
{
    TRegex::Deadline deadline(pageBudget(page.size()));
    if (!m_firstPageDone) {
        readTotalRatings(page);
        readLastPage(page);
        m_firstPageDone = true;
    }
    // The rows are read from the page without line breaks and blank runs, the summary from
    // the page without blank runs: on a page without line breaks that is one text, made once.
    const bool readsRows = !m_finished && m_pageNo <= m_lastPage;
    const RatingPatterns& p = ratingPatterns();
    const bool breaks = p.lineBreak.contains(page);
    std::string rowText;
    if (readsRows)
        rowText =
            breaks ? text::removeWhitespaceRuns(erase(p.lineBreak, page)) : text::removeWhitespaceRuns(page);
    if (!m_summaryDone) {
        m_summaryDone = true;
        if (readsRows && !breaks)
            readSummary(rowText);
        else
            readSummary(text::removeWhitespaceRuns(page));
    }
    if (!m_finished) {
        if (readsRows) {
            readRows(rowText);
            ++m_pageNo;
        } else {
            m_finished = true;
        }
    }
}

void THTMLExcavate::readTotalRatings(std::string_view page)
{
    const RatingPatterns& p = ratingPatterns();
    auto found = findIn(p.total, page);
    if (!found) {
        m_totalRatings = 0;
        return;
    }
    const std::string digits =
        eraseAll(text::foldAscii(*found), {&p.totalPrefix, &p.fromComma, &p.nonDigits});
    m_totalRatings = text::toIntDef(digits, 0);
}

void THTMLExcavate::readLastPage(std::string_view page)
{
    const RatingPatterns& p = ratingPatterns();
    int n = 1;
    if (auto link = findIn(p.lastLink, page))
        if (auto current = findIn(p.currentPage, *link))
            n = text::toIntDef(erase(p.currentPagePrefix, *current), 1);
    if (m_toRecord < static_cast<int64_t>(n) * kRatingsPerPage)
        // Asking for no rating at all reads no page.
        m_lastPage = m_toRecord <= 0 ? 0 : ceilDiv(m_toRecord, kRatingsPerPage);
    else
        m_lastPage = n;
}

void THTMLExcavate::readRows(std::string_view text)
{
    const RatingPatterns& p = ratingPatterns();
    size_t pos = 0;
    while (auto m = p.row.find(text, pos)) {
        pos = m->end;
        m_ratings.emplace_back(std::to_string(m_ratingCount), readRow(m->text(text)));
        ++m_ratingCount;
    }
}
