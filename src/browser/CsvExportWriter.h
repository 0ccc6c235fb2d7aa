#pragma once

#include "browser/TExportWriter.h"

#include <memory>

// The CSV file of an export: GBK text with CRLF line ends, written beside the target and put
// in its place when complete.
std::unique_ptr<TExportWriter> newCsvExportWriter(exportlayout::Kind kind, const QString& snapHost);
