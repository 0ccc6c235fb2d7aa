#pragma once

#include "browser/TExportWriter.h"

#include <QtGlobal>
#include <memory>

// The spreadsheet file of an export, sheetRows data rows a sheet: written beside the target and
// put in its place only when every part of it was written.
std::unique_ptr<TExportWriter> newXlsxExportWriter(exportlayout::Kind kind, const QString& snapHost,
                                                   qint64 sheetRows);
