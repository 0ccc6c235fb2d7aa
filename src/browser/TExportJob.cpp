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
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#include <unordered_map>
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

// One row made ready for its file: a CSV line, or a sheet's cells in UTF-8.
struct Prepared
{
    std::string line; // UTF-8, without its line end
    exportlayout::SheetRowUtf8 sheet;
};

// Writes the rows; commit() puts the file in place. prepare() does the work that needs no
// file, and may run on another thread than the rest.
class Writer
{
public:
    virtual ~Writer() = default;
    virtual bool open(const QString& target, QString* error) = 0;
    virtual void prepare(const Record& record, Prepared& out) const = 0;
    // The same straight from the engine's current row, for rows in their usual storage;
    // false sends the row the general way.
    virtual bool prepareRaw(sqlite3_stmt*, Prepared&) const { return false; }
    virtual bool write(const Prepared& row, QString* error) = 0;
    virtual bool commit(QString* error) = 0;
    // Worksheets written; none for a CSV file.
    virtual int sheets() const { return 0; }
};

// Reads the rows of the ids in batches, one statement for many rows, handing them back in
// the ids' order.
class RowReader
{
public:
    // Ids per statement: enough to make the per-statement cost vanish, few enough to keep the
    // batch's rows small.
    static constexpr int kBatch = 256;

    bool open(const TExportJob::Request& request, QString* error)
    {
        if (!m_connection.open(request.databasePath)) {
            *error = m_connection.error();
            return false;
        }
        m_server = m_connection.engine() == TConnection::Engine::Postgres;
        if (!m_connection.tuneFor(TConnection::Use::OnePass)) {
            *error = m_connection.error();
            return false;
        }
        m_kind = request.kind;
        QStringList marks;
        for (int i = 0; i < kBatch; ++i)
            marks << QStringLiteral("?");
        // The id comes first, to put each row back in its place in the batch.
        const QString sql =
            QStringLiteral("SELECT id,%1 FROM %2 WHERE id IN (%3)")
                .arg(exportlayout::recordColumns(m_kind).join(u','), sourceOf(m_kind), marks.join(u','));
        if (m_server) {
            // The same snapshot on the server: every batch sees the rows as they were at the
            // first one.
            if (!m_connection.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"))) {
                *error = m_connection.error();
                return false;
            }
            // A server gone by now fails here, with the statement's message.
            if (!m_serverStatement.prepare(m_connection, sql)) {
                *error = m_serverStatement.error();
                return false;
            }
            m_columns = m_serverStatement.columnCount() - 1;
            return true;
        }
        if (sqlite3_prepare_v2(m_connection.handle(), sql.toUtf8().constData(), -1, &m_statement, nullptr) !=
            SQLITE_OK) {
            *error = m_connection.engineError();
            return false;
        }
        // One read snapshot for the whole export: the rows agree with each other, and the
        // engine takes its locks once instead of once per batch.
        if (!m_connection.exec(QStringLiteral("BEGIN"))) {
            *error = m_connection.error();
            return false;
        }
        m_columns = sqlite3_column_count(m_statement) - 1;
        return true;
    }

    // The rows of ids[from, from + kBatch) that still exist, made ready by the writer, in the
    // ids' order; false with error set when the engine failed.
    bool read(const std::vector<qlonglong>& ids, size_t from, const Writer& writer,
              std::vector<Prepared>& out, QString* error)
    {
        out.clear();
        const size_t count = std::min<size_t>(kBatch, ids.size() - from);
        if (m_server)
            return readServer(ids, from, count, writer, out, error);
        sqlite3_reset(m_statement);
        // Unused places repeat the batch's last id, which the IN list reads once.
        for (size_t i = 0; i < static_cast<size_t>(kBatch); ++i)
            sqlite3_bind_int64(m_statement, static_cast<int>(i) + 1, ids[from + std::min(i, count - 1)]);
        m_found.clear();
        int rc;
        while ((rc = sqlite3_step(m_statement)) == SQLITE_ROW) {
            Prepared row;
            if (!writer.prepareRaw(m_statement, row)) {
                QVariantList values;
                values.reserve(m_columns);
                for (int c = 1; c <= m_columns; ++c)
                    values << columnValue(c);
                writer.prepare(Record(m_kind, std::move(values)), row);
            }
            m_found.emplace(sqlite3_column_int64(m_statement, 0), std::move(row));
        }
        if (rc != SQLITE_DONE) {
            *error = m_connection.engineError();
            return false;
        }
        inOrder(ids, from, count, out);
        return true;
    }

