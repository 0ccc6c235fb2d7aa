#include "MarketModel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// splitmix64: small, fast and the same on every platform (std distributions are not).
class Rng
{
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T, size_t N> const T& pick(const T (&pool)[N]) { return pool[below(int(N))]; }

private:
    uint64_t m_state;
};

uint64_t mix(uint64_t a, uint64_t b)
{
    return Rng(a * 0x100000001B3ull ^ (b + 0x632BE59BD9B4E019ull)).next();
}

const char* const kNameHeads[] = {"青禾", "晴川", "木子", "小鹿", "北岸", "云朵", "橙光",
                                  "半夏", "知竹", "南风", "星河", "布丁", "芝麻", "白桦",
                                  "拾光", "麦田", "小满", "听雨", "海盐", "松果"};
const char* const kNameBodies[] = {"手作", "数码", "杂货", "衣橱", "茶铺", "书屋", "花坊", "饰品",
                                   "美妆", "家居", "玩具", "户外", "零食", "鞋馆", "箱包"};
const char* const kNameTails[] = {"小铺", "小店", "工作室", "生活馆", "专营店", "精品店", "优选"};
const char* const kLatinMarks[] = {"ZETA", "Kumo", "K-Lab", "Velo Lab", "QiQi", "Lulo"};
const char* const kMemberHeads[] = {"lin",    "yue",  "mo",   "xia",    "qiu",  "nan",
                                    "feng",   "tang", "bai",  "su",     "青青", "阿木",
                                    "小橙子", "大头", "米粒", "Sunny_", "KiKi", "老陈"};
const char* const kBusiness[] = {"手机配件、数据线、充电器",
                                 "原创手工饰品",
                                 "女装 连衣裙 外套",
                                 "进口零食 坚果",
                                 "茶叶 茶具",
                                 "二手书籍 杂志",
                                 "鲜花 绿植 多肉",
                                 "户外装备 帐篷 睡袋",
                                 "电脑硬件 DIY装机",
                                 "母婴用品 童装",
                                 "家居布艺 抱枕",
                                 "化妆品 护肤品",
                                 "运动鞋 休闲鞋",
                                 "模型 手办 玩具",
                                 "LED灯具 五金"};
const char* const kLocations[] = {"浙江 杭州", "上海",      "北京",      "广东 深圳",
                                  "广东 广州", "江苏 苏州", "福建 厦门", "四川 成都",
                                  "湖北 武汉", "山东 青岛", "浙江 义乌", "重庆"};
const char* const kPromotions[] = {"满99包邮", "限时折扣", "买二送一", "新品上架", "会员九折", "满200减20"};
const char* const kItemHeads[] = {"加厚纯棉", "手工", "原装正品", "韩版", "复古",
                                  "迷你",     "防水", "大容量",   "进口", "新款"};
const char* const kItemBodies[] = {"T恤 男款",     "牛轧糖 500g", "USB数据线 1米",   "帆布包",
                                   "保温杯 350ml", "耳钉一对",    "充电宝 10000mAh", "毛线帽",
                                   "笔记本 A5",    "陶瓷茶杯",    "登山杖",          "LED台灯"};
const char* const kItemTails[] = {"", " 包邮", " 特价", " 白色", " XL", " 送礼盒"};
const char* const kPrices[] = {"9.90",  "12.50",  "19.00",  "35.00",  "58.80",
                               "99.00", "128.00", "299.00", "1288.00"};
const char* const kGoodComments[] = {
    "东西很好，物流也快", "和描述一致，满意", "包装仔细，下次还来", "性价比很高", "掌柜人很好，推荐",
    "第二次购买了",       "好评！",           "质量不错 值这个价"};
const char* const kMiddleComments[] = {"还行吧", "质量一般", "颜色有点偏差", "发货有点慢"};
const char* const kBadComments[] = {"收到就坏了", "与描述不符", "联系不上掌柜"};
const char* const kExplanations[] = {"感谢支持，欢迎再来！", "亲，已经为您补发了", "抱歉给您带来不便，已退款",
                                     "颜色以实物为准哦"};
const char* const kBuyers[] = {"小雨点",   "tangtang", "阿飞", "Mimo酱", "lucky猫",
                               "夏天的风", "老王",     "qiqi", "Leo_Z",  "米米"};

