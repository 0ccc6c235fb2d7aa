#pragma once

#include <QString>

// Where the program keeps its files. By default a writable <root>/data beside <root>/bin (a
// portable install or the build tree); when there is none (an install to /usr or /opt) the
// user's own $XDG_DATA_HOME/kestrova, seeded from the installed <root>/share/kestrova. A folder
// given with --data-dir overrides both. Set once at start, before any other thread runs.
class Paths
{
public:
    enum class Kind
    {
        Given,    // --data-dir
        Portable, // <root>/data
        User,     // $XDG_DATA_HOME/kestrova
    };

    // Uses dir as the data folder from now on (an empty text returns to the default).
    static void setDataDir(const QString& dir);
    static QString dataDir();
    static Kind dataDirKind();
    // The folder in use and why, one line for --help, the about box and the navigation page.
    static QString dataDirSummary();
    // Creates the data folder when missing and copies in the installed seed files it lacks
    // (never over a file that is there). The one exception is a start page still byte for byte
    // as it was seeded: it is replaced by a newer installed one. False with a text naming the
    // folder when it cannot be created.
    static bool prepareDataDir(QString* error);
    static QString helpDir();
    // Read-only files shipped with the program: <root>/share/kestrova.
    static QString sharedDir();

    static QString configFile() { return dataDir() + QStringLiteral("/config.ini"); }
    static QString databaseFile() { return dataDir() + QStringLiteral("/quelmar2.mdb"); }
    static QString searchHistoryFile() { return dataDir() + QStringLiteral("/searchHistory.ini"); }
    // The data folder's own start page, or the one installed with the program when the data
    // folder has none.
    static QString startPage();

    // Tests: behave as if the executable sat in root/bin (an empty text returns to the real one).
    static void setInstallRoot(const QString& root);
};
