#pragma once

// Marketplace pages written for the tests, the benchmark and the fuzz seeds: shop-directory
// result pages, shop pages and rating pages as the marketplace serves them (GBK, CRLF line
// ends, indentation, mixed-case markup). Built in UTF-8 here and converted at the end.

#include "text/GbkCodec.h"

#include <string>
#include <vector>

namespace sample {

inline std::string gbkText(const std::string& utf8)
{
    return gbk::fromUtf8(utf8);
}

// ---- shop-directory result page ----

struct Shop
{
    std::string keeper = "小熊妈妈";
    std::string namePre = "小";
    std::string highlight = "熊"; // the search word, marked by the highlight span; empty: none
    std::string namePost = "的杂货铺";
    std::string market = "女装 饰品 家居";
    std::string address = "http://shop10001.market.test/";
    std::string amount = "326";
    std::string place = "浙江 杭州";
    bool mallLogo = false;   // a mall badge link before the name link
    bool promotions = false; // a promotion list after the main business
    bool bseller = false;    // marked as a mall seller: skipped by the parser
    bool nameHref = true;    // false: the name link does not start with href
    bool sellerPart = true;  // false: the block lacks its seller part
};

inline std::string shopBlockUtf8(const Shop& s)
{
    std::string b;
    b += "<div class=\"shop\">\r\n";
    b += "  <div class=\"shoplogo\">\r\n";
    b += "    <a href=\"" + s.address + "\" target=\"_blank\">\r\n";
    b += "      <img src=\"http://img.market.test/logo/" + s.amount + ".jpg\" alt=\"logo\" />\r\n";
    b += "    </a>\r\n";
    b += "  </div>\r\n";
    b += "  <div class=\"info\">\r\n";
    b += "    <div class=\"shopname\">\r\n";
    if (s.mallLogo)
        b += "      <a href=\"http://mall.market.test/\" target=\"_blank\"><img "
             "src=\"http://img.market.test/mall.gif\" "
             "/></a>\r\n";
    b += std::string("      <a ") +
         (s.nameHref ? "href=\"" + s.address + "\" target=\"_blank\""
                     : "target=\"_blank\" href=\"" + s.address + "\"") +
         ">";
    b += s.namePre;
    if (!s.highlight.empty())
        b += "<span class=\"H\">" + s.highlight + "</span>";
    b += s.namePost + "</a>\r\n";
    b += "    </div>\r\n";
    b += "    <div class=\"market\"><i>主营：</i>" + s.market + "</div>\r\n";
    if (s.promotions)
        b += "    <ul class=\"promotion-list\"><li>满100减10</li><li>全场包邮</li></ul>\r\n";
    b += "  </div>\r\n";
    b += "  <div class=\"userlevel\"><i>信用：</i><img src=\"http://img.market.test/rank/s_blue_3.gif\" />";
    b += std::string("<span class=\"") + (s.bseller ? "bseller" : "rank") + "\">" +
         (s.bseller ? "商城" : "1203") + "</span></div>\r\n";
    b += "  <div class=\"place\">" + s.place + "</div>\r\n";
    b += "  <div class=\"legend\"><a href=\"http://www.market.test/protect\"><img "
         "src=\"http://img.market.test/xb.gif\" /></a>消费者保障</div>\r\n";
    if (s.sellerPart)
        b += "  <div class=\"seller\"><i>掌柜：</i><a href=\"http://member.market.test/u/" + s.amount +
             "\" target=\"_blank\">" + s.keeper + "</a> <span class=\"ww\">和我联系</span></div>\r\n";
    b += "  <div class=\"amount\"><i>宝贝数：</i>" + s.amount + "</div>\r\n";
    b += "</div>\r\n";
    b += "<div class=\"hackbox\"></div>\r\n";
    return b;
}

struct ResultPage
{
    std::string total = "1000"; // the text between the breadcrumb's parentheses
    bool breadcrumb = true;
    bool categoryCrumb = true; // a third, linked crumb before the count
    std::vector<Shop> shops;
};

inline std::string resultPageUtf8(const ResultPage& p)
{
    std::string h;
    h += "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\r\n";
    h += "<HTML>\r\n<HEAD>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\r\n";
    h += "<TITLE>店铺搜索 - 集市</TITLE>\r\n</HEAD>\r\n<BODY>\r\n";
    h += "<div id=\"Header\"><a href=\"http://www.market.test/\">集市首页</a> | <a "
         "href=\"http://login.market.test/\">请登录</a></div>\r\n";
    if (p.breadcrumb) {
        h += "<div id=\"LinkPath\">\r\n";
        h += "  <ul class=\"PathLinksLevel1\">\r\n";
        h += "    <li><a href=\"http://www.market.test/\">首页</a></li>\r\n";
        h += "    <li><a href=\"http://search.market.test/shop\">店铺搜索</a></li>\r\n";
        if (p.categoryCrumb)
            h += "    <li><a href=\"http://search.market.test/shop?cat=16\">女装/女士精品</a></li>\r\n";
        h += "    <li>“熊”<span>(" + p.total + ")</span></li>\r\n";
        h += "  </ul>\r\n";
        h += "</div>\r\n";
    }
    h += "<div id=\"ShopList\">\r\n";
    for (const Shop& s : p.shops)
        h += shopBlockUtf8(s);
    h += "</div>\r\n";
    h += "<div class=\"page-nav\"><a "
         "href=\"http://search.market.test/browse/shop?q=x&amp;page=2\">下一页</a></div>\r\n";
    h += "</BODY>\r\n</HTML>\r\n";
    return h;
}

inline std::string resultPage(const ResultPage& p)
{
    return gbkText(resultPageUtf8(p));
}

// n ordinary shops numbered from first.
inline std::vector<Shop> shops(int n, int first = 1)
{
    std::vector<Shop> out;
    for (int i = 0; i < n; ++i) {
        Shop s;
        const std::string no = std::to_string(first + i);
        s.keeper = "掌柜" + no;
        s.namePost = "的店" + no;
        s.address = "http://shop" + no + ".market.test/";
        s.amount = std::to_string(100 + first + i);
        s.promotions = (i % 3) == 1;
        s.mallLogo = (i % 5) == 2;
        out.push_back(s);
    }
    return out;
}

// ---- shop page ----

struct ShopPage
{
    std::string ratingHref = "http://rate.market.test/user-rate-UxYz2008.htm";
    bool ratingLink = true;
    std::string dateA = "2008-03-15"; // 创店时间： in a plain span; empty: none
    std::string dateB;                // 创店时间: in a span with attributes; empty: none
};

inline std::string shopPage(const ShopPage& p)
{
    std::string h;
    h += "<html>\r\n<head><title>小熊的杂货铺 - 集市</title></head>\r\n<body>\r\n";
    h += "<div class=\"shop-header\"><h1>小熊的杂货铺</h1></div>\r\n";
    h += "<div class=\"shop-info\">\r\n  <ul>\r\n";
    h += "    <li><span>掌柜：</span><a href=\"http://member.market.test/u/1\">小熊妈妈</a></li>\r\n";
    if (!p.dateA.empty())
        h += "    <li><span>创店时间：</span>" + p.dateA + "</li>\r\n";
    if (!p.dateB.empty())
        h += "    <li>\r\n      <span class=\"label\">创店时间:</span> " + p.dateB + "\r\n    </li>\r\n";
    if (p.ratingLink)
        h += "    <li><A HREF=\"" + p.ratingHref + "\" target=\"_blank\">信用评价</A></li>\r\n";
    h += "  </ul>\r\n</div>\r\n</body>\r\n</html>\r\n";
    return gbkText(h);
}

// ---- rating page ----

struct Rating
{
    std::string word = "好评";
    bool noEffect = false;
    std::string comment = "宝贝很好，物流也快";
    bool script = false;
    std::string explanation; // empty: none
    std::string date = "[2024.03.05 21:14:09]";
    std::string buyer = "买家小王"; // linked buyer name
    bool buyerLink = true;          // false: shown as plain text
    bool buyerBadge = false;        // a badge link after the buyer link
    std::string tradeId = "81234567";
    std::string itemId = "5550001";
    std::string title = "夏季新款 纯棉T恤";
    std::string price = "39.90";
};

inline std::string ratingRowUtf8(const Rating& r)
{
    std::string h =
        "<tr><td class=\"rate\"><span class=\"rate-ok\" title=\"" + r.word + "\">" + r.word + "</span>";
    if (r.noEffect)
        h += "<span class=\"no-effect\">[不计分]</span>";
    h += "</td><td><p class=\"rate\" style=\"text-align:left;\">";
    if (r.script)
        h += "<script>showFace('smile');</script>";
    h += r.comment + "</p>";
    if (!r.explanation.empty())
        h += "<p class=\"exp\">" + r.explanation + "</p>";
    h += "<span class=\"date\">" + r.date + "</span></td>";
    h += "<td>买家：";
    if (r.buyerLink) {
        h += "<a href=\"http://member.market.test/u/" + r.itemId + "\" target=\"_blank\">" + r.buyer + "</a>";
        if (r.buyerBadge)
            h += "<a href=\"http://www.market.test/vip\"><img src=\"http://img.market.test/vip.gif\" /></a>";
    } else {
        h += r.buyer;
    }
    h += "</td>";
    h += "<td><p class=\"exp\"><a href=\"http://trade.market.test/snap.htm?trade_id=" + r.tradeId +
         "&auction_id=" + r.itemId + "\" title=\"" + r.title + "\" target=\"_blank\">" + r.title + "</a></p>";
    h += "<span class=\"price\"><em>" + r.price + "</em>元</span></td></tr>\r\n";
    return h;
}

struct Table
{
    int good[5] = {12, 40, 130, 1100, 1205};
    int neutral[5] = {0, 1, 2, 9, 11};
    int bad[5] = {0, 0, 1, 3, 4};
};

inline std::string tableUtf8(const Table& t, const char* role)
{
    auto row = [](const char* cls, const char* word, const int* v) {
        std::string r = "  <tr>\r\n    <td><span class=\"rate-icon rate-" + std::string(cls) + "\">" + word +
                        "</span></td>\r\n";
        for (int i = 0; i < 4; ++i)
            r += "    <td><a href=\"http://rate.market.test/list?p=" + std::to_string(i) + "\">" +
                 std::to_string(v[i]) + "</a></td>\r\n";
        r += "    <td class=\"total\">" + std::to_string(v[4]) + "</td>\r\n  </tr>\r\n";
        return r;
    };
    std::string h = "<table class=\"rate-table " + std::string(role) + "\">\r\n";
    h += "  "
         "<tr><th></th><th>最近1周</th><th>最近1个月</th><th>最近6个月</th><th>6个月前</th><th>总计</th></"
         "tr>\r\n";
    h += row("ok", "好评", t.good);
    h += row("normal", "中评", t.neutral);
    h += row("bad", "差评", t.bad);
    h += "</table>\r\n";
    return h;
}

struct RatingPage
{
    std::string sellerCredit = "1205";
    std::string buyerCredit = "56";
    std::string sellerRate = "99.85%";
    std::string buyerRate = "100.00%";
    bool rates = true;
    bool buyerTable = true;
    Table seller;
    Table buyer{{3, 5, 10, 20, 38}, {0, 0, 1, 0, 1}, {0, 0, 0, 1, 2}};
    std::string totalSpan = "共5,032条，最近半年1,207条"; // text of the span of class G
    std::string lastHref = "http://rate.market.test/user-rate-uxyz2008--currentPage|10--snapId|0.htm";
    bool lastLink = true;
    std::vector<Rating> rows;
};

inline std::string ratingPageUtf8(const RatingPage& p)
{
    std::string h;
    h += "<html>\r\n<head><title>信用评价 - 集市</title></head>\r\n<body>\r\n";
    h += "<div class=\"rate-summary\">\r\n";
    h += "  <h4 class=\"seller\">卖家累积信用：<a href=\"http://rate.market.test/help\" target=\"_blank\">" +
         p.sellerCredit + "</a></h4>\r\n";
    h += "  <h4 class=\"buyer\">买家累积信用：<a href=\"http://rate.market.test/help\" target=\"_blank\">" +
         p.buyerCredit + "</a></h4>\r\n";
    if (p.rates) {
        h += "  <ul class=\"rate-rate\">\r\n";
        h += "    <li>卖家好评率：<strong>" + p.sellerRate + "<span></span></strong></li>\r\n";
        h += "    <li>买家好评率：<strong>" + p.buyerRate + "<span></span></strong></li>\r\n";
        h += "  </ul>\r\n";
    }
    h += "</div>\r\n";
    h += tableUtf8(p.seller, "seller");
    if (p.buyerTable)
        h += tableUtf8(p.buyer, "buyer");
    h += "<div class=\"rate-total\">累计评价：<span class=\"G\">" + p.totalSpan + "</span></div>\r\n";
    h += "<table class=\"rate-list\">\r\n";
    h += "<tr><th>评价</th><th>评论</th><th>评价人</th><th>宝贝信息</th></tr>\r\n";
    for (const Rating& r : p.rows)
        h += ratingRowUtf8(r);
    h += "</table>\r\n";
    h += "<div class=\"page-nav\"><a "
         "href=\"http://rate.market.test/user-rate-uxyz2008--currentPage|2--snapId|0.htm\">"
         "下一页</a>";
    if (p.lastLink)
        h += " <a href=\"" + p.lastHref + "\">末页</a>";
    h += "</div>\r\n</body>\r\n</html>\r\n";
    return h;
}

// The page as the marketplace sends it (not folded).
inline std::string ratingPage(const RatingPage& p)
{
    return gbkText(ratingPageUtf8(p));
}

// n ordinary ratings numbered from first.
inline std::vector<Rating> ratings(int n, int first = 0)
{
    std::vector<Rating> out;
    for (int i = 0; i < n; ++i) {
        Rating r;
        const std::string no = std::to_string(first + i);
        r.tradeId = "8100" + no;
        r.itemId = "5550" + no;
        r.buyer = "买家" + no;
        r.explanation = (i % 4) == 3 ? "感谢支持，欢迎再来" : "";
        r.script = (i % 7) == 5;
        r.price = std::to_string(10 + i) + ".50";
        out.push_back(r);
    }
    return out;
}

} // namespace sample
