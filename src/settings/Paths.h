#pragma once

#include <QString>

// Where the program keeps its files: <root>/data and <root>/hlp beside <root>/bin, or the
// folder given with --data-dir. Set once at start, before any other thread runs.
class Paths
{
public:
    // Uses dir as the data folder from now on (an empty text returns to the default).
    static void setDataDir(const QString& dir);
    static QString dataDir();
    static QString helpDir();

    static QString configFile() { return dataDir() + QStringLiteral("/config.ini"); }
    static QString databaseFile() { return dataDir() + QStringLiteral("/quelmar2.mdb"); }
    static QString searchHistoryFile() { return dataDir() + QStringLiteral("/searchHistory.ini"); }
    // The data folder's own start page, or the one installed beside bin/ when a folder given
    // with --data-dir has none.
    static QString startPage();
};
