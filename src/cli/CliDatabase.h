#pragma once

class TDM;

// Opens the database file of the data folder for a command: a file that cannot be opened is
// named on standard error with the engine's message (false); a mend or a read-only file is
// told there once, and the command goes on.
bool openCliDatabase(TDM& dm);
