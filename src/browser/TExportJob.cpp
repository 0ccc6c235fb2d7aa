#include "browser/TExportJob.h"

#include "store/TConnection.h"
#include "store/TStatement.h"
#include "text/GbkCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <xlsxwriter.h>

namespace {

using exportlayout::Kind;
using exportlayout::Record;

// Where rows come from: the view for shops (as the shop cursor reads them), the table for
// ratings.
QString sourceOf(Kind kind)
{
    return kind == Kind::Shops ? QStringLiteral("dianBaseSort") : QStringLiteral("pjInfo");
}

// Reads the rows of the ids one by one, in their order.
class RowReader
{
public:
    bool open(const TExportJob::Request& request, QString* error)
    {
        if (!m_connection.open(request.databasePath)) {
            *error = m_connection.error();
            return false;
        }
        // Each row is read once: a large page cache or a mapping of the whole file would only
        // hold memory the export never uses again.
        if (!m_connection.exec(QStringLiteral("PRAGMA mmap_size=0; PRAGMA cache_size=-4096"))) {
            *error = m_connection.error();
            return false;
        }
        m_kind = request.kind;
        const QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE id = ?")
                                .arg(exportlayout::recordColumns(m_kind).join(u','), sourceOf(m_kind));
        if (!m_statement.prepare(m_connection.handle(), sql)) {
            *error = m_statement.error();
            return false;
        }
        // One read snapshot for the whole export: the rows agree with each other, and the
        // engine takes its locks once instead of once per row.
        if (!m_connection.exec(QStringLiteral("BEGIN"))) {
            *error = m_connection.error();
            return false;
        }
        m_columns = m_statement.columnCount();
        return true;
    }

    // Nothing when the row is gone; error set when the engine failed.
    std::optional<Record> read(qlonglong id, QString* error)
    {
        if (!m_statement.bindList({id})) {
            *error = m_statement.error();
            return std::nullopt;
        }
        if (!m_statement.step()) {
            *error = m_statement.error();
            return std::nullopt;
        }
        QVariantList values;
        values.reserve(m_columns);
        for (int c = 0; c < m_columns; ++c)
            values << m_statement.column(c);
        return Record(m_kind, std::move(values));
    }

    ~RowReader()
    {
        m_statement.finalize();
        if (m_connection.inTransaction())
            m_connection.rollback();
    }

private:
    TConnection m_connection;
    TStatement m_statement;
    Kind m_kind = Kind::Shops;
    int m_columns = 0;
};

// Writes the rows; commit() puts the file in place.
class Writer
{
public:
    virtual ~Writer() = default;
    virtual bool open(const QString& target, QString* error) = 0;
    virtual bool write(const Record& record, QString* error) = 0;
    virtual bool commit(QString* error) = 0;
};

class CsvWriter : public Writer
{
public:
    CsvWriter(Kind kind, QString snapHost) : m_kind(kind), m_snapHost(std::move(snapHost)) {}

    bool open(const QString& target, QString* error) override
    {
        m_file.setFileName(target);
        if (!m_file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), m_file.errorString());
            return false;
        }
        m_chunk = exportlayout::csvHeader(m_kind) + QStringLiteral("\r\n");
        return true;
    }

    bool write(const Record& record, QString* error) override
    {
        m_chunk += exportlayout::csvLine(record, m_snapHost);
        m_chunk += QStringLiteral("\r\n");
        // Converted and written in pieces: one conversion per line costs more than the rest.
        return m_chunk.size() < kChunk || flush(error);
    }

    bool commit(QString* error) override
    {
        if (!flush(error))
            return false;
        if (!m_file.commit()) {
            *error = m_file.errorString();
            return false;
        }
        return true;
    }

private:
    static constexpr qsizetype kChunk = 256 * 1024;

    bool flush(QString* error)
    {
        if (m_chunk.isEmpty())
            return true;
        const std::string bytes = gbk::fromQString(m_chunk);
        m_chunk.clear();
        if (m_file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size())) {
            *error = m_file.errorString();
            return false;
        }
        return true;
    }

    Kind m_kind;
    QString m_snapHost;
    QSaveFile m_file;
    QString m_chunk;
};

QString xlsxError(lxw_error e)
{
    return QStringLiteral("Spreadsheet file: %1").arg(QString::fromUtf8(lxw_strerror(e)));
}

class XlsxWriter : public Writer
{
public:
    XlsxWriter(Kind kind, QString snapHost) : m_kind(kind), m_snapHost(std::move(snapHost)) {}
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
        m_sheet = workbook_add_worksheet(m_book, nullptr);
        const QStringList headers = exportlayout::sheetHeaders(m_kind);
        for (int c = 0; c < headers.size(); ++c)
            if (!put(0, c, {headers[c], std::nullopt}, error))
                return false;
        return true;
    }

    bool write(const Record& record, QString* error) override
    {
        ++m_row;
        const QList<exportlayout::Cell> cells = exportlayout::sheetRow(record, m_snapHost);
        for (int c = 0; c < cells.size(); ++c)
            if (!put(m_row, c, cells[c], error))
                return false;
        return true;
    }

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
    // Texts are always written as strings: a value beginning with "=" never becomes a formula.
    bool put(int row, int column, const exportlayout::Cell& cell, QString* error)
    {
        lxw_error e = LXW_NO_ERROR;
        if (cell.number) {
            e = worksheet_write_number(m_sheet, row, static_cast<lxw_col_t>(column), *cell.number, nullptr);
        } else if (!cell.text.isEmpty()) {
            const QByteArray utf8 = cell.text.left(TExportJob::kMaxCellText).toUtf8();
            e = worksheet_write_string(m_sheet, row, static_cast<lxw_col_t>(column), utf8.constData(),
                                       nullptr);
        }
        if (e != LXW_NO_ERROR) {
            *error = xlsxError(e);
            return false;
        }
        return true;
    }

    Kind m_kind;
    QString m_snapHost;
    QString m_target;
    QString m_temp;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_row_t m_row = 0;
};

} // namespace

QString TExportJob::blockedTarget(const QString& target)
{
    QFile file(target);
    if (!file.exists() || file.open(QIODevice::ReadOnly))
        return QString();
    return target + QStringLiteral("文件可能已被打开或损坏，重新选择或关闭文件！");
}

TExportJob::Result TExportJob::run(const Request& request, const Progress& progress,
                                   const std::atomic<bool>* cancel)
{
    Result result;
    RowReader reader;
    if (!reader.open(request, &result.error))
        return result;
    std::unique_ptr<Writer> writer;
    if (request.format == Format::Csv)
        writer = std::make_unique<CsvWriter>(request.kind, request.snapHost);
    else
        writer = std::make_unique<XlsxWriter>(request.kind, request.snapHost);
    if (!writer->open(request.target, &result.error))
        return result;

    const qint64 total = static_cast<qint64>(request.ids.size());
    // About two hundred progress reports whatever the size.
    const qint64 every = std::max<qint64>(1, total / 200);
    if (progress)
        progress(0, total);
    qint64 done = 0;
    for (qlonglong id : request.ids) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            result.error = QStringLiteral("The export was cancelled.");
            return result;
        }
        std::optional<Record> record = reader.read(id, &result.error);
        if (!result.error.isEmpty())
            return result;
        if (record) {
            if (!writer->write(*record, &result.error))
                return result;
            ++result.rows;
        }
        if (++done % every == 0 && progress)
            progress(done, total);
    }
    if (!writer->commit(&result.error))
        return result;
    if (progress)
        progress(total, total);
    result.ok = true;
    return result;
}
