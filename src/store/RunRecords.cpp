#include "store/RunRecords.h"

#include "store/StoreRoles.h"
#include "store/TQuery.h"
#include "store/TStatement.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace runrecords {
namespace {

const char* const kShopStates[] = {"pending", "done", "incomplete", "failed", "skipped"};
const char* const kRunStates[] = {"running", "finished", "cancelled", "failed", "interrupted"};

ShopState shopState(const QString& name)
{
    for (int i = 0; i < 5; ++i)
        if (name == QLatin1String(kShopStates[i]))
            return static_cast<ShopState>(i);
    return ShopState::Pending;
}

RunState runState(const QString& name)
{
    for (int i = 0; i < 5; ++i)
        if (name == QLatin1String(kRunStates[i]))
            return static_cast<RunState>(i);
    return RunState::Interrupted;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString lockFile(const QString& databasePath)
{
    return databasePath + QStringLiteral(".runs.lock");
}

// The first key of the server's advisory locks that stand for runs; the run id is the second.
constexpr int kRunLockClass = 7263402;

// One byte of the lock file stands for one run.
struct flock byteOf(qint64 runId, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = runId;
    lock.l_len = 1;
    return lock;
}

} // namespace

QString stateName(ShopState state)
{
    return QLatin1String(kShopStates[static_cast<int>(state)]);
}

QString stateName(RunState state)
{
    return QLatin1String(kRunStates[static_cast<int>(state)]);
}

int Run::shopsDone() const
{
    int n = 0;
    for (const Shop& s : shops)
        n += s.state == ShopState::Done ? 1 : 0;
    return n;
}

qint64 Run::ratingsStored() const
{
    qint64 n = 0;
    for (const Shop& s : shops)
        n += s.stored;
    return n;
}

qint64 Run::ratingsNew() const
{
    qint64 n = 0;
    for (const Shop& s : shops)
        n += s.fresh;
    return n;
}

bool Run::unfinished(const Shop& shop) const
{
    return shop.state == ShopState::Pending || shop.state == ShopState::Incomplete ||
           shop.state == ShopState::Failed;
}

qint64 create(TConnection& connection, int fromRecord, int toRecord, bool newOnly, const QList<Shop>& shops,
              QString* error)
{
    if (!connection.beginTransaction()) {
        setError(error, connection.error());
        return 0;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        connection.rollback();
        return qint64(0);
    };
    TQuery q(&connection, QStringLiteral("runRecord"));
    q.SetSQL(
        QStringLiteral("insert into miningRun(started, state, fromRecord, toRecord, newOnly, serverUser, "
                       "machine) values(:started, :state, :fromRecord, :toRecord, :newOnly, :serverUser, "
                       ":machine)"));
    const QString user = storeroles::userName(connection);
    q.SetParam(QStringLiteral("serverUser"), user.isEmpty() ? QVariant() : QVariant(user));
    q.SetParam(QStringLiteral("machine"), QSysInfo::machineHostName());
    q.SetParam(QStringLiteral("started"), now());
    q.SetParam(QStringLiteral("state"), stateName(RunState::Running));
    q.SetParam(QStringLiteral("fromRecord"), fromRecord);
    q.SetParam(QStringLiteral("toRecord"), toRecord);
    q.SetParam(QStringLiteral("newOnly"), newOnly ? 1 : 0);
    if (q.ExecSQL() < 0)
        return fail(q.lastError());
    q.SetSQL(QStringLiteral("select last_insert_rowid()"));
    if (!q.Open())
        return fail(q.lastError());
    const qint64 id = q.value(0, 0).toLongLong();
    q.Close();
    q.SetSQL(QStringLiteral("insert into miningRunShop(run_id, position, dian_id, webaddr, texts, state) "
                            "values(:run, :position, :shop, :webaddr, :texts, :state)"));
    for (const Shop& s : shops) {
        q.SetParam(QStringLiteral("run"), id);
        q.SetParam(QStringLiteral("position"), s.position);
        q.SetParam(QStringLiteral("shop"), s.shopId);
        q.SetParam(QStringLiteral("webaddr"), s.webaddr);
        q.SetParam(QStringLiteral("texts"), s.row.stored());
        q.SetParam(QStringLiteral("state"), stateName(s.state));
        if (q.ExecSQL() < 0)
            return fail(q.lastError());
    }
    if (!connection.commit())
        return fail(connection.error());
    return id;
}

bool markShop(TConnection& connection, qint64 runId, int position, ShopState state, qint64 stored,
              QString* error, qint64 fresh)
{
    TQuery q(&connection, QStringLiteral("runRecord"));
    q.SetSQL(QStringLiteral("update miningRunShop set state=:state, stored=:stored, newRatings=:fresh "
                            "where run_id=:run and position=:position"));
    q.SetParam(QStringLiteral("state"), stateName(state));
    q.SetParam(QStringLiteral("stored"), stored);
    q.SetParam(QStringLiteral("fresh"), fresh);
    q.SetParam(QStringLiteral("run"), runId);
    q.SetParam(QStringLiteral("position"), position);
    if (q.ExecSQL() < 0) {
        setError(error, q.lastError());
        return false;
    }
    return true;
}

bool setState(TConnection& connection, qint64 runId, RunState state, const QString& runError, QString* error)
{
    TQuery q(&connection, QStringLiteral("runRecord"));
    q.SetSQL(QStringLiteral("update miningRun set state=:state, ended=:ended, error=:error where id=:run"));
    q.SetParam(QStringLiteral("state"), stateName(state));
    q.SetParam(QStringLiteral("ended"), state == RunState::Running ? QVariant() : QVariant(now()));
    q.SetParam(QStringLiteral("error"), runError.isEmpty() ? QVariant() : QVariant(runError));
    q.SetParam(QStringLiteral("run"), runId);
    if (q.ExecSQL() < 0) {
        setError(error, q.lastError());
        return false;
    }
    return true;
}

namespace {

bool readShops(TConnection& connection, Run& run, QString* error)
{
    TQuery q(&connection, QStringLiteral("runRecord"));
    q.SetSQL(QStringLiteral("select position, dian_id, webaddr, texts, state, stored, newRatings from "
                            "miningRunShop where run_id=:run order by position"));
    q.SetParam(QStringLiteral("run"), run.id);
    if (!q.Open()) {
        setError(error, q.lastError());
        return false;
    }
    for (int r = 0; r < q.RecordCount(); ++r) {
        Shop s;
        s.position = q.value(r, 0).toInt();
        s.shopId = q.value(r, 1).toLongLong();
        s.webaddr = q.value(r, 2).toString();
        s.row = ShopRow::fromStored(q.value(r, 3).toString());
        s.state = shopState(q.value(r, 4).toString());
        s.stored = q.value(r, 5).toLongLong();
        s.fresh = q.value(r, 6).toLongLong();
        run.shops << s;
    }
    return true;
}

QList<Run> readRuns(TConnection& connection, const QString& where, qint64 runId, QString* error, bool* ok)
{
    QList<Run> runs;
    *ok = false;
    TQuery q(&connection, QStringLiteral("runRecord"));
    q.SetSQL(
        QStringLiteral("select id, started, state, fromRecord, toRecord, newOnly, error, serverUser, machine "
                       "from miningRun ") +
        where + QStringLiteral(" order by id"));
    if (runId > 0)
        q.SetParam(QStringLiteral("run"), runId);
    if (!q.Open()) {
        setError(error, q.lastError());
        return runs;
    }
    for (int r = 0; r < q.RecordCount(); ++r) {
        Run run;
        run.id = q.value(r, 0).toLongLong();
        run.started = q.value(r, 1).toString();
        run.state = runState(q.value(r, 2).toString());
        run.fromRecord = q.value(r, 3).toInt();
        run.toRecord = q.value(r, 4).toInt();
        run.newOnly = q.value(r, 5).toInt() != 0;
        run.error = q.value(r, 6).toString();
        run.serverUser = q.value(r, 7).toString();
        run.machine = q.value(r, 8).toString();
        if (run.state == RunState::Running && !RunLock::heldElsewhere(connection.path(), run.id))
            run.state = RunState::Interrupted;
        runs << run;
    }
    q.Close();
    for (Run& run : runs)
        if (!readShops(connection, run, error))
            return {};
    *ok = true;
    return runs;
}

} // namespace

std::optional<Run> load(TConnection& connection, qint64 runId, QString* error)
{
    setError(error, QString());
    bool ok = false;
    QList<Run> runs = readRuns(connection, QStringLiteral("where id=:run"), runId, error, &ok);
    if (!ok || runs.isEmpty())
        return std::nullopt;
    return runs.first();
}

QList<Run> list(TConnection& connection, QString* error)
{
    setError(error, QString());
    bool ok = false;
    return readRuns(connection, QString(), 0, error, &ok);
}

qint64 lastUnfinished(TConnection& connection, QString* error, bool includeHeld)
{
    const QList<Run> runs = list(connection, error);
    for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
        if (it->state == RunState::Finished || it->state == RunState::Cancelled)
            continue;
        if (it->state == RunState::Running && !includeHeld)
            continue;
        for (const Shop& s : it->shops)
            if (it->unfinished(s))
                return it->id;
    }
    return 0;
}

