#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct sqlite3;
typedef struct pg_conn PGconn;

// One connection to the database: a file, or a server reached through a libpq URI. Each
// thread that touches the database owns its own connection; an object is used by one thread
// at a time.
class TConnection
{
public:
    enum class Engine
    {
        Sqlite,   // a database file, the default
        Postgres, // a server reached through a libpq connection URI
    };
    // True for a libpq connection URI ("postgresql://..." or "postgres://..."); anything else
    // names a database file.
    static bool isServerAddress(const QString& target);

    TConnection() = default;
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Opens the file, creating it with its tables, view and indexes when it is missing or
    // empty, and adding any piece of the schema an existing file lacks (mended()). False with
    // error() ("path: engine message") when the file cannot be opened, is not a database or is
    // damaged; such a file is left as it was. A file that cannot be written (or lies in a
    // folder that cannot be) is opened for reading only and never mended (readOnly(),
    // unmended()).
    // A server address (isServerAddress) connects instead and creates or mends the server's
    // schema the same way; its errors read "address without password: server message".
    bool open(const QString& path);
    // On a server, the session's advisory locks are free when it returns.
    void close();
    bool isOpen() const { return m_db != nullptr || m_pg != nullptr; }
    const QString& path() const { return m_path; }
    Engine engine() const { return m_engine; }
    // The engine and its version, as "SQLite 3.40.1" or "PostgreSQL 15.18".
    QString serverVersion() const;
    // The file's path, or the server database's name.
    QString databaseName() const;
    sqlite3* handle() const { return m_db; }
    PGconn* serverLink() const { return m_pg; }
    // Expires when the server connection is closed, so a statement that outlives it leaves
    // the link alone.
    std::weak_ptr<int> serverToken() const { return m_token; }
    // On a server whose connection broke (it restarted, the network went away), connects
    // again, so the next action works once the server is back; statements prepared before
    // must be prepared again (generation() changes). True when the link is usable.
    bool ensureLink();
    // Changes with every open, so statements prepared on an earlier handle are not reused.
    int generation() const { return m_generation; }

    // What a connection is used for, so that the engine can be set up for it.
    enum class Use
    {
        Browsing, // the default of every open: a large cache, the file mapped into memory
        Grouping, // analyses: the engine's default cache and temporary store group faster
        OnePass,  // exports: each row read once, so no mapping and a small cache
    };
    // Sets the engine up for a use; the server needs nothing. False with error() when the
    // engine refuses.
    bool tuneFor(Use use);

    // Runs statements without parameters.
    bool exec(const QString& sql);

    bool beginTransaction();
    // A read-only transaction whose statements all see the data as it was at its start.
    bool beginReadSnapshot();
    bool commit();
    bool rollback();
    bool inTransaction() const;

    const QString& error() const { return m_error; }
    void setError(const QString& error) { m_error = error; }
    // The engine's message for the last failed call on this connection.
    QString engineError() const;

    static QString notOpenError();
    // True for an engine result code that is about the file or the machine rather than one
    // record (disk full, I/O error, read-only or damaged file, a lock never released): the
    // next statement would fail the same way.
    static bool isStorageFault(int code);
    // The primary result code of the last failed call on this connection.
    int engineCode() const;

    // Told, on the opening thread, before a piece of the schema is built over rows already
    // stored (an index over a large rating table takes seconds), e.g. "adding index
    // pjInfo_shop_when to 2000000 ratings ...". Set once at start-up; none by default.
    using BuildNotice = std::function<void(const QString& text)>;
    static void setBuildNotice(BuildNotice notice);
    // This connection's own, in place of the one set at start-up; and a test asked while a
    // file is mended: true ends the mending, which leaves the file as it was (a build on
    // another thread that the program's end cuts short). Both before open().
    void setOwnBuildNotice(BuildNotice notice) { m_ownNotice = std::move(notice); }
    void setBuildCancel(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }
    // Whether the building of this piece ("index pjInfo_shop_when") reads every rating.
    static bool buildReadsRatings(const QString& piece);

    bool readOnly() const { return m_readOnly; }
    // Pieces of the schema the last open added, as "table pjInfo", "index dianBase_webaddr".
    const QStringList& mended() const { return m_mended; }
    // Pieces missing from a read-only file, or from a server store whose user may not add
    // them, in the same form.
    const QStringList& unmended() const { return m_unmended; }

private:
    bool openHandle(const QString& path);
    bool openServer(const QString& url);
    bool ensureServerSchema();
    bool serverExec(const QString& sql);
    bool ensureSchema();
    // The pieces of the schema the file lacks, with their statements; fresh when it has none.
    bool missingPieces(QStringList& missing, QStringList& statements, bool& fresh);
    bool soundFile();
    void failOpen(const QString& message);
    // Commits the schema's new pieces and records them as mended unless the store was new.
    bool commitMend(bool fresh, const QStringList& added);
    void noticeBuild(const QString& piece);

    sqlite3* m_db = nullptr;
    PGconn* m_pg = nullptr;
    std::shared_ptr<int> m_token;
    Engine m_engine = Engine::Sqlite;
    QString m_path;
    QString m_error;
    int m_generation = 0;
    int m_lastCode = 0; // of the last exec or schema read
    static constexpr int kBusyTimeoutMs = 10000;
    bool m_readOnly = false;
    QStringList m_mended;
    QStringList m_unmended;
    BuildNotice m_ownNotice;
    std::function<bool()> m_cancelled;
};
