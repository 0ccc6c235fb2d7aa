#include "store/TConnection.h"

#include "store/Schema.h"
#include "store/SqlFunctions.h"

#include <QFile>
#include <sqlite3.h>

TConnection::~TConnection()
{
    close();
}

QString TConnection::notOpenError()
{
    return QStringLiteral("The database is not open.");
}

bool TConnection::open(const QString& path)
{
    close();
    m_path = path;
    m_error.clear();
    const QByteArray file = QFile::encodeName(path);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        m_error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        return false;
    }
    m_db = db;
    ++m_generation;
    // Another connection (the rating saver, a second program) may be writing.
    sqlite3_busy_timeout(m_db, 10000);
    sqlfunctions::registerAll(m_db);
    if (!ensureSchema()) {
        QString error = m_error;
        close();
        m_error = error;
        return false;
    }
    return true;
}

bool TConnection::ensureSchema()
{
    // Reading the schema is the first thing that fails on a damaged or foreign file.
    sqlite3_stmt* stmt = nullptr;
    int rc =
        sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='dianBase'",
                           -1, &stmt, nullptr);
    bool haveTables = false;
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
        haveTables = sqlite3_column_int(stmt, 0) > 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) {
        m_error = engineError();
        return false;
    }
    // WAL lets the window read while the saver writes; NORMAL sync is safe with WAL (a
    // power cut may lose the last commit, never the file). A larger cache and memory-mapped
    // reads keep the analyses over big shops off the disk.
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-131072; "
                             "PRAGMA mmap_size=1073741824; PRAGMA temp_store=MEMORY")))
        return false;
    if (haveTables)
        return true;
    if (!beginTransaction())
        return false;
    for (const QString& statement : schema::createStatements()) {
        if (!exec(statement)) {
            QString error = m_error;
            rollback();
            m_error = error;
            return false;
        }
    }
    return commit();
}

void TConnection::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

QString TConnection::engineError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : notOpenError();
}

bool TConnection::exec(const QString& sql)
{
    if (!m_db) {
        m_error = notOpenError();
        return false;
    }
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        m_error = message ? QString::fromUtf8(message) : engineError();
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool TConnection::beginTransaction()
{
    return exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool TConnection::commit()
{
    return exec(QStringLiteral("COMMIT"));
}

bool TConnection::rollback()
{
    return exec(QStringLiteral("ROLLBACK"));
}

bool TConnection::inTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}