std::string twoDigits(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string formatTime(long long t)
{
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

bool equalsFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Splits a total over four periods (last week, last month, last half year, before).
void splitCounts(Rng& rng, int total, int* out)
{
    out[4] = total;
    int left = total;
    for (int p = 0; p < 3; ++p) {
        out[p] = rng.below(left / 4 + 1);
        left -= out[p];
    }
    out[3] = left;
}

} // namespace

const std::vector<std::pair<std::string, std::string>>& MarketModel::categories()
{
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"13", "手机"},
        {"11", "电脑硬件/台式机/网络设备"},
        {"1043", "笔记本电脑"},
        {"1103", "IP卡/网络电话/在线影音充值"},
        {"12", "MP3\\MP4\\iPod\\录音笔"},
        {"17", "数码相机/摄像机/图形冲印"},
        {"1048", "数码配件/电子元件市场"},
        {"1046", "家用电器/hifi音响/耳机"},
        {"1052", "网络服务/电脑软件"},
        {"21", "办公设备/文具/耗材"},
        {"36", "家用电器/保健器械"},
        {"1041", "移动联通充值中心/IP长途"},
        {"1056", "女鞋"},
        {"14", "女装/女士精品"},
        {"1055", "女士内衣"},
        {"1105", "闪存卡"},
        {"15", "彩妆/香水/护肤/美体"},
        {"1106", "闪存卡"},
        {"23", "珠宝/钻石/翡翠/黄金"},
        {"31", "女士箱包/配件"},
        {"1044", "品牌手表/流行手表"},
        {"1054", "饰品/流行首饰/时尚饰品"},
        {"1082", "男鞋/男包/饰品配件"},
        {"1104", "个人护理/保健/按摩器材"},
        {"37", "男装/服饰配件"},
        {"1045", "户外/军品/旅游/机票"},
        {"18", "运动/健身/运动明星"},
        {"1040", "ZIPPO/瑞士军刀/饰品/眼镜"},
        {"24", "居家日用/厨房餐饮/装饰/工艺品"},
        {"1050", "家具/家具定制/宜家代购"},
        {"1049", "床上用品/靠垫/窗帘/布艺"},
        {"26", "装潢/灯具/五金/安防/卫浴"},
        {"1102", "腾讯QQ专区"},
        {"1051", "保健品/滋补品"},
        {"29", "食品/茶叶/零食/特产"},
        {"22", "汽车/配件/改装/摩托/自行车"},
        {"1020", "母婴用品/奶粉/孕妇装"},
        {"16", "电玩/配件/游戏/攻略"},
        {"30", "玩具/动漫/模型/卡通"},
        {"35", "网络游戏虚拟商品交易区"},
        {"34", "书籍/杂志/报纸"},
        {"33", "音乐/影视/明星/乐器"},
        {"20", "古董/邮币/字画/收藏"},
        {"32", "宠物/宠物食品及用品"},
        {"27", "成人用品/避孕用品/情趣内衣"},
        {"1042", "网店装修、用品/快递/图片存储"},
        {"1053", "演出/旅游/吃喝玩乐折扣券"},
        {"1047", "鲜花速递/蛋糕配送/园艺花艺"},
        {"1062", "童装/婴儿服/鞋帽"},
    };
    return table;
}

std::string MarketModel::categoryName(std::string_view code)
{
    for (const auto& [c, name] : categories())
        if (c == code)
            return name;
    return {};
}

int MarketModel::creditLevel(int p)
{
    static const int upper[] = {10,   40,    90,    150,   250,    500,    1000,  2000,
                                5000, 10000, 20000, 50000, 100000, 200000, 500000};
    if (p < 4)
        return 0;
    for (int level = 0; level < 15; ++level)
        if (p <= upper[level])
            return level + 1;
    return 0;
}