    ~RowReader()
    {
        sqlite3_finalize(m_statement);
        if (m_connection.inTransaction())
            m_connection.rollback();
    }

private:
    void inOrder(const std::vector<qlonglong>& ids, size_t from, size_t count, std::vector<Prepared>& out)
    {
        out.reserve(count);
        for (size_t i = from; i < from + count; ++i) {
            auto it = m_found.find(ids[i]);
            // A row deleted meanwhile is skipped; an id given twice is written twice.
            if (it != m_found.end())
                out.push_back(it->second);
        }
    }

    bool readServer(const std::vector<qlonglong>& ids, size_t from, size_t count, const Writer& writer,
                    std::vector<Prepared>& out, QString* error)
    {
        QVariantList batch;
        batch.reserve(kBatch);
        for (size_t i = 0; i < static_cast<size_t>(kBatch); ++i)
            batch << ids[from + std::min(i, count - 1)];
        if (!m_serverStatement.bindList(batch)) {
            *error = m_serverStatement.error();
            return false;
        }
        m_found.clear();
        while (m_serverStatement.step()) {
            QVariantList values;
            values.reserve(m_columns);
            for (int c = 1; c <= m_columns; ++c)
                values << m_serverStatement.column(c);
            Prepared row;
            writer.prepare(Record(m_kind, std::move(values)), row);
            m_found.emplace(m_serverStatement.column(0).toLongLong(), std::move(row));
        }
        if (!m_serverStatement.error().isEmpty()) {
            *error = m_serverStatement.error();
            return false;
        }
        inOrder(ids, from, count, out);
        return true;
    }

    // The engine's value as the program's statements give it.
    QVariant columnValue(int c) const
    {
        switch (sqlite3_column_type(m_statement, c)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(m_statement, c)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_statement, c));
        case SQLITE_TEXT:
            return QVariant(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, c)),
                                  sqlite3_column_bytes(m_statement, c)));
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, c)),
                                       sqlite3_column_bytes(m_statement, c)));
        default:
            return QVariant();
        }
    }

    TConnection m_connection;
    sqlite3_stmt* m_statement = nullptr;
    bool m_server = false;
    TStatement m_serverStatement; // declared after the connection: given back before it closes
    Kind m_kind = Kind::Shops;
    int m_columns = 0;
    std::unordered_map<qlonglong, Prepared> m_found;
};

class CsvWriter : public Writer
{
public:
    CsvWriter(Kind kind, QString snapHost)
        : m_kind(kind), m_snapHost(std::move(snapHost)), m_snapHostUtf8(m_snapHost.toStdString())
    {
        const QStringList& columns = exportlayout::recordColumns(kind);
        // Statement columns: the id first, then the record's.
        auto at = [&](const char* name) {
            return 1 + static_cast<int>(columns.indexOf(QLatin1String(name)));
        };
        m_pj = at("pj");
        m_pjName = at("pjName");
        m_buyer = at("buyerOrSaler");
        m_jg = at("jg");
        m_pjsj = at("pjsj");
        m_itemTitle = at("itemTitle");
        m_pjInfo = at("pjInfo");
        m_pjjs = at("pjjs");
        m_trade = at("trade_id");
        m_itemId = at("itemId");
    }

