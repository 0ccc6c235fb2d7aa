#include "browser/XlsxExportWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <vector>
#include <xlsxwriter.h>

namespace {

using exportlayout::Kind;
using exportlayout::Record;

QString xlsxError(lxw_error e)
{
    return QStringLiteral("Spreadsheet file: %1").arg(QString::fromUtf8(lxw_strerror(e)));
}

class XlsxWriter : public TExportWriter
{
public:
    XlsxWriter(Kind kind, QString snapHost, qint64 sheetRows)
        : m_kind(kind), m_snapHost(std::move(snapHost)), m_snapHostUtf8(m_snapHost.toStdString()),
          m_sheetRows(std::max<qint64>(1, sheetRows))
    {
    }
    ~XlsxWriter() override
    {
        // An unfinished workbook is dropped with its temporary file.
        if (m_book) {
            lxw_workbook_free(m_book);
            QFile::remove(m_temp);
        }
    }

    bool open(const QString& target, QString* error) override
    {
        m_target = target;
        // A unique name beside the target, so the final rename stays on one file system.
        QTemporaryFile probe(QFileInfo(target).absolutePath() + QStringLiteral("/.kestrova-XXXXXX.xlsx"));
        if (!probe.open()) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), probe.errorString());
            return false;
        }
        probe.setAutoRemove(false);
        m_temp = probe.fileName();
        probe.close();
        // The finished file gets the old file's permissions, or the usual ones of a new file.
        QFile::setPermissions(m_temp, QFile::exists(target) ? QFile::permissions(target)
                                                            : QFile::ReadOwner | QFile::WriteOwner |
                                                                  QFile::ReadGroup | QFile::ReadOther);
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE; // rows go to disk as they are written
        const QByteArray name = QFile::encodeName(m_temp);
        m_book = workbook_new_opt(name.constData(), &options);
        if (!m_book) {
            QFile::remove(m_temp);
            *error = QStringLiteral("Cannot create the spreadsheet file %1.").arg(target);
            return false;
        }
        return addSheet(error);
    }

    void prepare(const Record& record, TExportPrepared& out) const override
    {
        exportlayout::toSheetRowUtf8(exportlayout::sheetRow(record, m_snapHost), out.sheet);
    }

    // sheetRow() of a rating on the stored UTF-8 itself: several times cheaper than the
    // general way, whose QVariants and UTF-16 texts cost more than the spreadsheet library's
    // own work on the row.
    bool prepareRaw(sqlite3_stmt* st, TExportPrepared& out) const override
    {
        if (m_kind != Kind::Ratings)
            return false;
        // Statement columns: the id first, then the record's.
        const int columns = sqlite3_column_count(st) - 1;
        if (columns <= 0 || columns > kMaxColumns)
            return false;
        exportlayout::RawValue values[kMaxColumns];
        for (int c = 0; c < columns; ++c) {
            exportlayout::RawValue& v = values[c];
            switch (sqlite3_column_type(st, c + 1)) {
            case SQLITE_NULL:
                break;
            case SQLITE_INTEGER:
                v.type = exportlayout::RawValue::Type::Integer;
                v.integer = sqlite3_column_int64(st, c + 1);
                break;
            case SQLITE_FLOAT:
                v.type = exportlayout::RawValue::Type::Float;
                v.real = sqlite3_column_double(st, c + 1);
                break;
            case SQLITE_TEXT: {
                v.type = exportlayout::RawValue::Type::Text;
                const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c + 1));
                v.text = std::string_view(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, c + 1)));
                break;
            }
            default:
                v.type = exportlayout::RawValue::Type::Other;
                break;
            }
        }
        return exportlayout::ratingSheetRowUtf8(values, static_cast<size_t>(columns), m_snapHostUtf8,
                                                out.sheet);
    }

    bool write(const TExportPrepared& row, QString* error) override
    {
        // A sheet holds a limited number of rows: the rest go on in the next one, under the
        // same header row.
        if (m_row >= m_sheetRows && !addSheet(error))
            return false;
        ++m_row;
        const exportlayout::SheetRowUtf8& sheet = row.sheet;
        for (size_t c = 0; c < sheet.cells.size(); ++c)
            if (!put(m_row, static_cast<int>(c), sheet, sheet.cells[c], error))
                return false;
        return true;
    }

    int sheets() const override { return m_sheets; }

    bool commit(QString* error) override
    {
        lxw_workbook* book = m_book;
        m_book = nullptr;
        const lxw_error e = workbook_close(book);
        if (e != LXW_NO_ERROR) {
            QFile::remove(m_temp);
            *error = xlsxError(e);
            return false;
        }
        // rename() replaces the old file in one step.
        if (std::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_target).constData()) !=
            0) {
            *error = QStringLiteral("%1: %2").arg(m_target, QString::fromLocal8Bit(std::strerror(errno)));
            QFile::remove(m_temp);
            return false;
        }
        return true;
    }

