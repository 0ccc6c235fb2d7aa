#include "browser/ExportLayout.h"

#include "store/Schema.h"
#include "store/TField.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <QHash>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

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

// The column headers of a spreadsheet or of a CSV file, which name a few columns differently.
QStringList headers(Kind kind, bool sheet)
{
    QStringList out;
    if (kind == Kind::Shops) {
        for (const ShopColumn& c : kShopColumns)
            out << s(sheet ? c.sheetHeader : c.csvHeader);
    } else {
        for (const char16_t* h : sheet ? kRatingSheetHeaders : kRatingCsvHeaders)
            out << s(h);
    }
    return out;
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
    return headers(kind, false).join(u',');
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
    return headers(kind, true);
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

void appendSheetText(std::string& out, std::string_view utf8)
{
    // Spreadsheet programs read "_xHHHH_" in a cell's text as the character HHHH: a literal
    // "_x" before four hex digits is written as the escaped underscore "_x005F" and its "_x".
    size_t from = 0;
    for (size_t at = utf8.find("_x"); at != std::string_view::npos; at = utf8.find("_x", at + 2)) {
        if (utf8.size() - at < 6 ||
            !std::all_of(utf8.begin() + static_cast<std::ptrdiff_t>(at) + 2,
                         utf8.begin() + static_cast<std::ptrdiff_t>(at) + 6,
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            continue;
        out.append(utf8.substr(from, at - from));
        out += "_x005F";
        from = at;
    }
    out.append(utf8.substr(from));
}

namespace {

size_t codePoints(std::string_view utf8)
{
    return static_cast<size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The length of the first n code points of utf8.
size_t prefixOf(std::string_view utf8, size_t n)
{
    size_t at = 0;
    for (size_t seen = 0; at < utf8.size(); ++at)
        if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80 && seen++ == n)
            break;
    return at;
}

} // namespace

void SheetRowUtf8::addText(std::string_view utf8)
{
    const size_t start = texts.size();
    appendSheetText(texts, utf8);
    // The escapes count against a cell's characters: a full cell gives up characters at its end.
    for (size_t total; texts.size() - start > utf8.size() &&
                       (total = codePoints(std::string_view(texts).substr(start))) > size_t(kMaxCellText);) {
        utf8 = utf8.substr(0, prefixOf(utf8, codePoints(utf8) - (total - kMaxCellText)));
        texts.resize(start);
        appendSheetText(texts, utf8);
    }
    cells.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(texts.size() - start), false, 0});
    texts += '\0';
}

void toSheetRowUtf8(const QList<Cell>& cells, SheetRowUtf8& out)
{
    out.clear();
    for (const Cell& cell : cells) {
        if (cell.number) {
            out.addNumber(*cell.number);
        } else {
            const QByteArray utf8 = cell.text.left(kMaxCellText).toUtf8();
            out.addText(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
        }
    }
}

void appendNumber15(std::string& out, double v)
{
    // A value whose shortest form has at most 15 digits is that form rounded to 15 digits, so
    // printf's %.15g gives it, as Qt's 'g' format does; at more digits the two may round a tie
    // differently, and Qt writes a negative zero without its sign.
    char buffer[40];
    const auto shortest = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific);
    int digits = 0;
    for (const char* c = buffer; shortest.ec == std::errc() && c < shortest.ptr && *c != 'e'; ++c)
        digits += *c >= '0' && *c <= '9';
    if (v != 0 && std::isfinite(v) && shortest.ec == std::errc() && digits <= 15) {
        const auto [end, ec] =
            std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
        if (ec == std::errc()) {
            out.append(buffer, static_cast<size_t>(end - buffer));
            return;
        }
    }
    out += QString::number(v, 'g', 15).toStdString();
}

int utf8Sequence(const unsigned char* p, const unsigned char* end, char32_t* cp)
{
    const unsigned char b = *p;
    const int n = b >= 0xF8 ? 0 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || end - p < n)
        return 0;
    char32_t c = b & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[k] & 0x3F);
    }
    if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)))
        return 0;
    *cp = c;
    return n;
}

