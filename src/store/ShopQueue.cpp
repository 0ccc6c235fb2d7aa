#include "store/ShopQueue.h"

#include "store/StoreRoles.h"
#include "store/TQuery.h"

#include <QDateTime>
#include <QSysInfo>
#include <unistd.h>

namespace shopqueue {
namespace {

const char* const kStates[] = {"waiting", "claimed", "done", "failed"};

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The claim's own row: the same worker, the same attempt, still claimed.
const char kHeld[] = " where id=:id and attempt=:attempt and worker=:worker and state='claimed'";

void bindClaim(TQuery& q, const Claim& claim)
{
    q.SetParam(QStringLiteral("id"), claim.id);
    q.SetParam(QStringLiteral("attempt"), claim.attempt);
    q.SetParam(QStringLiteral("worker"), claim.worker);
}

Outcome changeClaimed(TQuery& q, const Claim& claim, QString* error)
{
    bindClaim(q, claim);
    const int changed = q.ExecSQL();
    if (changed < 0) {
        setError(error, q.lastError());
        return Outcome::Error;
    }
    if (changed == 0) {
        setError(error,
                 QStringLiteral("the claim on %1 is no longer this worker's").arg(claim.entry.webaddr));
        return Outcome::Lost;
    }
    return Outcome::Done;
}

// A claimed row as the claim reads it: id, attempt, webaddr, texts, fromRecord, toRecord,
// newOnly.
Claim claimFrom(const TQuery& q, const QString& worker)
{
    Claim c;
    c.id = q.value(0, 0).toLongLong();
    c.attempt = q.value(0, 1).toInt();
    c.worker = worker;
    c.entry.webaddr = q.value(0, 2).toString();
    const QString row = q.value(0, 3).toString();
    if (!row.isEmpty())
        c.entry.row = ShopRow::fromStored(row);
    c.entry.fromRecord = q.value(0, 4).toInt();
    c.entry.toRecord = q.value(0, 5).toInt();
    c.entry.newOnly = q.value(0, 6).toInt() != 0;
    return c;
}

const char kClaimColumns[] = "id, attempt, webaddr, texts, fromRecord, toRecord, newOnly";
// Waiting, or claimed by a worker whose lease has ended.
const char kClaimable[] = "state='waiting' or (state='claimed' and leaseUntil<=:expired)";

void bindClaimTimes(TConnection& connection, TQuery& q, const QString& worker, int leaseSeconds)
{
    const QString user = storeroles::userName(connection);
    q.SetParam(QStringLiteral("serverUser"), user.isEmpty() ? QVariant() : QVariant(user));
    q.SetParam(QStringLiteral("machine"), QSysInfo::machineHostName());
    const qint64 t = now();
    q.SetParam(QStringLiteral("worker"), worker);
    q.SetParam(QStringLiteral("claimed"), t);
    q.SetParam(QStringLiteral("leaseUntil"), t + leaseSeconds);
    q.SetParam(QStringLiteral("expired"), t);
}

// The server takes the row in one statement; a row another worker's claim has locked is passed
// over, not waited for.
std::optional<Claim> claimOnServer(TConnection& connection, const QString& worker, int leaseSeconds,
                                   QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("update shopQueue set state='claimed', worker=:worker, claimed=:claimed, "
                            "serverUser=:serverUser, machine=:machine, "
                            "leaseUntil=:leaseUntil, attempt=attempt+1 where id = (select id from shopQueue "
                            "where %1 order by id limit 1 for update skip locked) returning %2")
                 .arg(QLatin1String(kClaimable), QLatin1String(kClaimColumns)));
    bindClaimTimes(connection, q, worker, leaseSeconds);
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    if (q.RecordCount() == 0)
        return std::nullopt;
    return claimFrom(q, worker);
}

// The file has one writer at a time: the transaction takes the write lock before it reads, so
// no second worker reads the same row as free.
std::optional<Claim> claimInFile(TConnection& connection, const QString& worker, int leaseSeconds,
                                 QString* error)
{
    if (!connection.beginTransaction()) {
        setError(error, connection.error());
        return std::nullopt;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        connection.rollback();
        return std::nullopt;
    };
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("select %1 from shopQueue where %2 order by id limit 1")
                 .arg(QLatin1String(kClaimColumns), QLatin1String(kClaimable)));
    q.SetParam(QStringLiteral("expired"), now());
    if (!q.Open())
        return fail(q.lastError());
    if (q.RecordCount() == 0) {
        connection.rollback();
        return std::nullopt;
    }
    Claim c = claimFrom(q, worker);
    q.Close();
    q.SetSQL(QStringLiteral("update shopQueue set state='claimed', worker=:worker, claimed=:claimed, "
                            "serverUser=:serverUser, machine=:machine, "
                            "leaseUntil=:leaseUntil, attempt=:attempt where id=:id"));
    bindClaimTimes(connection, q, worker, leaseSeconds);
    c.attempt += 1;
    q.SetParam(QStringLiteral("attempt"), c.attempt);
    q.SetParam(QStringLiteral("id"), c.id);
    if (q.ExecSQL() != 1)
        return fail(q.lastError());
    if (!connection.commit())
        return fail(connection.error());
    return c;
}

} // namespace

