#include "store/TConnection.h"

#include "store/DatabaseChoice.h"
#include "store/PgLink.h"
#include "store/Schema.h"
#include "store/ServerSchema.h"
#include "store/SqlFunctions.h"
#include "store/TStatement.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QUrl>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

TConnection::~TConnection()
{
    close();
}

bool TConnection::isServerAddress(const QString& target)
{
    return target.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           target.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString TConnection::serverVersion() const
{
    if (m_engine == Engine::Postgres)
        return QStringLiteral("PostgreSQL %1").arg(m_pg ? pglink::serverVersion(m_pg) : QString());
    return QStringLiteral("SQLite %1").arg(QLatin1String(sqlite3_libversion()));
}

QString TConnection::databaseName() const
{
    if (m_engine == Engine::Postgres && m_pg)
        return QString::fromUtf8(PQdb(m_pg));
    return m_path;
}

bool TConnection::tuneFor(Use use)
{
    if (m_engine == Engine::Postgres)
        return ensureLink();
    switch (use) {
    case Use::Browsing:
        // A larger cache and memory-mapped reads keep the browser over big shops off the disk.
        return exec(QStringLiteral(
            "PRAGMA cache_size=-131072; PRAGMA mmap_size=1073741824; PRAGMA temp_store=MEMORY"));
    case Use::Grouping:
        // The grouping's temporary B-trees run about twice as fast in the default page cache
        // and temp store as in the large in-memory ones of browsing.
        return exec(QStringLiteral("PRAGMA cache_size=-2000; PRAGMA temp_store=DEFAULT"));
    case Use::OnePass:
        // A large page cache or a mapping of the whole file would only hold memory that is
        // never used again.
        return exec(QStringLiteral("PRAGMA mmap_size=0; PRAGMA cache_size=-4096"));
    }
    return false;
}

QString TConnection::notOpenError()
{
    return QStringLiteral("The database is not open.");
}

bool TConnection::isStorageFault(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
    case SQLITE_PERM:
        return true;
    default:
        return false;
    }
}

int TConnection::engineCode() const
{
    if (m_engine == Engine::Postgres)
        return m_pg ? m_lastCode : SQLITE_CANTOPEN;
    return m_db ? sqlite3_errcode(m_db) & 0xff : SQLITE_CANTOPEN;
}

