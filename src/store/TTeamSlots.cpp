#include "store/TTeamSlots.h"

#include "store/TConnection.h"

#include <QStringList>
#include <libpq-fe.h>

namespace {

// The first keys of the server's advisory locks that stand for download slots and for team
// holds; the run locks use 7263402.
constexpr int kSlotClass = 7263403;
constexpr int kHoldClass = 7263404;

} // namespace

TTeamSlots::TTeamSlots()
{
    m_clock.start();
}

TTeamSlots::~TTeamSlots() = default;

bool TTeamSlots::open(const QString& url, QString* error)
{
    auto connection = std::make_unique<TConnection>();
    if (!connection->open(url)) {
        *error = connection->error();
        return false;
    }
    m_connection = std::move(connection);
    m_generation = m_connection->generation();
    m_mine.clear();
    m_holdUntil.clear();
    return true;
}

qint32 TTeamSlots::hostKey(const std::string& host)
{
    // FNV-1a: the same number in every program, unlike a seeded hash.
    quint32 h = 2166136261u;
    for (unsigned char c : host) {
        h ^= c;
        h *= 16777619u;
    }
    return static_cast<qint32>((h & 0x1ffffffu) << 6);
}

qint64 TTeamSlots::scalar(const QByteArray& sql)
{
    PGconn* link = m_connection->serverLink();
    PGresult* r = PQexec(link, sql.constData());
    qint64 value = -1;
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 && !PQgetisnull(r, 0, 0))
        value = QByteArray(PQgetvalue(r, 0, 0)).toLongLong();
    PQclear(r);
    return value;
}

void TTeamSlots::releaseExpiredHolds()
{
    const qint64 now = m_clock.elapsed();
    for (auto it = m_holdUntil.begin(); it != m_holdUntil.end();) {
        if (it.value() > now) {
            ++it;
            continue;
        }
        // Unanswered, the hold is still the server's: it is given back at the next call.
        if (scalar(QByteArray("SELECT pg_advisory_unlock(") + QByteArray::number(kHoldClass) + ',' +
                   QByteArray::number(hostKey(it.key().toStdString())) + ")::int") < 0) {
            ++it;
            continue;
        }
        it = m_holdUntil.erase(it);
    }
}

int TTeamSlots::take(const std::string& host)
{
    if (!m_connection || !m_connection->ensureLink())
        return kNoServer;
    // A new session after a broken link: the server let go of every lock of the old one.
    if (m_connection->generation() != m_generation) {
        m_generation = m_connection->generation();
        m_mine.clear();
        m_holdUntil.clear();
    }
    releaseExpiredHolds();
    const QByteArray name = QByteArray::fromStdString(host);
    if (m_holdUntil.contains(name))
        return -1;
    const QByteArray key = QByteArray::number(hostKey(host));
    // Another program's hold is an exclusive lock: a shared one is refused while it lasts.
    const qint64 free =
        scalar("SELECT CASE WHEN pg_try_advisory_lock_shared(" + QByteArray::number(kHoldClass) + ',' + key +
               ") THEN pg_advisory_unlock_shared(" + QByteArray::number(kHoldClass) + ',' + key +
               ")::int ELSE 0 END");
    if (free < 0)
        return kNoServer;
    if (free == 0)
        return -1;
    // A session may take its own lock twice: the slots it holds are passed over.
    QStringList mine;
    for (int slot : m_mine.value(name))
        mine << QString::number(slot);
    const QByteArray sql = "SELECT coalesce((SELECT s FROM generate_series(0," +
                           QByteArray::number(m_cap - 1) + ") s WHERE CASE WHEN s = ANY('{" +
                           mine.join(u',').toLatin1() + "}'::int[]) THEN false ELSE pg_try_advisory_lock(" +
                           QByteArray::number(kSlotClass) + ',' + key + " + s) END LIMIT 1), -1) + 1";
    // 0: every slot taken; -1: the server did not answer.
    const qint64 found = scalar(sql);
    if (found < 0)
        return kNoServer;
    if (found > 0)
        m_mine[name].insert(static_cast<int>(found - 1));
    return static_cast<int>(found - 1);
}

void TTeamSlots::give(const std::string& host, int slot)
{
    const QByteArray name = QByteArray::fromStdString(host);
    QSet<int>& mine = m_mine[name];
    if (slot < 0 || !m_connection || !mine.contains(slot))
        return;
    // A slot whose unlock went unanswered stays counted as this program's, so take() passes it
    // over rather than taking the same lock twice; a new session forgets it with its locks.
    if (m_connection->generation() != m_generation ||
        scalar("SELECT pg_advisory_unlock(" + QByteArray::number(kSlotClass) + ',' +
               QByteArray::number(hostKey(host) + slot) + ")::int") >= 0)
        mine.remove(slot);
}

void TTeamSlots::hold(const std::string& host, qint64 ms)
{
    if (!m_connection || ms <= 0)
        return;
    const QByteArray name = QByteArray::fromStdString(host);
    const qint64 until = m_clock.elapsed() + ms;
    auto it = m_holdUntil.find(name);
    if (it != m_holdUntil.end()) {
        it.value() = std::max(it.value(), until);
        return;
    }
    // Another program holds the host already: its hold stands for the team.
    if (scalar("SELECT pg_try_advisory_lock(" + QByteArray::number(kHoldClass) + ',' +
               QByteArray::number(hostKey(host)) + ")::int") == 1)
        m_holdUntil.insert(name, until);
}

int TTeamSlots::held() const
{
    int n = 0;
    for (const QSet<int>& taken : m_mine)
        n += static_cast<int>(taken.size());
    return n;
}
