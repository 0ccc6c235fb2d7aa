#include "extract/TSearchUser.h"

#include "extract/ExtractSteps.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <cstdint>
#include <vector>

using namespace extract;

namespace {

// The fixed factor of the finish rule: the page number times 40 is compared with the
// number of result pages.
constexpr int64_t kFinishFactor = 40;

// The breadcrumb's last item holds the result count in parentheses.
const char kTotal[] =
    R"re(<div\s*id=\"*linkpath\"*>\s*<ul\s*class=\"pathlinkslevel1\">\s*<li><a\s*[^<]+</a></li>\s*<li><a\s*[^<]+</a></li>\s*(<li>.*</li>)?\s*<li>[^<]+<span>\s*[^<]+)re";
const char kTotalPrefix[] =
    R"re(<div\s*id=\"*linkpath\"*>\s*<ul\s*class=\"pathlinkslevel1\">\s*<li><a\s*[^<]+</a></li>\s*<li><a\s*[^<]+</a></li>\s*(<li>.*</li>)?\s*<li>[^<]+<span>\s*)re";

// One shop block, in nine pieces joined without separators.
const char* const kBlockPieces[] = {
    R"re(<div\s*class=\"shop\">\s*)re",
    R"re(<div\s*class=\"shoplogo\">\s*<a\s*[^<]+\s*<img\s*[^<]+\s*</a>\s*(<img\s*[^<]+\s*</a>\s*)?</div>\s*)re",
    R"re(<div\s*class=\"info\">\s*<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*[^>]+>)re",
    R"re(\s*[^<]*(<span\s*class=\"h\"\s*>\s*[^<]*\s*</span>\s*)?\s*[^<]*\s*</a>\s*</div>\s*<div\s*class=\"market\">\s*<i>\s*[^<]+</i>\s*[^<]*</div>\s*(<ul\sclass=\"promotion-list\">((?!</ul>).)*</ul>)?</div>\s*)re",
    R"re(<div\s*class=\"userlevel\">\s*<i>[^<]+</i>\s*(<img[^>]+>)?\s*(<!--)?\s*<span\s*[^>]*>((?!</span>).)*</span>\s*(-->)?\s*</div>\s*)re",
    R"re(<div\s*class="place\">[^<]*</div>\s*)re",
    R"re(<div\s*class=\"legend\">\s*(<a\s*[^>]+>\s*<img\s*[^>]*></a>)?\s*[^<]*\s*</div>\s*)re",
    R"re(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^<]+</a>\s*<span\s*[^<]+</span>\s*</div>\s*)re",
    R"re(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*[^<]+</div>\s*</div>\s*<div\s*class=\"hackbox\">\s*</div>)re",
};

const TRegex& blockPattern()
{
    static const TRegex& re = pattern(TSearchUser::BlockPatternText(), true);
    return re;
}

// A field of a block: where it is, what is cut from the match, in order.
struct Field
{
    const TRegex& find;
    std::vector<const TRegex*> cut;
};

struct ShopFields
{
    const TRegex& bseller = pattern(R"re(<span\s*class=\"bseller\">)re", true);
    Field seller{pattern(R"re(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^<]+)re"),
                 {&pattern(R"re(<div\s*class=\"seller\">\s*<i>[^<]+</i><a\s*[^>]+>)re")}};
    Field name{
        pattern(
            R"re(<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*href=.+\s*</a>\s*</div>\s*)re"),
        {&pattern(
             R"re(<div\s*class=\"shopname\">(\s*<a\s*[^>]+>\s*<img\s*[^>]+>\s*</a>)?\s*<a\s*href\s*=[^>]+\s*>)re"),
         &pattern(R"re(\s*</a>)re"), &pattern(R"re(<[^>]+>)re"), &pattern(R"re(</[^>]+>)re")}};
    Field market{pattern(R"re(<div\s*class=\"market\">\s*<i>[^<]+</i>\s*[^<]*</div>)re"),
                 {&pattern(R"re(<div\s*class=\"market\">\s*<i>[^<]+</i>\s*)re"), &pattern(R"re(</div>)re")}};
    Field address{pattern(R"re(<div\s*class=\"shoplogo\">\s*<a\s*[^<]+\s*)re"),
                  {&pattern(R"re(<div\s*class=\"shoplogo\">\s*<a\s*href\s*=\s*\")re"),
                   &pattern(R"re(\s*target\s*=\"_blank\">)re"), &pattern(R"re(\")re")}};
    Field amount{pattern(R"re(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*[^<]+)re"),
                 {&pattern(R"re(<div\s*class=\"amount\">\s*<i>[^<]+</i>\s*)re")}};
    Field place{pattern(R"re(<div\s*class="place\">[^<]*\s*)re"),
                {&pattern(R"re(<div\s*class="place\">)re")}};
    const std::string defaultMarket = gbk::fromUtf8("主营");
};

const ShopFields& shopFields()
{
    static const ShopFields fields;
    return fields;
}

// The field's text from the block; nothing when the block lacks it.
std::optional<std::string> readField(const Field& field, std::string_view block)
{
    auto found = findIn(field.find, block);
    if (!found)
        return std::nullopt;
    std::string text(*found);
    for (const TRegex* re : field.cut)
        text = eraseAll(std::move(text), {re});
    return text;
}

} // namespace