QString stateName(State state)
{
    return QLatin1String(kStates[static_cast<int>(state)]);
}

QString workerName()
{
    return QSysInfo::machineHostName() + u':' + QString::number(::getpid());
}

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

int add(TConnection& connection, const QList<Entry>& entries, QString* error)
{
    const bool own = !connection.inTransaction();
    if (own && !connection.beginTransaction()) {
        setError(error, connection.error());
        return -1;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        if (own)
            connection.rollback();
        return -1;
    };
    TQuery q(&connection, QStringLiteral("shopQueue"));
    // The unique index over waiting and claimed shops turns a second entry into no change.
    q.SetSQL(QStringLiteral("insert into shopQueue(webaddr, texts, fromRecord, toRecord, newOnly, state, "
                            "attempt, added, stored) values(:webaddr, :texts, :fromRecord, :toRecord, "
                            ":newOnly, 'waiting', 0, :added, 0) on conflict do nothing"));
    int added = 0;
    const qint64 t = now();
    for (const Entry& e : entries) {
        q.SetParam(QStringLiteral("webaddr"), e.webaddr);
        q.SetParam(QStringLiteral("texts"), e.row ? QVariant(e.row->stored()) : QVariant());
        q.SetParam(QStringLiteral("fromRecord"), e.fromRecord);
        q.SetParam(QStringLiteral("toRecord"), e.toRecord);
        q.SetParam(QStringLiteral("newOnly"), e.newOnly ? 1 : 0);
        q.SetParam(QStringLiteral("added"), t);
        const int changed = q.ExecSQL();
        if (changed < 0)
            return fail(q.lastError());
        added += changed;
    }
    if (own && !connection.commit())
        return fail(connection.error());
    return added;
}

std::optional<Claim> claim(TConnection& connection, const QString& worker, int leaseSeconds, QString* error)
{
    setError(error, QString());
    if (connection.engine() == TConnection::Engine::Postgres)
        return claimOnServer(connection, worker, leaseSeconds, error);
    return claimInFile(connection, worker, leaseSeconds, error);
}

Outcome renew(TConnection& connection, const Claim& claim, int leaseSeconds, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("update shopQueue set leaseUntil=:leaseUntil") + QLatin1String(kHeld));
    q.SetParam(QStringLiteral("leaseUntil"), now() + leaseSeconds);
    return changeClaimed(q, claim, error);
}

Outcome markDone(TConnection& connection, const Claim& claim, qint64 stored, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("update shopQueue set state='done', finished=:finished, stored=:stored, "
                            "leaseUntil=NULL, reason=NULL") +
             QLatin1String(kHeld));
    q.SetParam(QStringLiteral("finished"), now());
    q.SetParam(QStringLiteral("stored"), stored);
    return changeClaimed(q, claim, error);
}

Outcome markFailed(TConnection& connection, const Claim& claim, const QString& reason, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("update shopQueue set state='failed', finished=:finished, leaseUntil=NULL, "
                            "reason=:reason") +
             QLatin1String(kHeld));
    q.SetParam(QStringLiteral("finished"), now());
    q.SetParam(QStringLiteral("reason"), reason);
    return changeClaimed(q, claim, error);
}