    bool open(const QString& target, QString* error) override
    {
        m_file.setFileName(target);
        if (!m_file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), m_file.errorString());
            return false;
        }
        m_chunk = (exportlayout::csvHeader(m_kind) + QStringLiteral("\r\n")).toStdString();
        return true;
    }

    void prepare(const Record& record, Prepared& out) const override
    {
        out.line = exportlayout::csvLine(record, m_snapHost).toStdString();
    }

    // csvLine() of a rating on the stored UTF-8 itself, for texts held as texts, a price as a
    // number, a time in the stored form and a boolean as 0 or 1; anything else (and a link
    // that would need trimming) goes the general way. About twice as fast: the export's text
    // never becomes UTF-16 and back.
    bool prepareRaw(sqlite3_stmt* st, Prepared& out) const override
    {
        if (m_kind != Kind::Ratings)
            return false;
        std::string& line = out.line;
        line.clear();
        for (int c : {m_pj, m_pjName}) {
            if (!cleanText(st, c, line))
                return false;
            line += ',';
        }
        switch (sqlite3_column_type(st, m_buyer)) {
        case SQLITE_NULL:
            break;
        case SQLITE_INTEGER:
            line += sqlite3_column_int64(st, m_buyer) != 0 ? "True" : "False";
            break;
        default:
            return false;
        }
        line += ',';
        switch (sqlite3_column_type(st, m_jg)) {
        case SQLITE_NULL:
            break;
        case SQLITE_FLOAT:
            exportlayout::appendNumber15(line, sqlite3_column_double(st, m_jg));
            break;
        default:
            return false;
        }
        line += ',';
        if (sqlite3_column_type(st, m_pjsj) == SQLITE_TEXT) {
            const std::string_view t = textOf(st, m_pjsj);
            if (!storedForm(t))
                return false;
            // The display form: the hour without its leading zero, the blank removed by the
            // cleaning.
            line.append(t.substr(0, 10));
            line.append(t[11] == '0' ? t.substr(12) : t.substr(11));
        } else if (sqlite3_column_type(st, m_pjsj) != SQLITE_NULL) {
            return false;
        }
        line += ',';
        for (int c : {m_itemTitle, m_pjInfo, m_pjjs}) {
            if (!cleanText(st, c, line))
                return false;
            line += ',';
        }
        const int tradeType = sqlite3_column_type(st, m_trade);
        if (tradeType == SQLITE_NULL) {
            line += QString::fromUtf16(exportlayout::kNoLink).toStdString();
            return true;
        }
        const int itemType = sqlite3_column_type(st, m_itemId);
        if (tradeType != SQLITE_TEXT || (itemType != SQLITE_TEXT && itemType != SQLITE_NULL))
            return false;
        const size_t start = line.size();
        line += m_snapHostUtf8;
        line += "/auction/snap_detail.htm?trade_id=";
        line += textOf(st, m_trade);
        line += "&auction_id=";
        if (itemType == SQLITE_TEXT)
            line += textOf(st, m_itemId);
        // The link is trimmed: only one that starts and ends with a visible ASCII character
        // is sure to need nothing cut.
        const auto first = static_cast<unsigned char>(line[start]);
        const auto last = static_cast<unsigned char>(line.back());
        return first > 0x20 && first < 0x7F && last > 0x20 && last < 0x7F;
    }

    bool write(const Prepared& row, QString* error) override
    {
        m_chunk += row.line;
        m_chunk += "\r\n";
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
    static constexpr size_t kChunk = 512 * 1024;

    static std::string_view textOf(sqlite3_stmt* st, int c)
    {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        return std::string_view(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, c)));
    }

    static bool storedForm(std::string_view t)
    {
        static constexpr char kShape[] = "0000-00-00 00:00:00";
        if (t.size() != 19)
            return false;
        for (size_t i = 0; i < 19; ++i)
            if (kShape[i] == '0' ? (t[i] < '0' || t[i] > '9') : t[i] != kShape[i])
                return false;
        return true;
    }

    // cleanCsvField() on UTF-8: every "," becomes "、", every white-space character goes;
    // false for a value that is not a text or not valid UTF-8.
    static bool cleanText(sqlite3_stmt* st, int c, std::string& out)
    {
        const int type = sqlite3_column_type(st, c);
        if (type == SQLITE_NULL)
            return true;
        if (type != SQLITE_TEXT)
            return false;
        const std::string_view t = textOf(st, c);
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
            const int n = exportlayout::utf8Sequence(p, end, &cp);
            if (n == 0)
                return false;
            if (!wideSpace(cp))
                out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
            p += n;
        }
        return true;
    }

    // QChar::isSpace() of ASCII, and of the rest without its table lookup for the characters
    // that are never white space (no separator lies above U+3000, none between U+00A0 and
    // U+1680): most Chinese text never reaches the table.
    static bool asciiSpace(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }
    static bool wideSpace(char32_t cp)
    {
        if (cp < 0x1680)
            return cp == 0x85 || cp == 0xA0;
        return cp <= 0x3000 && QChar::isSpace(cp);
    }

    bool flush(QString* error)
    {
        if (m_chunk.empty())
            return true;
        const std::string bytes = gbk::fromUtf8(m_chunk);
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
    std::string m_snapHostUtf8;
    int m_pj = 0, m_pjName = 0, m_buyer = 0, m_jg = 0, m_pjsj = 0, m_itemTitle = 0, m_pjInfo = 0, m_pjjs = 0,
        m_trade = 0, m_itemId = 0;
    QSaveFile m_file;
    std::string m_chunk;
};

QString xlsxError(lxw_error e)
{
    return QStringLiteral("Spreadsheet file: %1").arg(QString::fromUtf8(lxw_strerror(e)));
}