namespace {

TConnection::BuildNotice& buildNotice()
{
    static TConnection::BuildNotice notice;
    return notice;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

void TConnection::setBuildNotice(BuildNotice notice)
{
    buildNotice() = std::move(notice);
}

bool TConnection::buildReadsRatings(const QString& piece)
{
    // The hour tally (and the server's ranking tally) is counted when its table is made, and
    // again with the file's insert trigger.
    return piece.startsWith(QLatin1String("index pjInfo")) ||
           piece == QLatin1String("table pjInfoHourTally") ||
           piece == QLatin1String("trigger pjInfo_tallies_insert") ||
           piece == QLatin1String("table pjInfoRankTally");
}

void TConnection::noticeBuild(const QString& piece)
{
    const BuildNotice& notice = m_ownNotice ? m_ownNotice : buildNotice();
    if (!notice || !buildReadsRatings(piece))
        return;
    qint64 rows = 0;
    TStatement count;
    if (count.prepare(*this, QStringLiteral("SELECT count(*) FROM pjInfo")) && count.step())
        rows = count.column(0).toLongLong();
    if (rows > 0)
        notice(QStringLiteral("adding %1 to %2 ratings ...").arg(piece).arg(rows));
}

bool TConnection::open(const QString& path)
{
    close();
    m_path = path;
    m_error.clear();
    m_mended.clear();
    m_unmended.clear();
    m_readOnly = false;
    m_engine = isServerAddress(path) ? Engine::Postgres : Engine::Sqlite;
    if (m_engine == Engine::Postgres)
        return openServer(path);
    if (!openHandle(path))
        return false;
    ++m_generation;
    // Another connection (the rating saver, a second program) may be writing.
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlfunctions::registerAll(m_db);
    // Creating the schema and switching the journal mode wait for another program like any
    // write: the engine answers some of these lock conflicts at once instead of calling the
    // busy handler (a fresh file being set up by two programs), so they are tried again.
    QElapsedTimer clock;
    clock.start();
    while (!ensureSchema()) {
        const bool busy = m_lastCode == SQLITE_BUSY || m_lastCode == SQLITE_LOCKED;
        if (inTransaction())
            rollback();
        if (!busy || clock.elapsed() > kBusyTimeoutMs) {
            QString error = m_error;
            close();
            m_error = error;
            return false;
        }
        m_error.clear();
        QThread::msleep(20);
    }
    return true;
}

bool TConnection::commitMend(bool fresh, const QStringList& added)
{
    if (!commit()) {
        failOpen(m_error);
        return false;
    }
    if (!fresh)
        m_mended = added;
    return true;
}

void TConnection::failOpen(const QString& message)
{
    const QString where =
        m_engine == Engine::Postgres ? databasechoice::shown(m_path) : QDir::toNativeSeparators(m_path);
    m_error = QStringLiteral("%1: %2").arg(where, message);
}

bool TConnection::openServer(const QString& url)
{
    QString message;
    m_pg = pglink::connect(url, &message);
    if (!m_pg) {
        m_lastCode = SQLITE_CANTOPEN;
        failOpen(message);
        return false;
    }
    ++m_generation;
    m_token = std::make_shared<int>(0);
    if (!ensureServerSchema()) {
        const QString error = m_error;
        const int code = m_lastCode;
        close();
        m_error = error;
        m_lastCode = code;
        return false;
    }
    return true;
}

bool TConnection::ensureLink()
{
    if (m_engine != Engine::Postgres)
        return m_db != nullptr;
    if (!m_pg) {
        m_error = notOpenError();
        return false;
    }
    if (PQstatus(m_pg) == CONNECTION_OK)
        return true;
    PQreset(m_pg);
    QString message;
    if (PQstatus(m_pg) != CONNECTION_OK || !pglink::setUpSession(m_pg, &message)) {
        m_lastCode = SQLITE_IOERR;
        m_error = message.isEmpty() ? pglink::message(m_pg, nullptr) : message;
        return false;
    }
    ++m_generation;
    return true;
}

bool TConnection::ensureServerSchema()
{
    // One program sets a new database up at a time; the lock ends with the transaction.
    if (!serverExec(QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(7263401)"))) {
        failOpen(m_error);
        return false;
    }
    PGresult* r = PQexec(m_pg, serverschema::presentPiecesSql().toUtf8().constData());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        m_lastCode = pglink::codeOf(m_pg, r);
        failOpen(pglink::message(m_pg, r));
        PQclear(r);
        rollback();
        return false;
    }
    QSet<QString> present;
    for (int i = 0; i < PQntuples(r); ++i)
        present.insert(QString::fromUtf8(PQgetvalue(r, i, 0)) + u' ' +
                       QString::fromUtf8(PQgetvalue(r, i, 1)).toLower());
    PQclear(r);
    bool fresh = true;
    for (const QString& p : present)
        if (p.startsWith(QLatin1String("table ")))
            fresh = false;
    QStringList missing;
    for (const serverschema::Piece& piece : serverschema::objects()) {
        if (present.contains(piece.type + u' ' + piece.name.toLower()))
            continue;
        // A table made now has its columns already.
        if (piece.type == QLatin1String("column") &&
            (missing.contains(QStringLiteral("table ") + piece.name.section(u'.', 0, 0)) ||
             m_unmended.contains(QStringLiteral("table ") + piece.name.section(u'.', 0, 0))))
            continue;
        const QString named = piece.type + u' ' + piece.name;
        if (!fresh && piece.type != QLatin1String("function"))
            noticeBuild(named);
        // A user the administrator let read or mine but not create uses the store as it is:
        // what it may not add is told once. After one refusal, a piece built on a missing one
        // fails too and is told the same way.
        if (!serverExec(QStringLiteral("SAVEPOINT k_piece")) || !serverExec(piece.sql)) {
            const bool refused = m_lastCode == SQLITE_PERM || !m_unmended.isEmpty();
            if (!refused || !serverExec(QStringLiteral("ROLLBACK TO SAVEPOINT k_piece"))) {
                failOpen(m_error);
                rollback();
                return false;
            }
            m_unmended << named;
            continue;
        }
        if (piece.type != QLatin1String("function"))
            missing << named;
    }
    return commitMend(fresh, missing);
}

bool TConnection::serverExec(const QString& sql)
{
    if (!ensureLink())
        return false;
    PGresult* r = PQexec(m_pg, sql.toUtf8().constData());
    m_lastCode = pglink::codeOf(m_pg, r);
    const bool ok = pglink::succeeded(r);
    if (!ok)
        m_error = pglink::message(m_pg, r);
    PQclear(r);
    return ok;
}

bool TConnection::openHandle(const QString& path)
{
    const QFileInfo info(path);
    const bool exists = info.exists();
    const bool folderWritable = writable(info.absolutePath());
    // Writing needs the folder as well: the engine keeps its journal beside the file.
    m_readOnly = exists && !(folderWritable && writable(path));
    QByteArray name = QFile::encodeName(path);
    int flags = SQLITE_OPEN_NOMUTEX;
    if (!m_readOnly) {
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    } else {
        flags |= SQLITE_OPEN_READONLY;
        if (!folderWritable) {
            // The engine cannot place its shared-memory file beside a write-ahead-logged file
            // in a read-only folder; nobody can write there, so the file is read as unchanging.
            name = QUrl::fromLocalFile(info.absoluteFilePath()).toEncoded() + "?immutable=1";
            flags |= SQLITE_OPEN_URI;
        }
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        if (!exists && info.dir().exists() && !folderWritable)
            message = QStringLiteral("the folder is read-only (%1)").arg(message);
        failOpen(message);
        return false;
    }
    m_db = db;
    return true;
}

bool TConnection::missingPieces(QStringList& missing, QStringList& statements, bool& fresh)
{
    // Reading the schema is the first thing that fails on a damaged or foreign file.
    QSet<QString> present;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "SELECT type, name FROM sqlite_master", -1, &stmt, nullptr);
    m_lastCode = rc & 0xff;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
        m_lastCode = rc & 0xff;
        if (rc == SQLITE_ROW)
            present.insert(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + u' ' +
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1))).toLower());
    }
    const QString readError = engineError();
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        failOpen(readError);
        return false;
    }
    rc =
        sqlite3_prepare_v2(m_db,
                           "SELECT m.name || '.' || c.name FROM sqlite_master m, pragma_table_info(m.name) c "
                           "WHERE m.type = 'table'",
                           -1, &stmt, nullptr);
    while ((rc == SQLITE_OK || rc == SQLITE_ROW) && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
        present.insert(
            QStringLiteral("column ") +
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))).toLower());
    m_lastCode = rc & 0xff;
    const QString columnError = engineError();
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        failOpen(columnError);
        return false;
    }
    missing.clear();
    statements.clear();
    for (const schema::SchemaObject& o : schema::objects() + schema::addedColumns()) {
        // A table made now has its columns already.
        if (present.contains(o.type + u' ' + o.name.toLower()) ||
            (o.type == QLatin1String("column") &&
             missing.contains(QStringLiteral("table ") + o.name.section(u'.', 0, 0))))
            continue;
        missing << o.type + u' ' + o.name;
        statements << o.sql;
    }
    fresh = present.isEmpty();
    return true;
}