Outcome giveBack(TConnection& connection, const Claim& claim, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(
        QStringLiteral("update shopQueue set state='waiting', worker=NULL, claimed=NULL, leaseUntil=NULL") +
        QLatin1String(kHeld));
    return changeClaimed(q, claim, error);
}

int retryFailed(TConnection& connection, QString* error)
{
    if (!connection.beginTransaction()) {
        setError(error, connection.error());
        return -1;
    }
    auto fail = [&](const QString& text) {
        setError(error, text);
        connection.rollback();
        return -1;
    };
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("select id, webaddr from shopQueue where state='failed' order by id"));
    if (!q.Open())
        return fail(q.lastError());
    QList<QPair<qint64, QString>> failed;
    for (int r = 0; r < q.RecordCount(); ++r)
        failed.append({q.value(r, 0).toLongLong(), q.value(r, 1).toString()});
    q.Close();
    TQuery open(&connection, QStringLiteral("shopQueue"));
    open.SetSQL(QStringLiteral(
        "select count(*) from shopQueue where webaddr=:webaddr and state in ('waiting', 'claimed')"));
    TQuery back(&connection, QStringLiteral("shopQueue"));
    back.SetSQL(QStringLiteral("update shopQueue set state='waiting', worker=NULL, claimed=NULL, "
                               "leaseUntil=NULL, finished=NULL, reason=NULL where id=:id"));
    TQuery drop(&connection, QStringLiteral("shopQueue"));
    drop.SetSQL(QStringLiteral("delete from shopQueue where id=:id"));
    for (const auto& [id, webaddr] : failed) {
        open.SetParam(QStringLiteral("webaddr"), webaddr);
        if (!open.Open())
            return fail(open.lastError());
        const bool queuedAgain = open.value(0, 0).toLongLong() > 0;
        open.Close();
        // A second waiting entry would mine the shop twice; the one already waiting stands.
        TQuery& change = queuedAgain ? drop : back;
        change.SetParam(QStringLiteral("id"), id);
        if (change.ExecSQL() < 0)
            return fail(change.lastError());
    }
    if (!connection.commit())
        return fail(connection.error());
    return static_cast<int>(failed.size());
}

std::optional<Status> status(TConnection& connection, QString* error)
{
    TQuery q(&connection, QStringLiteral("shopQueue"));
    q.SetSQL(QStringLiteral("select state, count(*) from shopQueue where state in ('waiting', 'done') "
                            "group by state"));
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    Status s;
    for (int r = 0; r < q.RecordCount(); ++r)
        (q.value(r, 0).toString() == stateName(State::Waiting) ? s.waiting : s.done) =
            q.value(r, 1).toLongLong();
    q.Close();
    q.SetSQL(QStringLiteral("select id, webaddr, worker, claimed, leaseUntil, serverUser, machine from "
                            "shopQueue where state='claimed' order by id"));
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    for (int r = 0; r < q.RecordCount(); ++r)
        s.claimed << Held{q.value(r, 0).toLongLong(), q.value(r, 1).toString(),
                          q.value(r, 2).toString(),   {q.value(r, 5).toString(), q.value(r, 6).toString()},
                          q.value(r, 3).toLongLong(), q.value(r, 4).toLongLong()};
    q.Close();
    q.SetSQL(QStringLiteral("select id, webaddr, reason, serverUser, machine from shopQueue where "
                            "state='failed' order by id"));
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    for (int r = 0; r < q.RecordCount(); ++r)
        s.failed << FailedShop{q.value(r, 0).toLongLong(),
                               q.value(r, 1).toString(),
                               q.value(r, 2).toString(),
                               {q.value(r, 3).toString(), q.value(r, 4).toString()}};
    q.Close();
    q.SetSQL(QStringLiteral("select serverUser, machine, count(*) from shopQueue where state='done' group by "
                            "serverUser, machine order by serverUser, machine"));
    if (!q.Open()) {
        setError(error, q.lastError());
        return std::nullopt;
    }
    for (int r = 0; r < q.RecordCount(); ++r)
        s.doneBy.append({{q.value(r, 0).toString(), q.value(r, 1).toString()}, q.value(r, 2).toLongLong()});
    return s;
}

} // namespace shopqueue