private:
    // Record columns a rating row may carry, for the values' room on the stack.
    static constexpr int kMaxColumns = 32;
    static constexpr size_t kSheetBuffer = 256 * 1024;

    bool addSheet(QString* error)
    {
        m_sheet = workbook_add_worksheet(m_book, nullptr);
        if (!m_sheet) {
            *error = QStringLiteral("Cannot add a worksheet to the spreadsheet file %1.").arg(m_target);
            return false;
        }
        // The rows go to a temporary file in constant-memory mode, through the C library's
        // default buffer of a few KB: a larger one saves a system call every few rows, about a
        // tenth of the library's time. Set before the first row reaches the file; the buffer
        // lives as long as the workbook.
        if (m_sheet->optimize_tmpfile) {
            m_buffers.push_back(std::make_unique<char[]>(kSheetBuffer));
            if (setvbuf(m_sheet->optimize_tmpfile, m_buffers.back().get(), _IOFBF, kSheetBuffer) != 0)
                m_buffers.pop_back();
        }
        ++m_sheets;
        m_row = 0;
        QList<exportlayout::Cell> headers;
        for (const QString& h : exportlayout::sheetHeaders(m_kind))
            headers.append({h, std::nullopt});
        exportlayout::SheetRowUtf8 row;
        exportlayout::toSheetRowUtf8(headers, row);
        for (size_t c = 0; c < row.cells.size(); ++c)
            if (!put(0, static_cast<int>(c), row, row.cells[c], error))
                return false;
        return true;
    }

    // Texts are always written as strings: a value beginning with "=" never becomes a formula.
    bool put(qint64 row, int column, const exportlayout::SheetRowUtf8& cells,
             const exportlayout::SheetRowUtf8::Cell& cell, QString* error)
    {
        lxw_error e = LXW_NO_ERROR;
        const auto r = static_cast<lxw_row_t>(row);
        if (cell.isNumber)
            e = worksheet_write_number(m_sheet, r, static_cast<lxw_col_t>(column), cell.number, nullptr);
        else if (cell.size > 0)
            e = worksheet_write_string(m_sheet, r, static_cast<lxw_col_t>(column), cells.text(cell), nullptr);
        if (e != LXW_NO_ERROR) {
            *error = xlsxError(e);
            return false;
        }
        return true;
    }

    Kind m_kind;
    QString m_snapHost;
    std::string m_snapHostUtf8;
    QString m_target;
    QString m_temp;
    // The temporary files' buffers, freed with the writer, after the workbook closed its files.
    std::vector<std::unique_ptr<char[]>> m_buffers;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    qint64 m_sheetRows;
    qint64 m_row = 0; // the last row written on the current sheet; 0 is the header row
    int m_sheets = 0;
};

} // namespace

std::unique_ptr<TExportWriter> newXlsxExportWriter(exportlayout::Kind kind, const QString& snapHost,
                                                   qint64 sheetRows)
{
    return std::make_unique<XlsxWriter>(kind, snapHost, sheetRows);
}
