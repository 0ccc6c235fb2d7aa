#include "MarketPages.h"

#include "text/GbkCodec.h"

#include <algorithm>

namespace {

const char kHead[] =
    "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n";

std::string num(long long v)
{
    return std::to_string(v);
}

bool contains(const std::string& haystack, const std::string& needle)
{
    return needle.empty() || haystack.find(needle) != std::string::npos;
}

} // namespace

MarketPages::MarketPages(const MarketModel& model, std::string base, size_t padTo)
    : m_model(model), m_base(std::move(base)), m_padTo(padTo)
{
}

std::string MarketPages::escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string MarketPages::finish(std::string html) const
{
    std::string bytes = gbk::fromUtf8(html);
    if (bytes.size() < m_padTo) {
        // Hidden filler before the end, the way heavy pages carry scripts and styles.
        std::string filler = "<div class=\"pad\" style=\"display:none\">\n";
        std::string line(99, 'x');
        line += '\n';
        while (bytes.size() + filler.size() + 22 < m_padTo)
            filler += line;
        filler += "</div>\n";
        size_t end = bytes.rfind("</body>");
        bytes.insert(end == std::string::npos ? bytes.size() : end, filler);
    }
    return bytes;
}

std::vector<const MarketModel::Shop*> MarketPages::find(const Search& q) const
{
    std::vector<const MarketModel::Shop*> hits;
    for (const MarketModel::Shop& s : m_model.shops()) {
        if (!q.category.empty() && s.categoryCode != q.category)
            continue;
        if (!contains(s.name, q.shopname) || !contains(s.member, q.sellername) ||
            !contains(s.business, q.keybiz) || !contains(s.location, q.loc))
            continue;
        if (!q.levels.empty() && !q.levels.count(s.sellerLevel))
            continue;
        hits.push_back(&s);
    }
    return hits;
}

std::string MarketPages::home() const
{
    std::string h = kHead;
    h += "<title>小集市 - 演示市场</title>\n</head>\n<body>\n<h1>小集市</h1>\n<ul>\n";
    h += "<li><a href=\"" + m_base + "/browse/shop-.htm?sort=&\">店铺搜索</a></li>\n";
    for (size_t i = 0; i < std::min<size_t>(5, m_model.shops().size()); ++i) {
        const auto& s = m_model.shops()[i];
        h += "<li><a href=\"" + m_base + "/shop/" + num(s.index) + ".htm\">" + escape(s.name) + "</a></li>\n";
    }
    h += "</ul>\n</body>\n</html>\n";
    return finish(std::move(h));
}

