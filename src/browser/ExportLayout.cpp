#include "browser/ExportLayout.h"

#include "extract/GbkCodec.h"
#include "extract/TextOps.h"
#include "store/Schema.h"
#include "store/TField.h"

#include <QHash>

namespace exportlayout {
namespace {

struct ShopColumn
{
    const char16_t* copyLabel;
    const char16_t* sheetHeader;
    const char16_t* csvHeader;
    const char* field; // nullptr: the member id
};

const ShopColumn kShopColumns[] = {
    {u"掌柜：", u"掌柜：", u"掌柜", "dianzhu"},
    {u"评价人ID:", u"掌拒ID", u"掌柜ID", nullptr},
    {u"店铺名：", u"店铺名：", u"店铺名", "dianming"},
    {u"地址：", u"地址：", u"地址", "addr"},
    {u"店铺网址：", u"店铺网址：", u"店铺网址", "webaddr"},
    {u"买家级别：", u"买家级别：", u"买家级别", "buylevel"},
    {u"买家信用：", u"买家信用：", u"买家信用", "buyerCredit"},
    {u"卖家级别：", u"卖家级别：", u"卖家级别", "salelevel"},
    {u"卖家信用：", u"卖家信用：", u"卖家信用", "salerCredit"},
    {u"主营：", u"主营：", u"主营", "loc"},
    {u"买家坏评：", u"买家坏评：", u"买家坏评", "buyerBad"},
    {u"买家中评：", u"买家中评：", u"买家中评", "buyerNotBad"},
    {u"买家好评：", u"买家好评：", u"买家好评", "buyerGood"},
    {u"买家好评率：", u"买家好评率：", u"买家好评率", "buyerGoodRate"},
    {u"卖家坏评：", u"卖家坏评：", u"卖家坏评", "salerBad"},
    {u"卖家中评：", u"卖家中评：", u"卖家中评", "salerNotBad"},
    {u"卖家好评：", u"卖家好评：", u"卖家好评", "salerGood"},
    {u"卖家好评率：", u"卖家好评率：", u"卖家好评率", "salerGoodRate"},
    {u"创建日期：", u"创建日期：", u"创建日期", "createDate"},
};

const char16_t* const kRatingSheetHeaders[] = {u"评价",     u"评价人",   u"是否为买家",
                                               u"价格",     u"评价时间", u"商品标题",
                                               u"评价信息", u"评价解释", u"商品链接"};
const char16_t* const kRatingCsvHeaders[] = {u"评价",     u"评价人",   u"是否买家", u"价格",    u"评价时间",
                                             u"商品标题", u"评价信息", u"评价解释", u"商品链接"};

QString s(const char16_t* text)
{
    return QString::fromUtf16(text);
}

// Column positions by lower-cased name, per kind, computed once.
int columnIndex(Kind kind, const char* column)
{
    static const auto build = [](const QStringList& columns) {
        QHash<QByteArray, int> out;
        for (int i = 0; i < columns.size(); ++i)
            out.insert(columns[i].toLower().toLatin1(), i);
        return out;
    };
    static const QHash<QByteArray, int> shops = build(schema::dianBaseColumns());
    static const QHash<QByteArray, int> ratings = build(schema::pjInfoColumns());
    const QByteArray key = QByteArray(column).toLower();
    return (kind == Kind::Shops ? shops : ratings).value(key, -1);
}

QString buyerMark(const Record& rating)
{
    return rating.flag("buyerOrSaler") ? QStringLiteral("(买家)") : QStringLiteral("(卖家)");
}

} // namespace

const QStringList& recordColumns(Kind kind)
{
    return kind == Kind::Shops ? schema::dianBaseColumns() : schema::pjInfoColumns();
}

const QVariant& Record::raw(const char* column) const
{
    static const QVariant null;
    const int i = columnIndex(m_kind, column);
    return i >= 0 && i < m_values.size() ? m_values[i] : null;
}

QString Record::text(const char* column) const
{
    const QVariant& value = raw(column);
    if (value.isNull())
        return QString();
    return TField(QString(), value, schema::columnType(QLatin1String(column))).asString();
}

bool Record::flag(const char* column) const
{
    return TField(QString(), raw(column), schema::ColumnType::Boolean).asBoolean();
}

QString memberId(const QString& webaddr)
{
    // The same engine and pattern text the page parsers use.
    const std::string digits = text::RegexReplace("[^\\d]+", gbk::fromQString(webaddr), "", false);
    return gbk::toQString(digits);
}

QString snapshotLink(const QString& snapHost, const QVariant& tradeId, const QVariant& itemId)
{
    if (tradeId.isNull())
        return s(kNoLink);
    return (snapHost + QStringLiteral("/auction/snap_detail.htm?trade_id=") + tradeId.toString() +
            QStringLiteral("&auction_id=") + itemId.toString())
        .trimmed();
}

QString snapshotLink(const QString& snapHost, const Record& rating)
{
    return snapshotLink(snapHost, rating.raw("trade_id"), rating.raw("itemId"));
}

QString cleanCsvField(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        if (c == u',')
            out += u'、';
        else if (!c.isSpace())
            out += c;
    }
    return out;
}