namespace {

// Whether QString::fromUtf8() would keep every byte: no invalid, overlong or surrogate
// sequence that would become a replacement character.
bool validUtf8(std::string_view t)
{
    const auto* p = reinterpret_cast<const unsigned char*>(t.data());
    const auto* end = p + t.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        char32_t cp = 0;
        const int n = utf8Sequence(p, end, &cp);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A text cell as textOf() and the cut would give it: the text itself, or nothing for NULL.
// QString::fromUtf8() drops a byte order mark at the start, and so does this.
bool rawText(const RawValue& v, SheetRowUtf8& out)
{
    if (v.type == RawValue::Type::Null) {
        out.addText({});
        return true;
    }
    // In UTF-8 a text never has fewer bytes than UTF-16 units: one this short needs no cut.
    if (v.type != RawValue::Type::Text || v.text.size() > static_cast<size_t>(kMaxCellText) ||
        !validUtf8(v.text))
        return false;
    out.addText(v.text.substr(v.text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0));
    return true;
}

bool visibleAscii(char c)
{
    return c > 0x20 && c < 0x7F;
}

// A stored time in its display form: the hour without its leading zero; keepBlank false drops
// the blank between date and hour as the CSV cleaning does. False for a text not in the
// stored form.
bool displayTime(std::string_view t, bool keepBlank, std::string& out)
{
    static constexpr char kShape[] = "0000-00-00 00:00:00";
    if (t.size() != 19)
        return false;
    for (size_t i = 0; i < 19; ++i)
        if (kShape[i] == '0' ? (t[i] < '0' || t[i] > '9') : t[i] != kShape[i])
            return false;
    for (size_t i = 0; i < 19; ++i)
        if ((i != 10 || keepBlank) && (i != 11 || t[11] != '0'))
            out += t[i];
    return true;
}

// The snapshot link of a rating, or false when it needs the general way: a text the link would
// not keep as it is, or a link that trimming or the cut would change.
bool rawLink(const RawValue& trade, const RawValue& item, std::string_view snapHostUtf8, std::string& link)
{
    if (trade.type != RawValue::Type::Text ||
        (item.type != RawValue::Type::Text && item.type != RawValue::Type::Null) ||
        trade.text.starts_with(kByteOrderMark) || item.text.starts_with(kByteOrderMark))
        return false;
    static constexpr std::string_view kPath = "/auction/snap_detail.htm?trade_id=";
    static constexpr std::string_view kItem = "&auction_id=";
    link.assign(snapHostUtf8);
    link.append(kPath);
    link.append(trade.text);
    link.append(kItem);
    if (item.type == RawValue::Type::Text)
        link.append(item.text);
    // Only a link that starts and ends with a visible ASCII character and is short enough
    // is sure to need neither trimming nor the cut.
    return link.size() <= static_cast<size_t>(kMaxCellText) && visibleAscii(link.front()) &&
           visibleAscii(link.back()) && validUtf8(link);
}

const std::string& noLinkUtf8()
{
    static const std::string noLink = QString::fromUtf16(kNoLink).toStdString();
    return noLink;
}

// QChar::isSpace() of ASCII, and of the rest without its table lookup for the characters
// that are never white space (no separator lies above U+3000, none between U+00A0 and
// U+1680): most Chinese text never reaches the table.
bool asciiSpace(unsigned char b)
{
    return b == ' ' || (b >= '\t' && b <= '\r');
}
bool wideSpace(char32_t cp)
{
    if (cp < 0x1680)
        return cp == 0x85 || cp == 0xA0;
    return cp <= 0x3000 && QChar::isSpace(cp);
}

// cleanCsvField() of a stored text, on its UTF-8: every "," becomes "、", every white-space
// character goes; false for a value that is not a text or not valid UTF-8.
bool cleanRawText(const RawValue& v, std::string& out)
{
    if (v.type == RawValue::Type::Null)
        return true;
    if (v.type != RawValue::Type::Text)
        return false;
    // QString::fromUtf8() drops a byte order mark at the start.
    const std::string_view t = v.text.substr(v.text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0);
    const auto* p = reinterpret_cast<const unsigned char*>(t.data());
    const auto* end = p + t.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            // A run of ASCII that stays as it is, in one append.
            const auto* run = p;
            while (p < end && *p < 0x80 && *p != ',' && !asciiSpace(*p))
                ++p;
            if (p > run) {
                out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
                continue;
            }
            if (b == ',')
                out += "\xE3\x80\x81"; // 、
            ++p;
            continue;
        }
        char32_t cp = 0;
        const int n = utf8Sequence(p, end, &cp);
        if (n == 0)
            return false;
        if (!wideSpace(cp))
            out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
        p += n;
    }
    return true;
}