class XlsxWriter : public Writer
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

    void prepare(const Record& record, Prepared& out) const override
    {
        exportlayout::toSheetRowUtf8(exportlayout::sheetRow(record, m_snapHost), out.sheet);
    }

    // sheetRow() of a rating on the stored UTF-8 itself: several times cheaper than the
    // general way, whose QVariants and UTF-16 texts cost more than the spreadsheet library's
    // own work on the row.
    bool prepareRaw(sqlite3_stmt* st, Prepared& out) const override
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

    bool write(const Prepared& row, QString* error) override
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

QString TExportJob::blockedTarget(const QString& target)
{
    QFile file(target);
    if (!file.exists() || file.open(QIODevice::ReadOnly))
        return QString();
    return target + QStringLiteral("文件可能已被打开或损坏，重新选择或关闭文件！");
}

namespace {

// Batches handed from the reading thread to the writing one; a bounded few, so memory stays
// flat whatever the number of rows.
struct Pipe
{
    struct Batch
    {
        std::vector<Prepared> rows;
        qint64 done = 0; // ids read once this batch is written
    };
    static constexpr size_t kDepth = 4;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch> batches;
    bool stop = false;     // set by the writer: read no further
    bool finished = false; // set by the reader: nothing more comes
    QString error;         // the reader's failure
};

// Reads and prepares every batch; the reader's connection is used on this thread alone from
// here on.
void produce(RowReader& reader, const Writer& writer, const std::vector<qlonglong>& ids, Pipe& pipe)
{
    QString error;
    for (size_t from = 0; from < ids.size(); from += RowReader::kBatch) {
        {
            std::lock_guard lock(pipe.mutex);
            if (pipe.stop)
                break;
        }
        Pipe::Batch batch;
        if (!reader.read(ids, from, writer, batch.rows, &error))
            break;
        batch.done = static_cast<qint64>(std::min(ids.size(), from + RowReader::kBatch));
        std::unique_lock lock(pipe.mutex);
        pipe.changed.wait(lock, [&] { return pipe.stop || pipe.batches.size() < Pipe::kDepth; });
        if (pipe.stop)
            break;
        pipe.batches.push_back(std::move(batch));
        pipe.changed.notify_all();
    }
    std::lock_guard lock(pipe.mutex);
    pipe.error = error;
    pipe.finished = true;
    pipe.changed.notify_all();
}

} // namespace

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
        writer = std::make_unique<XlsxWriter>(request.kind, request.snapHost, request.sheetRows);
    if (!writer->open(request.target, &result.error))
        return result;

    const qint64 total = static_cast<qint64>(request.ids.size());
    // About two hundred progress reports whatever the size.
    const qint64 every = std::max<qint64>(1, total / 200);
    if (progress)
        progress(0, total);
    // Reading and preparing the rows on one thread while the file is written on this one:
    // the spreadsheet library's own work is most of the time, and goes on meanwhile.
    Pipe pipe;
    std::thread reading([&] { produce(reader, *writer, request.ids, pipe); });
    qint64 reported = 0;
    bool failed = false;
    for (;;) {
        Pipe::Batch batch;
        {
            std::unique_lock lock(pipe.mutex);
            pipe.changed.wait(lock, [&] { return pipe.finished || !pipe.batches.empty(); });
            if (pipe.batches.empty())
                break;
            batch = std::move(pipe.batches.front());
            pipe.batches.pop_front();
            pipe.changed.notify_all();
        }
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            result.error = QStringLiteral("The export was cancelled.");
            failed = true;
            break;
        }
        for (const Prepared& row : batch.rows) {
            if (!writer->write(row, &result.error)) {
                failed = true;
                break;
            }
            ++result.rows;
        }
        if (failed)
            break;
        if (progress && batch.done - reported >= every) {
            reported = batch.done;
            progress(batch.done, total);
        }
    }
    {
        std::lock_guard lock(pipe.mutex);
        pipe.stop = true;
        pipe.changed.notify_all();
    }
    reading.join();
    if (failed)
        return result;
    if (!pipe.error.isEmpty()) {
        result.error = pipe.error;
        return result;
    }
    if (cancel && cancel->load(std::memory_order_relaxed)) {
        result.cancelled = true;
        result.error = QStringLiteral("The export was cancelled.");
        return result;
    }
    if (!writer->commit(&result.error))
        return result;
    result.sheets = writer->sheets();
    if (progress)
        progress(total, total);
    result.ok = true;
    return result;
}