RunLock::~RunLock()
{
    release();
}

bool RunLock::acquire(const QString& databasePath, qint64 runId, bool* busy, QString* error)
{
    release();
    bool held = false;
    QString why;
    if (TConnection::isServerAddress(databasePath)) {
        if (acquireOnServer(databasePath, runId, held, why))
            return true;
    } else {
        const QString file = lockFile(databasePath);
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct flock lock = byteOf(runId, F_WRLCK);
        if (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0) {
            m_fd = fd;
            return true;
        }
        held = fd >= 0 && (errno == EAGAIN || errno == EACCES);
        if (!held)
            why = QStringLiteral("run %1: the lock file %2 cannot be used: %3")
                      .arg(runId)
                      .arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
    }
    if (busy)
        *busy = held;
    if (error)
        *error = held ? busyMessage(runId) : why;
    return false;
}

bool RunLock::acquireOnServer(const QString& url, qint64 runId, bool& busy, QString& error)
{
    // The lock lives as long as this connection: it ends with the program however it ends.
    auto connection = std::make_unique<TConnection>();
    if (!connection->open(url)) {
        error = connection->error();
        return false;
    }
    TStatement take;
    if (!take.prepare(*connection, QStringLiteral("select pg_try_advisory_lock(:class, :run)")) ||
        !take.bind(
            {{QStringLiteral("class"), kRunLockClass}, {QStringLiteral("run"), static_cast<int>(runId)}}) ||
        !take.step()) {
        error = take.error();
        return false;
    }
    if (take.column(0).toLongLong() != 1) {
        busy = true;
        return false;
    }
    take.finalize();
    m_server = std::move(connection);
    return true;
}

void RunLock::release()
{
    m_server.reset();
    if (m_fd >= 0)
        ::close(m_fd); // closing the description releases its lock
    m_fd = -1;
}

bool RunLock::heldElsewhere(const QString& databasePath, qint64 runId)
{
    if (TConnection::isServerAddress(databasePath)) {
        TConnection connection;
        TStatement held;
        return connection.open(databasePath) &&
               held.prepare(connection, QStringLiteral("select count(*) from pg_locks where locktype = "
                                                       "'advisory' and granted and classid = :class and "
                                                       "objid = :run and database = (select oid from "
                                                       "pg_database where datname = current_database())")) &&
               held.bind({{QStringLiteral("class"), kRunLockClass}, {QStringLiteral("run"), runId}}) &&
               held.step() && held.column(0).toLongLong() > 0;
    }
    const QByteArray name = QFile::encodeName(lockFile(databasePath));
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock lock = byteOf(runId, F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

QString RunLock::busyMessage(qint64 runId)
{
    return QStringLiteral("run %1 is busy: another program is mining it").arg(runId);
}

} // namespace runrecords
