#pragma once

#include <QString>

class TConnection;

// Which database the program works on: a server named on the command line (--database),
// else the one of config.ini ([Database] Url), else the collection's file. A server asked for
// is never swapped for the file: when its address is unusable nothing is opened.
namespace databasechoice {

enum class Origin
{
    CommandLine, // --database
    Config,      // [Database] Url
    File,        // the data folder's database file
};

struct Choice
{
    QString target; // handed to TDM::DataModuleCreate; empty when refused
    Origin origin = Origin::File;
    QString error; // why an address given is refused
};

// Blanks around an address are not part of it; an empty one counts as not given.
Choice choose(const QString& commandLineUrl, const QString& configUrl, const QString& file);

// The refusal of an address that is not a libpq connection URI.
QString notAServerAddress(const QString& url, Origin origin);

// The target as it may be shown: a file's path, or a server address without its password
// (in the user part or as a password= parameter).
QString shown(const QString& target);

// A refused address as it may be shown: a libpq keyword string ("host=db password=x") or any
// other text that is not a URI, without its password=VALUE pairs.
QString shownRefused(const QString& text);

// Engine, version and what it works on, one line: "SQLite 3.40.1 · /home/me/quelmar2.mdb",
// "PostgreSQL 15.18 · postgresql://me@db.local/kestrova". Empty when the connection is closed.
QString describe(const TConnection& connection);

} // namespace databasechoice
