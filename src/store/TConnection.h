#pragma once

#include <QString>

struct sqlite3;

// One connection to the database file. Each thread that touches the database owns its own
// connection; an object is used by one thread at a time.
class TConnection
{
public:
    TConnection() = default;
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Opens the file, creating it with its tables, view and indexes when it is missing or
    // empty. False with error() when the file cannot be opened or is not a database.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    const QString& path() const { return m_path; }
    sqlite3* handle() const { return m_db; }
    // Changes with every open, so statements prepared on an earlier handle are not reused.
    int generation() const { return m_generation; }

    // Runs statements without parameters.
    bool exec(const QString& sql);

    bool beginTransaction();
    bool commit();
    bool rollback();
    bool inTransaction() const;

    const QString& error() const { return m_error; }
    void setError(const QString& error) { m_error = error; }
    // The engine's message for the last failed call on this connection.
    QString engineError() const;

    static QString notOpenError();

private:
    bool ensureSchema();

    sqlite3* m_db = nullptr;
    QString m_path;
    QString m_error;
    int m_generation = 0;
};
