#include "browser/TExportPipe.h"

#include "browser/TExportReader.h"

void TExportPipe::produce(TExportReader& reader, const TExportWriter& writer,
                          const std::vector<qlonglong>& ids)
{
    QString failure;
    for (size_t from = 0; from < ids.size(); from += TExportReader::kBatch) {
        {
            std::lock_guard lock(mutex);
            if (stop)
                break;
        }
        Batch batch;
        if (!reader.read(ids, from, writer, batch.rows, &failure))
            break;
        batch.done = static_cast<qint64>(std::min(ids.size(), from + TExportReader::kBatch));
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || batches.size() < kDepth; });
        if (stop)
            break;
        batches.push_back(std::move(batch));
        changed.notify_all();
    }
    std::lock_guard lock(mutex);
    error = failure;
    finished = true;
    changed.notify_all();
}
