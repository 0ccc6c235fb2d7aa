#include "browser/ExportLayout.h"

#include "store/Schema.h"
#include "store/TField.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

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

// Where each column sits in a record of a kind, and its type; computed once.
struct KindInfo
{
    QHash<QByteArray, int> index; // lower-cased name -> position
    std::vector<schema::ColumnType> types;
};

const KindInfo& info(Kind kind)
{
    static const auto build = [](const QStringList& columns) {
        KindInfo out;
        for (int i = 0; i < columns.size(); ++i) {
            out.index.insert(columns[i].toLower().toLatin1(), i);
            out.types.push_back(schema::columnType(columns[i]));
        }
        return out;
    };
    static const KindInfo shops = build(schema::dianBaseColumns());
    static const KindInfo ratings = build(schema::pjInfoColumns());
    return kind == Kind::Shops ? shops : ratings;
}

int columnIndex(Kind kind, const char* column)
{
    return info(kind).index.value(QByteArray(column).toLower(), -1);
}

// The columns the exports read for every row, looked up once.
struct Field
{
    int index = -1;
    schema::ColumnType type = schema::ColumnType::Unknown;
};

Field field(Kind kind, const char* column)
{
    const int i = columnIndex(kind, column);
    return {i, i >= 0 ? info(kind).types[i] : schema::ColumnType::Unknown};
}

struct RatingFields
{
    Field pj = field(Kind::Ratings, "pj");
    Field pjName = field(Kind::Ratings, "pjName");
    Field buyer = field(Kind::Ratings, "buyerOrSaler");
    Field jg = field(Kind::Ratings, "jg");
    Field pjsj = field(Kind::Ratings, "pjsj");
    Field itemTitle = field(Kind::Ratings, "itemTitle");
    Field pjInfo = field(Kind::Ratings, "pjInfo");
    Field pjjs = field(Kind::Ratings, "pjjs");
    Field trade = field(Kind::Ratings, "trade_id");
    Field itemId = field(Kind::Ratings, "itemId");
};

const RatingFields& ratingFields()
{
    static const RatingFields fields;
    return fields;
}

// The shop columns in export order; the member id's entry is the address.
const std::vector<Field>& shopFields()
{
    static const std::vector<Field> fields = [] {
        std::vector<Field> out;
        for (const ShopColumn& c : kShopColumns)
            out.push_back(field(Kind::Shops, c.field ? c.field : "webaddr"));
        return out;
    }();
    return fields;
}

QString textOf(const QVariantList& values, const Field& f)
{
    if (f.index < 0 || f.index >= values.size() || values[f.index].isNull())
        return QString();
    return TField(QString(), values[f.index], f.type).asString();
}

QString buyerMark(const Record& rating)
{
    const Field& f = ratingFields().buyer;
    const bool buyer =
        TField(QString(), rating.values().value(f.index), schema::ColumnType::Boolean).asBoolean();
    return buyer ? QStringLiteral("(买家)") : QStringLiteral("(卖家)");
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
    return textOf(m_values, field(m_kind, column));
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
    const QVariantList& v = r.values();
    QString line;
    line.reserve(256);
    if (r.kind() == Kind::Shops) {
        int i = 0;
        for (const Field& f : shopFields()) {
            if (i > 0)
                line += u',';
            line += cleanCsvField(kShopColumns[i++].field ? textOf(v, f) : memberId(textOf(v, f)));
        }
        return line;
    }
    const RatingFields& f = ratingFields();
    for (const Field* each : {&f.pj, &f.pjName, &f.buyer, &f.jg, &f.pjsj, &f.itemTitle, &f.pjInfo, &f.pjjs}) {
        line += cleanCsvField(textOf(v, *each));
        line += u',';
    }
    line += snapshotLink(snapHost, v.value(f.trade.index), v.value(f.itemId.index));
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
    const QVariantList& v = r.values();
    QList<Cell> cells;
    if (r.kind() == Kind::Shops) {
        int i = 0;
        for (const Field& f : shopFields())
            cells.append({kShopColumns[i++].field ? textOf(v, f) : memberId(textOf(v, f)), std::nullopt});
        return cells;
    }
    const RatingFields& f = ratingFields();
    cells.append({textOf(v, f.pj), std::nullopt});
    cells.append({textOf(v, f.pjName), std::nullopt});
    cells.append({buyerMark(r), std::nullopt});
    const QVariant price = v.value(f.jg.index);
    cells.append({QString(), price.isNull() ? std::nullopt : std::optional<double>(price.toDouble())});
    cells.append({textOf(v, f.pjsj), std::nullopt});
    cells.append({textOf(v, f.itemTitle), std::nullopt});
    cells.append({textOf(v, f.pjInfo), std::nullopt});
    cells.append({textOf(v, f.pjjs), std::nullopt});
    cells.append({snapshotLink(snapHost, v.value(f.trade.index), v.value(f.itemId.index)), std::nullopt});
    return cells;
}

} // namespace exportlayout
