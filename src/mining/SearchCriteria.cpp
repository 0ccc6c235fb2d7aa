#include "mining/SearchCriteria.h"

#include "text/Formats.h"
#include "text/GbkCodec.h"

const std::array<SearchCriteria::Category, 50>& SearchCriteria::categories()
{
    static const std::array<Category, 50> table = {{
        {u"不限", ""},
        {u"手机", "13"},
        {u"电脑硬件/台式机/网络设备", "11"},
        {u"笔记本电脑", "1043"},
        {u"IP卡/网络电话/在线影音充值", "1103"},
        {u"MP3\\MP4\\iPod\\录音笔", "12"},
        {u"数码相机/摄像机/图形冲印", "17"},
        {u"数码配件/电子元件市场", "1048"},
        {u"家用电器/hifi音响/耳机", "1046"},
        {u"网络服务/电脑软件", "1052"},
        {u"办公设备/文具/耗材", "21"},
        {u"家用电器/保健器械", "36"},
        {u"移动联通充值中心/IP长途", "1041"},
        {u"女鞋", "1056"},
        {u"女装/女士精品", "14"},
        {u"女士内衣", "1055"},
        {u"闪存卡", "1105"},
        {u"彩妆/香水/护肤/美体", "15"},
        {u"闪存卡", "1106"},
        {u"珠宝/钻石/翡翠/黄金", "23"},
        {u"女士箱包/配件", "31"},
        {u"品牌手表/流行手表", "1044"},
        {u"饰品/流行首饰/时尚饰品", "1054"},
        {u"男鞋/男包/饰品配件", "1082"},
        {u"个人护理/保健/按摩器材", "1104"},
        {u"男装/服饰配件", "37"},
        {u"户外/军品/旅游/机票", "1045"},
        {u"运动/健身/运动明星", "18"},
        {u"ZIPPO/瑞士军刀/饰品/眼镜", "1040"},
        {u"居家日用/厨房餐饮/装饰/工艺品", "24"},
        {u"家具/家具定制/宜家代购", "1050"},
        {u"床上用品/靠垫/窗帘/布艺", "1049"},
        {u"装潢/灯具/五金/安防/卫浴", "26"},
        {u"腾讯QQ专区", "1102"},
        {u"保健品/滋补品", "1051"},
        {u"食品/茶叶/零食/特产", "29"},
        {u"汽车/配件/改装/摩托/自行车", "22"},
        {u"母婴用品/奶粉/孕妇装", "1020"},
        {u"电玩/配件/游戏/攻略", "16"},
        {u"玩具/动漫/模型/卡通", "30"},
        {u"网络游戏虚拟商品交易区", "35"},
        {u"书籍/杂志/报纸", "34"},
        {u"音乐/影视/明星/乐器", "33"},
        {u"古董/邮币/字画/收藏", "20"},
        {u"宠物/宠物食品及用品", "32"},
        {u"成人用品/避孕用品/情趣内衣", "27"},
        {u"网店装修、用品/快递/图片存储", "1042"},
        {u"演出/旅游/吃喝玩乐折扣券", "1053"},
        {u"鲜花速递/蛋糕配送/园艺花艺", "1047"},
        {u"童装/婴儿服/鞋帽", "1062"},
    }};
    return table;
}

bool SearchCriteria::acceptable() const
{
    return !shopname.isEmpty() || !sellername.isEmpty() || !keybiz.isEmpty() || category > 0;
}

namespace {

// A criteria text in the page code page, with the five characters that would change the
// query's structure escaped: "&" and "=" would start a parameter of their own, "#" would end
// the query, "%" and "+" would be decoded by the server. Every other byte goes as typed. None
// of the five can be the second byte of a double-byte character, so bytes are safe to scan.
std::string queryValue(const QString& text)
{
    const std::string raw = gbk::fromQString(text);
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        switch (c) {
        case '&':
            out += "%26";
            break;
        case '#':
            out += "%23";
            break;
        case '%':
            out += "%25";
            break;
        case '+':
            out += "%2B";
            break;
        case '=':
            out += "%3D";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string SearchCriteria::firstPageUrl(const QString& searchHost) const
{
    const int index = category >= 0 && category < static_cast<int>(categories().size()) ? category : 0;
    std::string url =
        "http://" + gbk::fromQString(searchHost) + "/browse/shop-" + categories()[index].code + ".htm?sort=";
    const std::pair<const char*, const QString*> pairs[] = {
        {"shopname", &shopname}, {"sellername", &sellername}, {"keybiz", &keybiz}, {"loc", &loc}};
    for (const auto& [key, value] : pairs)
        if (!value->isEmpty())
            url += std::string("&") + key + "=" + queryValue(*value);
    std::string levelList;
    for (int n = 1; n <= kLevels; ++n)
        if (levels[n - 1])
            levelList += n < kLevels ? std::to_string(n) + "," : std::to_string(n);
    url += "&";
    if (!levelList.empty())
        url += "ratesum=" + levelList;
    return url;
}

std::string SearchCriteria::furtherPageUrl(const std::string& base, int page)
{
    return base + "&page=" + std::to_string(page);
}

QStringList SearchCriteria::logLines(int searchNo, const QTime& now) const
{
    QString levelText;
    for (int n = 1; n <= kLevels; ++n)
        if (levels[n - 1])
            levelText += QString::number(n) + QStringLiteral("、");
    const int index = category >= 0 && category < static_cast<int>(categories().size()) ? category : 0;
    return {
        QStringLiteral("第%1次搜索条件:").arg(searchNo),
        QStringLiteral("店铺名：") + shopname,
        QStringLiteral("掌柜名：") + sellername,
        QStringLiteral("主营项目：") + keybiz,
        QStringLiteral("所在地：") + loc,
        QStringLiteral("类别：") + QString::fromUtf16(categories()[index].text),
        QStringLiteral("掌柜级别：") + levelText,
        QStringLiteral("需搜索数：%1个").arg(requested),
        QStringLiteral("开始搜索时间：") + formats::longTime(now),
    };
}
