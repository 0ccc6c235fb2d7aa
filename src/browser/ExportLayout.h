#pragma once

#include "store/TRawValue.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The largest text a spreadsheet cell holds, in UTF-16 units; longer texts are cut.
inline constexpr int kMaxCellText = 32767;

// One row's cells as the spreadsheet library takes them: every text in UTF-8, cut to
// kMaxCellText and ended by a NUL, all in one buffer, so a row costs no allocation per cell.
struct SheetRowUtf8
{
    struct Cell
    {
        uint32_t offset = 0; // of the text in texts
        uint32_t size = 0;   // 0 and no number: an empty cell, nothing is written
        bool isNumber = false;
        double number = 0;
    };
    std::string texts;
    std::vector<Cell> cells;
    std::string link; // room to build a text in, kept for its capacity

    void clear()
    {
        texts.clear();
        cells.clear();
    }
    void addText(std::string_view utf8); // escaped by appendSheetText()
    void addNumber(double value) { cells.push_back({0, 0, true, value}); }
    const char* text(const Cell& cell) const { return texts.data() + cell.offset; }
};

// Appends a cell's text as the sheet must hold it to read back as typed: a literal "_x" before
// four hex digits escaped as "_x005F_x".
void appendSheetText(std::string& out, std::string_view utf8);

// sheetRow()'s cells in that form.
void toSheetRowUtf8(const QList<Cell>& cells, SheetRowUtf8& out);

// One stored value as the engine hands it over, before it becomes a QVariant.
using RawValue = TRawValue;

// toSheetRowUtf8(sheetRow()) of a rating on its stored values (in recordColumns() order),
// without QVariant or UTF-16: for texts held as valid UTF-8 texts short enough to need no cut,
// a price as a number, a time in the stored form and a boolean as an integer. False (out
// unspecified) for a row that needs the general way.
bool ratingSheetRowUtf8(const RawValue* values, size_t count, std::string_view snapHostUtf8,
                        SheetRowUtf8& out);

// csvLine() of a rating on its stored values in the same way, in UTF-8 and without its line
// end; false (out unspecified) for a row that needs the general way.
bool ratingCsvLineUtf8(const RawValue* values, size_t count, std::string_view snapHostUtf8, std::string& out);

// The length of the well-formed UTF-8 sequence of the non-ASCII lead byte at p (before end),
// with its code point in *cp; 0 for bytes QString::fromUtf8() would not keep (invalid,
// overlong, surrogate, beyond U+10FFFF).
int utf8Sequence(const unsigned char* p, const unsigned char* end, char32_t* cp);

// Appends QString::number(v, 'g', 15) as UTF-8, without a QString.
void appendNumber15(std::string& out, double v);

} // namespace exportlayout