std::string MarketPages::shopBlock(const MarketModel::Shop& s, const std::string& highlight) const
{
    const std::string shopUrl = m_base + "/shop/" + num(s.index) + ".htm";
    std::string b = "<div class=\"shop\">\n";
    // The shop address is read from this link: nothing may stand between it and the image.
    b += "<div class=\"shoplogo\"><a href=\"" + shopUrl + "\" target=\"_blank\"><img src=\"" + m_base +
         "/img/logo/" + num(s.index) + ".jpg\" alt=\"\" /></a>";
    if (s.logoBadge)
        b += "<img src=\"" + m_base + "/img/badge.gif\" alt=\"\" /></a>";
    b += "</div>\n<div class=\"info\">\n";

    // Name, business and promotions on one line: the name is read up to the last "</a></div>"
    // of its line, and the promotion list must not span lines.
    b += "<div class=\"shopname\">";
    if (s.mallIcon)
        b += "<a href=\"" + m_base + "/help/mall.htm\" target=\"_blank\"><img src=\"" + m_base +
             "/img/mall.gif\" alt=\"\" /></a>";
    b += "<a href=\"" + shopUrl + "\" target=\"_blank\">";
    auto text = [&](std::string_view t) {
        std::string e = escape(t);
        if (s.nbspName) {
            for (size_t p = e.find(' '); p != std::string::npos; p = e.find(' ', p))
                e.replace(p, 1, "&nbsp;");
        }
        return e;
    };
    std::string name;
    size_t at = highlight.empty() ? std::string::npos : s.name.find(highlight);
    if (at != std::string::npos)
        name = text(s.name.substr(0, at)) + "<span class=\"h\">" + text(highlight) + "</span>" +
               text(s.name.substr(at + highlight.size()));
    else
        name = text(s.name);
    b += name + "</a></div><div class=\"market\"><i>主营：</i>" + s.business + "</div>";
    if (!s.promotions.empty()) {
        b += "<ul class=\"promotion-list\">";
        for (size_t k = 0; k < s.promotions.size(); ++k)
            b += "<li><a href=\"" + m_base + "/promo/" + num(s.index) + "-" + num(long(k)) +
                 ".htm\" target=\"_blank\">" + s.promotions[k] + "</a></li>";
        b += "</ul>";
    }
    b += "</div>\n";

    b += "<div class=\"userlevel\"><i>卖家信用：</i>";
    if (s.levelCommented) {
        b += "<!--<span class=\"credit\">(" + num(s.sellerCredit) + ")</span>-->";
    } else {
        if (s.sellerLevel > 0)
            b += "<img src=\"" + m_base + "/img/rank/s_" + num(s.sellerLevel) + ".gif\" alt=\"\" />";
        b += "<span class=\"credit\">(" + num(s.sellerCredit) + ")</span>";
    }
    b += "</div>\n";
    b += "<div class=\"place\">" + s.location + "</div>\n";
    if (s.guaranteeLink)
        b += "<div class=\"legend\"><a href=\"" + m_base +
             "/help/guarantee.htm\" target=\"_blank\"><img src=\"" + m_base +
             "/img/guarantee.gif\" alt=\"\"></a></div>\n";
    else
        b += "<div class=\"legend\">普通店铺</div>\n";
    b += "<div class=\"seller\"><i>掌柜：</i><a href=\"" + m_base + "/member/" + s.key +
         ".htm\" target=\"_blank\">" + s.member + "</a>";
    b += s.bseller ? "<span class=\"bseller\">商城卖家</span>" : "<span class=\"contact\">联系掌柜</span>";
    b += "</div>\n";
    b += "<div class=\"amount\"><i>宝贝数：</i>" + num(s.goods) + "</div>\n";
    b += "</div>\n<div class=\"hackbox\"></div>\n";
    return b;
}

std::string MarketPages::searchResult(const Search& q) const
{
    std::vector<const MarketModel::Shop*> hits = find(q);
    const int total = int(hits.size());
    const int pages = std::max(1, (total + MarketModel::kPageSize - 1) / MarketModel::kPageSize);
    const int page = std::max(1, q.page);

    std::string h = kHead;
    h += "<title>店铺搜索 - 小集市</title>\n</head>\n<body>\n";
    h += "<div id=\"linkPath\">\n<ul class=\"pathLinksLevel1\">\n";
    h += "<li><a href=\"" + m_base + "/\">首页</a></li>\n";
    h += "<li><a href=\"" + m_base + "/browse/shop-.htm?sort=&\">店铺搜索</a></li>\n";
    if (!q.category.empty())
        h += "<li>" + escape(MarketModel::categoryName(q.category)) + "</li>\n";
    h += "<li>搜索结果<span>(" + num(total) + ")</span></li>\n</ul>\n</div>\n";
    h += "<div id=\"shopList\">\n";
    for (int i = (page - 1) * MarketModel::kPageSize; i < std::min(total, page * MarketModel::kPageSize); ++i)
        h += shopBlock(*hits[size_t(i)], q.shopname);
    h += "</div>\n<div class=\"pages\">第" + num(page) + "页/共" + num(pages) + "页</div>\n";
    h += "</body>\n</html>\n";
    return finish(std::move(h));
}

