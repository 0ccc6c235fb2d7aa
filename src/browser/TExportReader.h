#pragma once

#include "browser/TExportJob.h"
#include "browser/TExportWriter.h"
#include "store/TConnection.h"
#include "store/TStatement.h"

#include <unordered_map>
#include <vector>

// Reads an export's rows by their ids in batches, one statement for many rows, through a
// connection of its own and in one read snapshot, and hands them back made ready by the
// writer in the ids' order. One thread at a time.
class TExportReader
{
public:
    // Ids per statement: enough to make the per-statement cost vanish, few enough to keep the
    // batch's rows small.
    static constexpr int kBatch = 256;

    ~TExportReader();

    bool open(const TExportJob::Request& request, QString* error);
    // The rows of ids[from, from + kBatch) that still exist, in the ids' order; false with
    // error set when the engine failed.
    bool read(const std::vector<qlonglong>& ids, size_t from, const TExportWriter& writer,
              std::vector<TExportPrepared>& out, QString* error);

private:
    TConnection m_connection;
    TStatement m_statement; // declared after the connection: given back before it closes
    exportlayout::Kind m_kind = exportlayout::Kind::Shops;
    int m_columns = 0;
    std::vector<exportlayout::RawValue> m_raw;
    std::unordered_map<qlonglong, TExportPrepared> m_found;
};