bool ratingColumnsIn(size_t count)
{
    const RatingFields& f = ratingFields();
    for (const Field* each :
         {&f.pj, &f.pjName, &f.buyer, &f.jg, &f.pjsj, &f.itemTitle, &f.pjInfo, &f.pjjs, &f.trade, &f.itemId})
        if (each->index < 0 || static_cast<size_t>(each->index) >= count)
            return false;
    return true;
}

} // namespace

bool ratingSheetRowUtf8(const RawValue* values, size_t count, std::string_view snapHostUtf8,
                        SheetRowUtf8& out)
{
    out.clear();
    if (!ratingColumnsIn(count))
        return false;
    const RatingFields& f = ratingFields();
    if (!rawText(values[f.pj.index], out) || !rawText(values[f.pjName.index], out))
        return false;

    const RawValue& buyer = values[f.buyer.index];
    if (buyer.type == RawValue::Type::Integer)
        out.addText(buyer.integer != 0 ? "(买家)" : "(卖家)");
    else if (buyer.type == RawValue::Type::Null)
        out.addText("(卖家)");
    else
        return false;

    const RawValue& price = values[f.jg.index];
    if (price.type == RawValue::Type::Float)
        out.addNumber(price.real);
    else if (price.type == RawValue::Type::Integer)
        out.addNumber(static_cast<double>(price.integer));
    else if (price.type == RawValue::Type::Null)
        out.addText({});
    else
        return false;

    const RawValue& when = values[f.pjsj.index];
    if (when.type == RawValue::Type::Text) {
        out.link.clear();
        if (!displayTime(when.text, true, out.link))
            return false;
        out.addText(out.link);
    } else if (when.type == RawValue::Type::Null) {
        out.addText({});
    } else {
        return false;
    }

    if (!rawText(values[f.itemTitle.index], out) || !rawText(values[f.pjInfo.index], out) ||
        !rawText(values[f.pjjs.index], out))
        return false;

    const RawValue& trade = values[f.trade.index];
    if (trade.type == RawValue::Type::Null) {
        out.addText(noLinkUtf8());
        return true;
    }
    if (!rawLink(trade, values[f.itemId.index], snapHostUtf8, out.link))
        return false;
    out.addText(out.link);
    return true;
}

bool ratingCsvLineUtf8(const RawValue* values, size_t count, std::string_view snapHostUtf8, std::string& line)
{
    line.clear();
    if (!ratingColumnsIn(count))
        return false;
    const RatingFields& f = ratingFields();
    for (const Field* each : {&f.pj, &f.pjName}) {
        if (!cleanRawText(values[each->index], line))
            return false;
        line += ',';
    }
    const RawValue& buyer = values[f.buyer.index];
    if (buyer.type == RawValue::Type::Integer)
        line += buyer.integer != 0 ? "True" : "False";
    else if (buyer.type != RawValue::Type::Null)
        return false;
    line += ',';
    const RawValue& price = values[f.jg.index];
    if (price.type == RawValue::Type::Float)
        appendNumber15(line, price.real);
    else if (price.type != RawValue::Type::Null)
        return false;
    line += ',';
    const RawValue& when = values[f.pjsj.index];
    if (when.type == RawValue::Type::Text) {
        if (!displayTime(when.text, false, line))
            return false;
    } else if (when.type != RawValue::Type::Null) {
        return false;
    }
    line += ',';
    for (const Field* each : {&f.itemTitle, &f.pjInfo, &f.pjjs}) {
        if (!cleanRawText(values[each->index], line))
            return false;
        line += ',';
    }
    const RawValue& trade = values[f.trade.index];
    if (trade.type == RawValue::Type::Null) {
        line += noLinkUtf8();
        return true;
    }
    thread_local std::string link;
    if (!rawLink(trade, values[f.itemId.index], snapHostUtf8, link))
        return false;
    line += link;
    return true;
}

} // namespace exportlayout