std::string MarketPages::shopPage(const MarketModel::Shop& s) const
{
    std::string h = kHead;
    h += "<title>" + escape(s.name) + " - 小集市</title>\n</head>\n<body>\n";
    h += "<div class=\"shop-head\"><h1>" + escape(s.name) + "</h1></div>\n";
    h += "<div class=\"shop-info\">\n<ul>\n";
    h += "<li><span>掌柜：</span>" + s.member + "</li>\n";
    if (s.createFormB)
        h += "<li><span class=\"label\">创店时间:</span>" + num(s.createYear) + "/" + num(s.createMonth) +
             "/" + num(s.createDay) + "</li>\n";
    else
        h += "<li><span>创店时间：</span>" + num(s.createYear) + "-" + (s.createMonth < 10 ? "0" : "") +
             num(s.createMonth) + "-" + (s.createDay < 10 ? "0" : "") + num(s.createDay) + "</li>\n";
    h += "<li><span>所在地区：</span>" + s.location + "</li>\n";
    h += "<li><span>主营：</span>" + s.business + "</li>\n";
    h += "<li><a href=\"" + m_base + "/user-rate-" + s.key + ".htm\" target=\"_blank\">信用评价</a></li>\n";
    h += "</ul>\n</div>\n<div class=\"items\">\n<ul>\n";
    for (const auto& item : s.items)
        h += "<li><a href=\"" + m_base + "/item/" + item.id + ".htm\">" + item.title + "</a> <em>" +
             item.price + "</em>元</li>\n";
    h += "</ul>\n</div>\n</body>\n</html>\n";
    return finish(std::move(h));
}

std::string MarketPages::ratingLink(const MarketModel::Shop& s, int page) const
{
    if (s.pipeLastPage)
        return m_base + "/user-rate-" + s.key +
               "--buyerOrSeller|--receivedOrPosted|--goodNeutralOrBad|--timeLine|--detailed|--ismore|1--"
               "auctionId|"
               "--lastModified|--currentPage|" +
               num(page) + "--snapId|0.htm";
    return m_base + "/user-rate-" + s.key + ".htm?currentPage=" + num(page);
}

std::string MarketPages::ratingRow(const MarketModel::Rating& r) const
{
    // One line without blanks between the tags: the row is read as a whole.
    std::string date = r.time;
    if (r.dottedDate) {
        std::replace(date.begin(), date.begin() + 10, '-', '.');
    }
    std::string row = "<tr><td class=\"rate\"><span class=\"" +
                      std::string(r.word == "好评"   ? "rate-ok"
                                  : r.word == "中评" ? "rate-normal"
                                                     : "rate-bad") +
                      "\">" + r.word + "</span>";
    if (r.noEffect)
        row += "<span class=\"no-effect\">[不计分]</span>";
    row += "</td><td><p class=\"rate\" style=\"text-align:left;\">" + r.commentHtml + "</p>";
    if (!r.explanation.empty())
        row += "<p class=\"exp\">" + r.explanation + "</p>";
    row += "<span class=\"date\">[" + date + "]</span></td><td>买家：";
    if (r.anonymous) {
        row += r.buyer;
    } else {
        row +=
            "<a href=\"" + m_base + "/member/b" + r.tradeId + ".htm\" target=\"_blank\">" + r.buyer + "</a>";
        if (r.buyerIcon)
            row += "<a href=\"" + m_base + "/help/rank.htm\" target=\"_blank\"><img src=\"" + m_base +
                   "/img/rank/b_1.gif\" alt=\"\" /></a>";
    }
    row += "</td><td><p class=\"exp\"><a href=\"" + m_base +
           "/auction/snap_detail.htm?trade_id=" + r.tradeId + "&auction_id=" + r.item->id + "\" title=\"" +
           r.item->title + "\" target=\"_blank\">" + r.item->title + "</a></p><span class=\"price\"><em>" +
           r.item->price + "</em>元</span></td></tr>\n";
    return row;
}