TSearchUser::TSearchUser(int limit, int pageSize, std::string homePage)
    : m_homePage(std::move(homePage)), m_limit(limit), m_pageSize(pageSize > 0 ? pageSize : 1)
{
    // A page size below 1 would divide by zero in the page counts.
}

int TSearchUser::readTotal(std::string_view pageText)
{
    static const TRegex& total = pattern(kTotal, true);
    static const TRegex& prefix = pattern(kTotalPrefix);
    static const TRegex& open = pattern(R"re(\()re");
    static const TRegex& close = pattern(R"re(\))re");
    auto found = findIn(total, pageText);
    if (!found)
        return 0;
    std::string count = erase(close, erase(open, erase(prefix, *found)));
    // A count that is no whole number (digit grouping, a word) reads as no results: the
    // walk then ends at once instead of guessing.
    return text::toIntDef(text::trim(count), 0);
}

void TSearchUser::LoadFirstPage(std::string_view page)
{
    TRegex::Deadline deadline(pageBudget(page.size()));
    m_pageText = text::removeWhitespaceRuns(text::foldAscii(page));
    m_totalFound = readTotal(m_pageText);
    if (m_limit > m_totalFound || m_limit <= 0)
        m_limit = m_totalFound;
    m_pagesNeeded = quotientRoundedUp(m_limit, m_pageSize);
    m_totalPages = quotientRoundedUp(m_totalFound, m_pageSize);
    m_ready = true;
    m_finished = false;
}

void TSearchUser::ProcessPage(std::string_view page)
{
    if (m_finished)
        return;
    if (m_pageNo > m_pagesNeeded) {
        if (m_shopCount >= m_limit || static_cast<int64_t>(m_pageNo) * kFinishFactor > m_totalPages) {
            m_finished = true;
            return;
        }
    }
    TRegex::Deadline deadline(pageBudget(page.size()));
    readShops(text::removeWhitespaceRuns(page));
    ++m_pageNo;
}

void TSearchUser::readShops(std::string_view page)
{
    if (m_finished)
        return;
    const std::string folded = text::foldAscii(page);
    const TRegex& block = blockPattern();
    const ShopFields& fields = shopFields();
    size_t pos = 0;
    while (m_shopCount < m_limit) {
        auto m = block.find(folded, pos);
        if (!m)
            break;
        pos = m->end;
        std::string_view text = m->text(folded);
        if (fields.bseller.contains(text))
            continue;
        ++m_shopCount;
        m_shops.emplace_back(std::to_string(m_shopCount), readShop(text));
    }
}

ShopRecord TSearchUser::readShop(std::string_view block) const
{
    const ShopFields& f = shopFields();
    ShopRecord record;
    record.reserve(6);
    record.push_back(readField(f.seller, block).value_or("user"));
    auto name = readField(f.name, block);
    record.push_back(name ? text::DecodeEntities(*name) : std::string("dianming"));
    record.push_back(readField(f.market, block).value_or(f.defaultMarket));
    record.push_back(readField(f.address, block).value_or(m_homePage));
    record.push_back(readField(f.amount, block).value_or("0"));
    record.push_back(readField(f.place, block).value_or("--"));
    return record;
}

const std::string& TSearchUser::BlockPatternText()
{
    static const std::string joined = [] {
        std::string text;
        for (const char* piece : kBlockPieces)
            text += piece;
        return text;
    }();
    return joined;
}
