#pragma once

#include "mining/TMiningRun.h"

#include <QStringList>
#include <optional>

class TDM;

// "mine --stored [--filter TEXT] [--new-only] [--from A] [--to B]": mines every stored shop,
// or those the shop filter selects, as one recorded run. Returns the exit status.
int runMineStored(const QStringList& args);

// The stored shops the filter selects (all without one), in the browser's order, as rows to
// mine. Nothing, with the engine's message on standard error under the command's name, when
// the filter is refused (status 2) or the database fails (status 1).
std::optional<QList<TMiningRun::Row>> storedShopRows(TDM& dm, const QString& filter, const char* command,
                                                     int* status);
