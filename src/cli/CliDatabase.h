#pragma once

#include "settings/TConfig.h"
#include "store/StoreRoles.h"

#include <QString>
#include <optional>

class TDM;

// --database URL of the command line; main sets it before the command runs.
void setCliDatabaseUrl(const QString& url);
QString cliDatabaseUrl();

// The database the commands work on and why, one line for --help: the data folder's file, or
// the server named by --database or by [Database] Url of config.ini (without its password).
QString cliDatabaseSummary();

// Opens the database the command works on: the server of --database or of [Database] Url in
// config.ini when one is given, else the file of the data folder (prepared by main before any
// command). One that cannot be opened is named on standard error with the engine's message
// (false); a server asked for is never replaced by the file. A mend or a read-only file is
// told there once, and the command goes on.
bool openCliDatabase(TDM& dm);
// The same for a command that writes: a role that may not do the action is refused before
// anything is fetched or written, with "database error:" and the server's message (false).
bool openCliDatabase(TDM& dm, storeroles::Action action);

class TTable;
// A filter text the cursor cannot take is bad usage: named on standard error as the cursor
// would name it (false), before any query runs.
bool cliFilterUnderstood(const TTable& cursor, const QString& filter);

// Reads config.ini of the data folder (creating it with its defaults when missing); a file that
// cannot be used is named on standard error with the reason (nothing). A file that is not a
// settings file at all is told once there, and its defaults are given.
std::optional<TConfig> loadCliConfig();