bool TConnection::ensureSchema()
{
    QStringList missing, statements;
    bool fresh = false;
    if (!missingPieces(missing, statements, fresh))
        return false;
    if (m_readOnly) {
        m_unmended = missing;
        if (!tuneFor(Use::Browsing)) {
            failOpen(m_error);
            return false;
        }
        return true;
    }
    // A file that lost part of its schema may be damaged elsewhere; only a sound one is mended.
    if (!fresh && !missing.isEmpty() && !soundFile())
        return false;
    // WAL lets the window read while the saver writes; NORMAL sync is safe with WAL (a
    // power cut may lose the last commit, never the file).
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL")) ||
        !tuneFor(Use::Browsing)) {
        failOpen(m_error);
        return false;
    }
    if (missing.isEmpty())
        return true;
    if (!beginTransaction()) {
        failOpen(m_error);
        return false;
    }
    // Another program may have mended the file while this one waited for the lock.
    bool ok = missingPieces(missing, statements, fresh);
    if (m_cancelled)
        sqlite3_progress_handler(
            m_db, 100000,
            [](void* cancelled) { return (*static_cast<std::function<bool()>*>(cancelled))() ? 1 : 0; },
            &m_cancelled);
    for (qsizetype i = 0; ok && i < statements.size(); ++i) {
        if (!fresh)
            noticeBuild(missing[i]);
        if (m_cancelled && m_cancelled()) {
            failOpen(QStringLiteral("interrupted"));
            ok = false;
        } else if (!exec(statements[i])) {
            failOpen(m_error);
            ok = false;
        }
    }
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    if (!ok) {
        const QString error = m_error;
        rollback();
        m_error = error;
        return false;
    }
    return commitMend(fresh, missing);
}