QString shopCopy(const Record& shop)
{
    QString out;
    for (const ShopColumn& c : kShopColumns) {
        QString value;
        if (!c.field)
            value = memberId(shop.text("webaddr"));
        else if (qstrcmp(c.field, "dianzhu") == 0 || qstrcmp(c.field, "dianming") == 0)
            value = shop.text(c.field).trimmed();
        else
            value = shop.text(c.field);
        out += s(c.copyLabel) + value + u'\r';
    }
    return out;
}

QString ratingCopy(const Record& r, const QString& snapHost)
{
    QString out;
    out += QStringLiteral("评价：") + r.text("pj") + u'\r';
    out += QStringLiteral("评价人：") + r.text("pjName") + buyerMark(r) + u'\r';
    out += QStringLiteral("价格：") + r.text("jg") + QStringLiteral("元") + u'\r';
    out += QStringLiteral("评价时间：") + r.text("pjsj") + u'\r';
    out += QStringLiteral("商品标题：") + r.text("itemTitle") + u'\r';
    out += QStringLiteral("评价信息：") + r.text("pjInfo") + u'\r';
    out += QStringLiteral("评价解释：") + r.text("pjjs") + u'\r';
    out += QStringLiteral("商品链接：") + snapshotLink(snapHost, r) + u'\r';
    return out;
}

QString csvHeader(Kind kind)
{
    QStringList headers;
    if (kind == Kind::Shops) {
        for (const ShopColumn& c : kShopColumns)
            headers << s(c.csvHeader);
    } else {
        for (const char16_t* h : kRatingCsvHeaders)
            headers << s(h);
    }
    return headers.join(u',');
}

QString csvLine(const Record& r, const QString& snapHost)
{
    QString line;
    if (r.kind() == Kind::Shops) {
        bool first = true;
        for (const ShopColumn& c : kShopColumns) {
            if (!first)
                line += u',';
            first = false;
            line += cleanCsvField(c.field ? r.text(c.field) : memberId(r.text("webaddr")));
        }
        return line;
    }
    for (const char* field : {"pj", "pjName", "buyerOrSaler", "jg", "pjsj", "itemTitle", "pjInfo", "pjjs"})
        line += cleanCsvField(r.text(field)) + u',';
    line += snapshotLink(snapHost, r);
    return line;
}

QStringList sheetHeaders(Kind kind)
{
    QStringList headers;
    if (kind == Kind::Shops) {
        for (const ShopColumn& c : kShopColumns)
            headers << s(c.sheetHeader);
    } else {
        for (const char16_t* h : kRatingSheetHeaders)
            headers << s(h);
    }
    return headers;
}

QList<Cell> sheetRow(const Record& r, const QString& snapHost)
{
    QList<Cell> cells;
    if (r.kind() == Kind::Shops) {
        for (const ShopColumn& c : kShopColumns)
            cells.append({c.field ? r.text(c.field) : memberId(r.text("webaddr")), std::nullopt});
        return cells;
    }
    cells.append({r.text("pj"), std::nullopt});
    cells.append({r.text("pjName"), std::nullopt});
    cells.append({buyerMark(r), std::nullopt});
    const QVariant& price = r.raw("jg");
    cells.append({QString(), price.isNull() ? std::nullopt : std::optional<double>(price.toDouble())});
    cells.append({r.text("pjsj"), std::nullopt});
    cells.append({r.text("itemTitle"), std::nullopt});
    cells.append({r.text("pjInfo"), std::nullopt});
    cells.append({r.text("pjjs"), std::nullopt});
    cells.append({snapshotLink(snapHost, r), std::nullopt});
    return cells;
}

} // namespace exportlayout
