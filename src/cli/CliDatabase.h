#pragma once

#include "settings/TConfig.h"

#include <optional>

class TDM;

// Opens the database file of the data folder (prepared by main before any command): a file that cannot be opened is
// named on standard error with the engine's message (false); a mend or a read-only file is
// told there once, and the command goes on.
bool openCliDatabase(TDM& dm);

// Reads config.ini of the data folder (creating it with its defaults when missing); a file that
// cannot be used is named on standard error with the reason (nothing). A file that is not a
// settings file at all is told once there, and its defaults are given.
std::optional<TConfig> loadCliConfig();
