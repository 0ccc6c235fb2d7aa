#pragma once

#include "browser/ExportLayout.h"

#include <QMetaType>
#include <QString>
#include <atomic>
#include <functional>
#include <vector>

// One export of shops or ratings to a CSV or spreadsheet file. It reads the rows by their ids,
// in the order given (a cursor's rows as they stand), through a connection of its own, and
// writes a temporary file beside the target that replaces the target only when complete, so a
// failed or cancelled export leaves the old file untouched. Runs on any one thread.
class TExportJob
{
public:
    // The data rows below the header row of one worksheet (1,048,576 rows in all).
    static constexpr qint64 kSheetRows = 1048575;

    enum class Format
    {
        Csv,
        Xlsx,
    };

    struct Request
    {
        exportlayout::Kind kind = exportlayout::Kind::Shops;
        Format format = Format::Csv;
        QString databasePath;
        std::vector<qlonglong> ids; // rows to write, in this order
        QString target;
        QString snapHost; // scheme and host of the snapshot links
        // Data rows per worksheet; a longer export goes on in further sheets, each with the
        // header row. Every row a sheet can hold below its header by default.
        qint64 sheetRows = kSheetRows;
    };

    struct Result
    {
        bool ok = false;
        bool cancelled = false;
        QString error;
        qint64 rows = 0; // rows written (ids whose row was deleted meanwhile are skipped)
        int sheets = 0;  // worksheets written; 0 for a CSV file
    };

    using Progress = std::function<void(qint64 done, qint64 total)>;

    // The warning shown when a CSV target exists but cannot be opened for reading (open
    // elsewhere or damaged); empty when the target may be written.
    static QString blockedTarget(const QString& target, Format format);

    // Progress is called now and then with the rows read so far; cancel, when set, ends the
    // export at the next row.
    static Result run(const Request& request, const Progress& progress = {},
                      const std::atomic<bool>* cancel = nullptr);

    // The largest text a spreadsheet cell holds; longer texts are cut.
    static constexpr int kMaxCellText = exportlayout::kMaxCellText;
};

Q_DECLARE_METATYPE(TExportJob::Result)
