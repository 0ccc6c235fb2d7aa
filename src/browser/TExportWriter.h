#pragma once

#include "browser/ExportLayout.h"

#include <QString>
#include <string>

// One row made ready for its file: a CSV line, or a sheet's cells in UTF-8.
struct TExportPrepared
{
    std::string line; // UTF-8, without its line end
    exportlayout::SheetRowUtf8 sheet;
};

// One export file being written, CSV or spreadsheet (one thread at a time). Writes the rows; commit() puts
// the file in place. prepare() does the work that needs no file, and may run on another thread than the rest.
class TExportWriter
{
public:
    virtual ~TExportWriter() = default;
    virtual bool open(const QString& target, QString* error) = 0;
    virtual void prepare(const exportlayout::Record& record, TExportPrepared& out) const = 0;
    // The same from the engine's values (in recordColumns() order) without a QVariant, for
    // rows in their usual storage; false sends the row the general way.
    virtual bool prepareRaw(const exportlayout::RawValue*, size_t, TExportPrepared&) const { return false; }
    virtual bool write(const TExportPrepared& row, QString* error) = 0;
    virtual bool commit(QString* error) = 0;
    // Worksheets written; none for a CSV file.
    virtual int sheets() const { return 0; }
};
