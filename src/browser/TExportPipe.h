#pragma once

#include "browser/TExportWriter.h"

#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class TExportReader;

// Batches of prepared rows handed from the thread that reads them to the one that writes the
// file; a bounded few, so memory stays flat whatever the number of rows.
struct TExportPipe
{
    struct Batch
    {
        std::vector<TExportPrepared> rows;
        qint64 done = 0; // ids read once this batch is written
    };
    static constexpr size_t kDepth = 4;

    // Reads and prepares every batch until the ids end or the writer stops; run on the
    // reading thread, which alone uses the reader's connection from then on.
    void produce(TExportReader& reader, const TExportWriter& writer, const std::vector<qlonglong>& ids);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch> batches;
    bool stop = false;     // set by the writer: read no further
    bool finished = false; // set by the reader: nothing more comes
    QString error;         // the reader's failure
};
