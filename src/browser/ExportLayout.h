#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

// What the copies and the exports write for one shop or one rating: the columns in order,
// their labels and headers, and the derived values (member id, snapshot link, CSV cleaning).
// A record is one row's values in the stored column order of its table. Thread-safe.
namespace exportlayout {

enum class Kind
{
    Shops,
    Ratings,
};

// The columns a record of each kind carries, in order (the tables' stored order).
const QStringList& recordColumns(Kind kind);

// One row's values, read by column name as the grids show them.
class Record
{
public:
    Record(Kind kind, QVariantList values) : m_kind(kind), m_values(std::move(values)) {}

    Kind kind() const { return m_kind; }
    const QVariantList& values() const { return m_values; }
    const QVariant& raw(const char* column) const;
    // The display text: date-times in the display format, prices with up to 15 digits,
    // booleans True or False, NULL as an empty text.
    QString text(const char* column) const;

private:
    Kind m_kind;
    QVariantList m_values;
};

// Text put in place of a snapshot link when the rating has no trade number.
inline constexpr char16_t kNoLink[] = u"无法链接商品";

// The digits of a shop address in their order (every run of non-digits removed).
QString memberId(const QString& webaddr);
// snapHost + "/auction/snap_detail.htm?trade_id=" + trade + "&auction_id=" + item, trimmed;
// kNoLink when trade is NULL.
QString snapshotLink(const QString& snapHost, const QVariant& tradeId, const QVariant& itemId);
QString snapshotLink(const QString& snapHost, const Record& rating);
// Every "," becomes "、" and every white-space character goes.
QString cleanCsvField(const QString& value);

// The clipboard texts; every line ends with a carriage return alone.
QString shopCopy(const Record& shop);
QString ratingCopy(const Record& rating, const QString& snapHost);

// The CSV header line and one CSV line, both without their line end.
QString csvHeader(Kind kind);
QString csvLine(const Record& record, const QString& snapHost);

// One spreadsheet cell: a text, or a number when number is set (an empty cell when the text
// is empty and there is no number).
struct Cell
{
    QString text;
    std::optional<double> number;
};
QStringList sheetHeaders(Kind kind);
QList<Cell> sheetRow(const Record& record, const QString& snapHost);

} // namespace exportlayout