std::string MarketPages::ratingPage(const MarketModel::Shop& s, int page) const
{
    const int total = m_model.ratingsPerShop();
    const int pages = m_model.ratingPages();
    page = std::max(1, page);

    std::string h = kHead;
    h += "<title>" + s.member + "的信用评价 - 小集市</title>\n</head>\n<body>\n";
    h += "<div class=\"rate-summary\">\n";
    h += "<h4 class=\"seller\">卖家累积信用：<a href=\"" + m_base + "/help/credit.htm\" target=\"_blank\">" +
         num(s.sellerCredit) + "</a>";
    if (s.sellerLevel > 0)
        h += "<img src=\"" + m_base + "/img/rank/s_" + num(s.sellerLevel) + ".gif\" alt=\"\" />";
    h += "</h4>\n";
    h += "<h4 class=\"buyer\">买家累积信用：<a href=\"" + m_base + "/help/credit.htm\" target=\"_blank\">" +
         num(s.buyerCredit) + "</a></h4>\n";
    h +=
        "<ul class=\"rates\">\n<li>卖家好评率：<strong>" + s.sellerGoodRate + "<span></span></strong></li>\n";
    h += "<li>买家好评率：<strong>" + s.buyerGoodRate + "<span></span></strong></li>\n</ul>\n</div>\n";

    auto table = [&](const char* cls, const int(&counts)[3][5]) {
        static const char* const kinds[3][2] = {
            {"rate-ok", "好评"}, {"rate-normal", "中评"}, {"rate-bad", "差评"}};
        std::string t = std::string("<table class=\"") + cls + "\">\n";
        t += "<tr><th></th><th>最近1周</th><th>最近1个月</th><th>最近6个月</th><th>6个月前</th><th>总计</"
             "th></tr>\n";
        for (int k = 0; k < 3; ++k) {
            t += std::string("<tr>\n<td><span class=\"rate-icon ") + kinds[k][0] + "\">" + kinds[k][1] +
                 "</span></td>";
            for (int p = 0; p < 4; ++p)
                t += "\n<td><a href=\"" + m_base + "/user-rate-" + s.key + ".htm?period=" + num(p) + "\">" +
                     num(counts[k][p]) + "</a></td>";
            t += "\n<td class=\"total\">" + num(counts[k][4]) + "</td>\n</tr>\n";
        }
        return t + "</table>\n";
    };
    h += table("rate-table seller", s.sellerCounts);
    if (s.buyerTable)
        h += table("rate-table buyer", s.buyerCounts);

    h += "<div class=\"rate-total\">共收到<span class=\"G\">" + num(total) + "条评价，好评率" +
         s.sellerGoodRate + "</span></div>\n";
    h += "<table class=\"rate-list\">\n<tr><th>评价</th><th>评论</th><th>评价人</th><th>宝贝信息</th></tr>\n";
    for (int j = (page - 1) * MarketModel::kPageSize; j < std::min(total, page * MarketModel::kPageSize); ++j)
        h += ratingRow(m_model.rating(s, j));
    h += "</table>\n<div class=\"pagination\">\n";
    if (page > 1)
        h += "<a href=\"" + ratingLink(s, page - 1) + "\">上一页</a>\n";
    if (page < pages)
        h += "<a href=\"" + ratingLink(s, page + 1) + "\">下一页</a>\n";
    if (total > 0)
        h += "<a href=\"" + ratingLink(s, pages) + "\">末页</a>\n";
    h += "</div>\n</body>\n</html>\n";
    return finish(std::move(h));
}

std::string MarketPages::snapshot(const MarketModel::Shop& s, const MarketModel::Item& item,
                                  const std::string& tradeId) const
{
    std::string h = kHead;
    h += "<title>" + item.title + " - 交易快照</title>\n</head>\n<body>\n";
    h += "<h1>" + item.title + "</h1>\n<p>交易快照 " + escape(tradeId) + "</p>\n";
    h += "<p>价格：<em>" + item.price + "</em>元</p>\n<p>店铺：<a href=\"" + m_base + "/shop/" +
         num(s.index) + ".htm\">" + escape(s.name) + "</a></p>\n</body>\n</html>\n";
    return finish(std::move(h));
}