MarketModel::MarketModel(uint64_t seed, int shopCount, int ratingsPerShop, int newer, long long today)
    : m_seed(seed), m_ratingsPerShop(std::max(0, ratingsPerShop)), m_newer(std::max(0, newer))
{
    // The base list spans about 350 days, so that an analysis of this year or of the last
    // months finds ratings whatever the day; at least two seconds apart keeps times distinct.
    m_step = std::max(2LL, 350LL * 86400 / std::max(1, m_ratingsPerShop));
    const long long todayStart = today * 86400;
    const auto& cats = categories();
    m_shops.reserve(size_t(std::max(0, shopCount)));
    for (int i = 1; i <= shopCount; ++i) {
        Rng rng(mix(seed, uint64_t(i)));
        Shop s;
        s.index = i;
        // Key: letters of both cases, then the number, so keys never collide.
        static const char letters[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz";
        s.key += letters[rng.below(24)];
        for (int k = 0; k < 5; ++k)
            s.key += letters[rng.below(48)];
        s.key += std::to_string(i);

        s.member = std::string(rng.pick(kMemberHeads)) + std::to_string(100 + i);
        switch (rng.below(8)) {
        case 0:
            s.name = std::string(rng.pick(kLatinMarks)) + rng.pick(kNameBodies) + rng.pick(kNameTails);
            break;
        case 1:
            s.name = std::string(rng.pick(kNameHeads)) + "&" + rng.pick(kNameHeads) + rng.pick(kNameBodies);
            break;
        case 2:
            s.name =
                std::string("<") + rng.pick(kNameBodies) + ">" + rng.pick(kNameHeads) + rng.pick(kNameTails);
            break;
        case 3:
            s.name = std::string("\"") + rng.pick(kNameHeads) + "\"" + rng.pick(kNameBodies) +
                     rng.pick(kNameTails);
            break;
        case 4:
            s.name = std::string(rng.pick(kNameHeads)) + " " + rng.pick(kNameBodies) + rng.pick(kNameTails);
            break;
        default:
            s.name = std::string(rng.pick(kNameHeads)) + rng.pick(kNameBodies) + rng.pick(kNameTails);
        }
        s.business = rng.pick(kBusiness);
        s.location = rng.pick(kLocations);
        s.categoryCode = cats[size_t(rng.below(int(cats.size())))].first;
        s.goods = rng.below(3000);
        s.bseller = rng.chance(8);

        // Seller credit spread over all levels: a few new shops, most in the middle.
        int band = rng.below(16);
        s.sellerCredit =
            band == 0 ? rng.below(4) : 4 + rng.below(1 << std::min(band + 3, 18)) * (band > 12 ? 2 : 1);
        s.sellerCredit = std::min(s.sellerCredit, 500000);
        s.sellerLevel = creditLevel(s.sellerCredit);
        s.buyerTable = !rng.chance(15);
        s.buyerCredit = s.buyerTable ? 1 + rng.below(800) : 0;
        s.buyerLevel = creditLevel(s.buyerCredit);
        char rate[16];
        std::snprintf(rate, sizeof rate, "%d.%02d%%", 95 + rng.below(5), rng.below(100));
        s.sellerGoodRate = rate;
        std::snprintf(rate, sizeof rate, "%d.%02d%%", 90 + rng.below(10), rng.below(100));
        s.buyerGoodRate = s.buyerTable ? std::string(rate) : std::string("0.00%");
        int totals[3] = {s.sellerCredit + rng.below(50), rng.below(40), rng.below(20)};
        for (int k = 0; k < 3; ++k)
            splitCounts(rng, totals[k], s.sellerCounts[k]);
        if (s.buyerTable) {
            int bought[3] = {s.buyerCredit, rng.below(5), rng.below(3)};
            for (int k = 0; k < 3; ++k)
                splitCounts(rng, bought[k], s.buyerCounts[k]);
        }
        s.createYear = 2003 + rng.below(7);
        s.createMonth = 1 + rng.below(12);
        s.createDay = 1 + rng.below(28);
        s.createFormB = rng.chance(40);

        int itemCount = 3 + rng.below(8);
        for (int k = 0; k < itemCount; ++k) {
            Item item;
            item.id = std::to_string(10000000 + i * 100 + k);
            item.title = std::string(rng.pick(kItemHeads)) + rng.pick(kItemBodies) + rng.pick(kItemTails);
            item.price = rng.pick(kPrices);
            s.items.push_back(std::move(item));
        }
        // The newest rating lies five to eight days before today, which leaves room for the
        // newer ones (three hours apart) before today begins.
        s.newestRating = todayStart - (8 - rng.below(3)) * 86400LL + rng.below(86400);

        s.logoBadge = rng.chance(15);
        s.mallIcon = rng.chance(20);
        s.levelCommented = rng.chance(30);
        s.guaranteeLink = rng.chance(60);
        if (rng.chance(25)) {
            int n = 1 + rng.below(3);
            for (int k = 0; k < n; ++k)
                s.promotions.push_back(rng.pick(kPromotions));
        }
        s.nbspName = rng.chance(50);
        s.pipeLastPage = rng.chance(50);
        m_shops.push_back(std::move(s));
    }
    for (Shop& s : m_shops)
        grow(s);
}

void MarketModel::grow(Shop& s) const
{
    // The figures of the base list, then what the newer ratings add: a good one a point of
    // credit, a bad one a point less, unless it does not count; all of them in the counts of
    // the last week and the total. The good rate becomes that of all the ratings it stands for.
    int before = 0;
    for (int k = 0; k < 3; ++k)
        before += s.sellerCounts[k][4];
    int good = 0;
    for (int n = 1; n <= m_newer; ++n) {
        const Rating r = generate(s, -n);
        const int kind = r.word == "好评" ? 0 : r.word == "中评" ? 1 : 2;
        ++s.sellerCounts[kind][0];
        ++s.sellerCounts[kind][4];
        good += kind == 0;
        if (!r.noEffect)
            s.sellerCredit += kind == 0 ? 1 : kind == 2 ? -1 : 0;
    }
    if (m_newer == 0)
        return;
    s.sellerCredit = std::max(0, s.sellerCredit);
    s.sellerLevel = creditLevel(s.sellerCredit);
    int whole = 0, hundredths = 0;
    std::sscanf(s.sellerGoodRate.c_str(), "%d.%d", &whole, &hundredths);
    const long long rate = (static_cast<long long>(whole * 100 + hundredths) * before + 10000LL * good) /
                           std::max(1, before + m_newer);
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%02lld%%", rate / 100, rate % 100);
    s.sellerGoodRate = text;
}

int MarketModel::ratingPages() const
{
    return std::max(1, (ratingsPerShop() + kPageSize - 1) / kPageSize);
}

MarketModel::Rating MarketModel::rating(const Shop& shop, int number) const
{
    return generate(shop, number - m_newer);
}

MarketModel::Rating MarketModel::generate(const Shop& shop, int number) const
{
    // Newer ratings draw from a stream of their own, so the base list never changes.
    Rng rng(number >= 0 ? mix(mix(m_seed, uint64_t(shop.index)), uint64_t(number) + 0x5151)
                        : mix(mix(m_seed, uint64_t(shop.index) + 0x7A7A0000ull), uint64_t(-number)));
    Rating r;
    int roll = rng.below(100);
    int kind = roll < 90 ? 0 : roll < 96 ? 1 : 2;
    r.word = kind == 0 ? "好评" : kind == 1 ? "中评" : "差评";
    r.noEffect = rng.chance(5);
    // Strictly older with every number: whole steps less a jitter below a step; newer ones
    // three hours apart.
    const long long step = number >= 0 ? m_step : 10800;
    long long t = shop.newestRating - number * step - rng.below(int(std::max(1LL, step * 9 / 10)));
    r.time = formatTime(t);
    r.dottedDate = rng.chance(35);
    r.tradeId = number >= 0 ? std::to_string(3000000000LL + shop.index * 1000000LL + number)
                            : std::to_string(7000000000LL + shop.index * 1000000LL - number);
    r.item = &shop.items[size_t(rng.below(int(shop.items.size())))];
    r.anonymous = rng.chance(15);
    if (r.anonymous) {
        const char* const marks[] = {"t", "a", "x", "m", "z"};
        r.buyer = std::string(rng.pick(marks)) + "***" + std::to_string(rng.below(10)) + "（匿名）";
    } else {
        r.buyer = std::string(rng.pick(kBuyers)) + std::to_string(rng.below(1000));
        r.buyerIcon = rng.chance(50);
    }
    const char* text = kind == 0   ? rng.pick(kGoodComments)
                       : kind == 1 ? rng.pick(kMiddleComments)
                                   : rng.pick(kBadComments);
    r.comment = text;
    r.commentHtml = text;
    if (rng.chance(15)) {
        const char* more = rng.pick(kGoodComments);
        r.comment += more;
        r.commentHtml += (rng.chance(50) ? "<br />" : "<br/>") + std::string(more);
    }
    if (rng.chance(10))
        r.commentHtml = "<script>rateStars(" + std::to_string(5 - kind * 2) + ");</script>" + r.commentHtml;
    if (kind > 0 ? rng.chance(60) : rng.chance(10))
        r.explanation = rng.pick(kExplanations);
    return r;
}

const MarketModel::Shop* MarketModel::shopByIndex(int index) const
{
    if (index < 1 || index > int(m_shops.size()))
        return nullptr;
    return &m_shops[size_t(index - 1)];
}

const MarketModel::Shop* MarketModel::shopByKey(std::string_view key) const
{
    // The key ends with the shop number; check the letters too.
    size_t digits = key.find_first_of("0123456789");
    if (digits == std::string_view::npos)
        return nullptr;
    const Shop* shop = shopByIndex(std::atoi(std::string(key.substr(digits)).c_str()));
    return shop && equalsFolded(shop->key, key) ? shop : nullptr;
}

std::optional<std::pair<const MarketModel::Shop*, const MarketModel::Item*>>
MarketModel::itemById(std::string_view id) const
{
    long long n = std::atoll(std::string(id).c_str()) - 10000000;
    if (n < 100)
        return std::nullopt;
    const Shop* shop = shopByIndex(int(n / 100));
    size_t k = size_t(n % 100);
    if (!shop || k >= shop->items.size() || shop->items[k].id != id)
        return std::nullopt;
    return std::make_pair(shop, &shop->items[k]);
}

QJsonDocument MarketModel::truth(const std::string& base) const
{
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    QJsonArray shops;
    for (const Shop& s : m_shops) {
        QJsonObject o;
        o["index"] = s.index;
        o["key"] = q(s.key);
        o["shopkeeper"] = q(s.member);
        o["name"] = q(s.name);
        o["business"] = q(s.business);
        o["location"] = q(s.location);
        o["category"] = q(s.categoryCode);
        o["goods"] = QString::number(s.goods);
        o["address"] = q(base + "/shop/" + std::to_string(s.index) + ".htm");
        o["bseller"] = s.bseller;
        o["sellerCredit"] = s.sellerCredit;
        o["sellerLevel"] = s.sellerLevel;
        o["buyerCredit"] = s.buyerCredit;
        o["buyerLevel"] = s.buyerLevel;
        o["sellerGoodRate"] = q(s.sellerGoodRate);
        o["buyerGoodRate"] = q(s.buyerGoodRate);
        o["sellerGood"] = s.sellerCounts[0][4];
        o["sellerNeutral"] = s.sellerCounts[1][4];
        o["sellerBad"] = s.sellerCounts[2][4];
        o["buyerGood"] = s.buyerCounts[0][4];
        o["buyerNeutral"] = s.buyerCounts[1][4];
        o["buyerBad"] = s.buyerCounts[2][4];
        std::string date = s.createFormB
                               ? std::to_string(s.createYear) + "-" + std::to_string(s.createMonth) + "-" +
                                     std::to_string(s.createDay)
                               : std::to_string(s.createYear) + "-" + twoDigits(s.createMonth) + "-" +
                                     twoDigits(s.createDay);
        o["createDate"] = q(date);
        o["ratingUrl"] = q(base + "/user-rate-" + s.key + ".htm");
        o["totalRatings"] = ratingsPerShop();
        QJsonArray ratings;
        for (int j = 0; j < ratingsPerShop(); ++j) {
            Rating r = rating(s, j);
            QJsonObject ro;
            ro["pj"] = q(r.word);
            ro["time"] = q(r.time);
            ro["tradeId"] = q(r.tradeId);
            ro["itemId"] = q(r.item->id);
            ro["title"] = q(r.item->title);
            ro["buyer"] = q(r.buyer);
            ro["price"] = q(r.item->price);
            ro["comment"] = q(r.comment);
            ro["explanation"] = q(r.explanation.empty() ? std::string("无") : r.explanation);
            ro["noEffect"] = r.noEffect;
            ratings.append(ro);
        }
        o["ratings"] = ratings;
        shops.append(o);
    }
    QJsonObject root;
    root["note"] = QStringLiteral("Texts as the program should store them before ASCII case folding; "
                                  "shops in directory order, ratings newest first, 40 to a page.");
    root["seed"] = QString::number(m_seed);
    root["base"] = q(base);
    root["ratingsPerShop"] = ratingsPerShop();
    root["newer"] = m_newer;
    root["shops"] = shops;
    return QJsonDocument(root);
}
