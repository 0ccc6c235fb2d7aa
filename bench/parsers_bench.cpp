// Pages per second through the page parsers, against one plain PCRE2-JIT scan of the same
// page with the page's main pattern (the floor no parser can go below).

#include "../tests/extract/SamplePages.h"
#include "extract/THTMLExcavate.h"
#include "extract/TSearchUser.h"
#include "text/TRegex.h"
#include "text/TextOps.h"

#include <benchmark/benchmark.h>
#include <pcre2.h>

namespace {

// Markup around the content as real pages carry it: style and script in the head, a menu,
// a side bar and a footer, about kb kilobytes (UTF-8 source; GBK is a little smaller).
std::string chrome(int kb)
{
    std::string h = "<style type=\"text/css\">\r\n";
    for (int i = 0; h.size() < static_cast<size_t>(kb) * 256; ++i)
        h += "  .mod-" + std::to_string(i) +
             " .hd { margin: 0 auto; padding: 4px 8px; border: 1px solid #E5E5E5; }\r\n";
    h += "</style>\r\n<script type=\"text/javascript\">\r\n";
    for (int i = 0; h.size() < static_cast<size_t>(kb) * 512; ++i)
        h += "  KISSY.add('mod" + std::to_string(i) + "', function(S) { var el = S.one('#m" +
             std::to_string(i) + "'); if (el) { el.addClass('on'); } });\r\n";
    h += "</script>\r\n<div id=\"site-nav\"><ul class=\"menu\">\r\n";
    for (int i = 0; h.size() < static_cast<size_t>(kb) * 800; ++i)
        h += "  <li class=\"menu-item\"><a href=\"http://list.market.test/cat-" + std::to_string(i) +
             ".htm\" title=\"分类" + std::to_string(i) + "\">分类" + std::to_string(i) + "</a></li>\r\n";
    h += "</ul></div>\r\n<div id=\"footer\"><p>";
    for (int i = 0; h.size() < static_cast<size_t>(kb) * 1024; ++i)
        h += "<a href=\"http://www.market.test/about/" + std::to_string(i) + "\">关于我们" +
             std::to_string(i) + "</a> | ";
    h += "</p></div>\r\n";
    return h;
}

std::string withChrome(std::string utf8Page, int kb)
{
    const size_t body =
        utf8Page.find("<BODY>") != std::string::npos ? utf8Page.find("<BODY>") : utf8Page.find("<body>");
    utf8Page.insert(body + 6, "\r\n" + chrome(kb));
    return utf8Page;
}

// A rating page of 40 rows of about 60 KB, folded as the mining run hands it over.
const std::string& ratingPage()
{
    static const std::string page = [] {
        sample::RatingPage p;
        p.rows = sample::ratings(40);
        for (sample::Rating& r : p.rows) {
            r.comment =
                "宝贝收到了，质量很好，和描述的一样，包装也很仔细，物流速度快，卖家态度好，下次还会再来的！";
            r.buyerBadge = true;
            r.title = "2024夏季新款韩版宽松纯棉短袖T恤女 百搭上衣";
        }
        return text::foldAscii(sample::gbkText(withChrome(sample::ratingPageUtf8(p), 30)));
    }();
    return page;
}

// A result page of 40 shops, as the marketplace sends it.
const std::string& resultPage()
{
    static const std::string page = [] {
        sample::ResultPage p;
        p.shops = sample::shops(40);
        return sample::gbkText(withChrome(sample::resultPageUtf8(p), 20));
    }();
    return page;
}

void BM_RatingPageFirst(benchmark::State& state)
{
    const std::string& page = ratingPage();
    for (auto _ : state) {
        THTMLExcavate e(1, 5000, "http://rate.market.test");
        e.ProcessRatingPage(page);
        benchmark::DoNotOptimize(e.RatingCount());
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RatingPageLater(benchmark::State& state)
{
    const std::string& page = ratingPage();
    for (auto _ : state) {
        // Totals and summary are read from the first page of a shop only.
        state.PauseTiming();
        THTMLExcavate e(1, 5000, "http://rate.market.test");
        e.ProcessRatingPage(page);
        state.ResumeTiming();
        e.ProcessRatingPage(page);
        if (e.RatingCount() != 80)
            state.SkipWithError("a later page was not read");
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SearchPageFirst(benchmark::State& state)
{
    const std::string& page = resultPage();
    for (auto _ : state) {
        TSearchUser s(40, 40, "http://www.market.test/");
        s.LoadFirstPage(page);
        s.ProcessPage(page);
        benchmark::DoNotOptimize(s.ShopCount());
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SearchPageLater(benchmark::State& state)
{
    const std::string& page = resultPage();
    for (auto _ : state) {
        // The set-up is read from the first page of a search only.
        state.PauseTiming();
        TSearchUser s(40, 40, "http://www.market.test/");
        s.LoadFirstPage(page);
        state.ResumeTiming();
        s.ProcessPage(page);
        benchmark::DoNotOptimize(s.ShopCount());
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// One plain PCRE2-JIT scan over the page for every match of pattern, no deadline callout.
void plainScan(benchmark::State& state, const std::string& page, const std::string& utf8Pattern, int expected)
{
    const std::string prepared = TRegex::prepare(text::foldAscii(gbk::fromUtf8(utf8Pattern)));
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(prepared.data()), prepared.size(), 0,
                                     &error, &offset, cctx);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    int matches = 0;
    for (auto _ : state) {
        matches = 0;
        PCRE2_SIZE pos = 0;
        while (pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(page.data()), page.size(), pos, 0, data,
                               nullptr) > 0) {
            pos = pcre2_get_ovector_pointer(data)[1];
            ++matches;
        }
        benchmark::DoNotOptimize(matches);
    }
    if (matches != expected)
        state.SkipWithError("the floor scan does not find every row");
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    pcre2_compile_context_free(cctx);
}

const char kRowPattern[] =
    R"re(<tr><td\sclass=\"rate\"><span\s[^>]+>[^<]+</span>(<span\sclass=\"no-effect\">\[不计分\]</span>)?</td><td><p\sclass=\"rate\"\sstyle=\"text-align:left;\">(<script>[^<]+</script>)?[^<]+</p>(<p\sclass=\"exp\">[^<]+</p>)?<span\sclass=\"date\">[^<]+</span></td><td>买家：(<a\s[^>]+>[^<]+</a>(<a\s[^>]+><img\s[^>]+></a>)?)?([^<]+)?</td><td><p\sclass=\"exp\"><a\s[^>]+>[^<]+</a></p><span\sclass=\"price\"><em>[^<]+</em>元</span></td></tr>)re";

void BM_RatingPageFloor(benchmark::State& state)
{
    plainScan(state, ratingPage(), kRowPattern, 40);
}

void BM_SearchPageFloor(benchmark::State& state)
{
    // The shop-block pattern over the page as the parser sees it: folded, blank runs gone.
    static const std::string page = text::foldAscii(text::removeWhitespaceRuns(resultPage()));
    const std::string block = TSearchUser::BlockPatternText();
    plainScan(state, page, block, 40);
}

} // namespace

BENCHMARK(BM_RatingPageFloor);
BENCHMARK(BM_RatingPageFirst);
BENCHMARK(BM_RatingPageLater);
BENCHMARK(BM_SearchPageFloor);
BENCHMARK(BM_SearchPageFirst);
BENCHMARK(BM_SearchPageLater);
