#include "browser/TExportJob.h"

#include "browser/CsvExportWriter.h"
#include "browser/XlsxExportWriter.h"
#include "store/TConnection.h"
#include "store/TStatement.h"

#include <QFile>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#include <unordered_map>

namespace {

using exportlayout::Kind;
using exportlayout::Record;
using Prepared = TExportPrepared;
using Writer = TExportWriter;

// Where rows come from: the view for shops (as the shop cursor reads them), the table for
// ratings.
QString sourceOf(Kind kind)
{
    return kind == Kind::Shops ? QStringLiteral("dianBaseSort") : QStringLiteral("pjInfo");
}

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

} // namespace

QString TExportJob::blockedTarget(const QString& target, Format format)
{
    // The warning is the CSV file's: a spreadsheet replaces its old file whole and tells its
    // own failure.
    if (format != Format::Csv)
        return QString();
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
        writer = newCsvExportWriter(request.kind, request.snapHost);
    else
        writer = newXlsxExportWriter(request.kind, request.snapHost, request.sheetRows);
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
