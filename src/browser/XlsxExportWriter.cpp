#include "browser/XlsxExportWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <vector>
#include <xlsxwriter.h>

namespace {

using exportlayout::Kind;
using exportlayout::Record;

// "file: reason", the system's reason when there is one.
QString failure(const QString& target, int code, const char* otherwise = nullptr)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target),
                                        code != 0 || !otherwise ? QString::fromLocal8Bit(std::strerror(code))
                                                                : QString::fromUtf8(otherwise));
}

// The worksheet file a sheet's rows become at the end holds them all and a little more.
constexpr qint64 kSheetPartExtra = 256;

// Whether a file of bytes can still be written beside target: the process' file size limit
// and the free room of the folder; false with the system's reason otherwise. The worksheet
// files written at the end are the library's, unchecked: one that cannot be whole must not be
// started.
bool roomFor(const QString& target, qint64 bytes, QString* error)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(bytes) > limit.rlim_cur) {
        *error = failure(target, EFBIG);
        return false;
    }
    struct statvfs room
    {
    };
    if (statvfs(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), &room) == 0 &&
        static_cast<unsigned long long>(room.f_bavail) * room.f_frsize <
            static_cast<unsigned long long>(bytes)) {
        *error = failure(target, ENOSPC);
        return false;
    }
    return true;
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
        // The library's temporary files beside the target too: its file system is the one that
        // must hold the rows, and a full one shows while they are written.
        m_tmpdir = QFile::encodeName(QFileInfo(target).absolutePath());
        options.tmpdir = m_tmpdir.data();
        const QByteArray name = QFile::encodeName(m_temp);
        m_book = workbook_new_opt(name.constData(), &options);
        if (!m_book) {
            QFile::remove(m_temp);
            *error = failure(target, 0, "cannot create the spreadsheet file");
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
    bool prepareRaw(const exportlayout::RawValue* values, size_t count, TExportPrepared& out) const override
    {
        return m_kind == Kind::Ratings &&
               exportlayout::ratingSheetRowUtf8(values, count, m_snapHostUtf8, out.sheet);
    }

    bool write(const TExportPrepared& row, QString* error) override
    {
        // A sheet holds a limited number of rows: the rest go on in the next one, under the
        // same header row.
        if (m_row >= m_sheetRows && !addSheet(error))
            return false;
        ++m_row;
        const exportlayout::SheetRowUtf8& sheet = row.sheet;
        // The library does not check its writes to the sheet's temporary file: its error flag
        // tells, and errno is the failed write's.
        errno = 0;
        for (size_t c = 0; c < sheet.cells.size(); ++c)
            if (!put(m_row, static_cast<int>(c), sheet, sheet.cells[c], error))
                return false;
        if (ferror_unlocked(m_sheet->optimize_tmpfile)) {
            *error = failure(m_target, errno, "cannot write the temporary file");
            return false;
        }
        return true;
    }

    int sheets() const override { return m_sheets; }

    bool commit(QString* error) override
    {
        // Every sheet's last row written and its rows on disk, before the workbook is put
        // together from them.
        qint64 largest = 0;
        for (lxw_worksheet* sheet : m_sheetList) {
            errno = 0;
            lxw_worksheet_write_single_row(sheet);
            if (fflush(sheet->optimize_tmpfile) != 0 || ferror(sheet->optimize_tmpfile)) {
                *error = failure(m_target, errno, "cannot write the temporary file");
                return false;
            }
            largest = std::max<qint64>(largest, ftello(sheet->optimize_tmpfile));
        }
        if (!roomFor(m_target, largest + kSheetPartExtra, error))
            return false;
        lxw_workbook* book = m_book;
        m_book = nullptr;
        errno = 0;
        const lxw_error e = workbook_close(book);
        if (e != LXW_NO_ERROR) {
            *error = failure(m_target, errno, lxw_strerror(e));
            QFile::remove(m_temp);
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
    static constexpr size_t kSheetBuffer = 256 * 1024;

    bool addSheet(QString* error)
    {
        errno = 0;
        m_sheet = workbook_add_worksheet(m_book, nullptr);
        if (!m_sheet) {
            *error = failure(m_target, errno, "cannot add a worksheet");
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
        m_sheetList.push_back(m_sheet);
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
            *error = failure(m_target, 0, lxw_strerror(e));
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
    std::vector<lxw_worksheet*> m_sheetList;
    QByteArray m_tmpdir; // the library's temporary folder, kept while the workbook lives
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