bool TConnection::soundFile()
{
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
    QString result;
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    if (rc != SQLITE_ROW)
        result = engineError();
    sqlite3_finalize(stmt);
    if (result == QLatin1String("ok"))
        return true;
    failOpen(QStringLiteral("the file is damaged: %1").arg(result.simplified()));
    return false;
}

void TConnection::close()
{
    if (m_pg) {
        m_token.reset();
        // The session's advisory locks (run locks, team slots) given back before the close:
        // the server frees them only once it has seen the close, and a program asking in that
        // moment would still find them taken. Not while a statement still streams its rows: a
        // new one would first read them all.
        if (PQstatus(m_pg) == CONNECTION_OK && PQtransactionStatus(m_pg) != PQTRANS_ACTIVE)
            PQclear(PQexec(m_pg, "SELECT pg_advisory_unlock_all()"));
        PQfinish(m_pg);
        m_pg = nullptr;
    }
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

QString TConnection::engineError() const
{
    if (m_engine == Engine::Postgres)
        return m_pg ? pglink::message(m_pg, nullptr) : notOpenError();
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : notOpenError();
}

bool TConnection::exec(const QString& sql)
{
    if (m_engine == Engine::Postgres)
        return serverExec(sql);
    if (!m_db) {
        m_error = notOpenError();
        return false;
    }
    char* message = nullptr;
    m_lastCode = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) & 0xff;
    if (m_lastCode != SQLITE_OK) {
        m_error = message ? QString::fromUtf8(message) : engineError();
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool TConnection::beginTransaction()
{
    if (m_engine == Engine::Postgres)
        return exec(QStringLiteral("BEGIN"));
    return exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool TConnection::beginReadSnapshot()
{
    if (m_engine == Engine::Postgres)
        return exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    // The file's reader keeps its snapshot from its first read to the end of the transaction.
    return exec(QStringLiteral("BEGIN"));
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
    if (m_engine == Engine::Postgres)
        return m_pg && PQtransactionStatus(m_pg) != PQTRANS_IDLE &&
               PQtransactionStatus(m_pg) != PQTRANS_UNKNOWN;
    return m_db && !sqlite3_get_autocommit(m_db);
}
