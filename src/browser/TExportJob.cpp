#include "browser/TExportJob.h"

#include "browser/CsvExportWriter.h"
#include "browser/TExportPipe.h"
#include "browser/TExportReader.h"
#include "browser/XlsxExportWriter.h"

#include <QFile>
#include <memory>
#include <thread>

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

TExportJob::Result TExportJob::run(const Request& request, const Progress& progress,
                                   const std::atomic<bool>* cancel)
{
    Result result;
    TExportReader reader;
    if (!reader.open(request, &result.error))
        return result;
    std::unique_ptr<TExportWriter> writer;
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
    TExportPipe pipe;
    std::thread reading([&] { pipe.produce(reader, *writer, request.ids); });
    qint64 reported = 0;
    bool failed = false;
    for (;;) {
        TExportPipe::Batch batch;
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
        for (const TExportPrepared& row : batch.rows) {
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
