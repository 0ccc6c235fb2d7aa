#pragma once

#include <QStringList>

// "mine --stored [--filter TEXT] [--new-only] [--from A] [--to B]": mines every stored shop,
// or those the shop filter selects, as one recorded run. Returns the exit status.
int runMineStored(const QStringList& args);
