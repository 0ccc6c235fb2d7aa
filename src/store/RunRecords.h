#pragma once

#include "store/ShopRow.h"
#include "store/TConnection.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>

// Mining runs recorded in the database, so that a run cut off by a crash, a kill or a failed
// download can be continued with its unfinished shops. Functions on a connection owned by the
// calling thread.
namespace runrecords {

enum class ShopState
{
    Pending,    // not mined yet, or cut off before its ratings were committed
    Done,       // its ratings are committed
    Incomplete, // committed, but the walk was cut short by a failed download or a cancel
    Failed,     // the shop could not be mined (no rating link, a storage fault)
    Skipped,    // deleted from the database before the run got to it
};

enum class RunState
{
    Running,
    Finished,
    Cancelled,
    Failed,
    Interrupted, // recorded as running, but no program holds it any more
};

QString stateName(ShopState state);
QString stateName(RunState state);

struct Shop
{
    int position = 0;
    qint64 shopId = 0;
    QString webaddr;
    ShopRow row; // the result row
    ShopState state = ShopState::Pending;
    qint64 stored = 0;
    qint64 fresh = 0; // of the stored, those that were not stored before
};

struct Run
{
    qint64 id = 0;
    QString started;
    RunState state = RunState::Running;
    int fromRecord = 1;
    int toRecord = 5000;
    bool newOnly = false;
    QString error;
    QString serverUser; // who mined it: the server user (none on a file) and the machine
    QString machine;
    QList<Shop> shops;

    int shopsDone() const;
    qint64 ratingsStored() const;
    qint64 ratingsNew() const;
    // Shops still to mine: pending, cut short or failed.
    bool unfinished(const Shop& shop) const;
};

// Records a new run with its shops, and who mines it, in one transaction; 0 with error on failure.
qint64 create(TConnection& connection, int fromRecord, int toRecord, bool newOnly, const QList<Shop>& shops,
              QString* error);
// Marks one shop; meant to run inside the transaction that commits its ratings.
bool markShop(TConnection& connection, qint64 runId, int position, ShopState state, qint64 stored,
              QString* error, qint64 fresh = 0);
bool setState(TConnection& connection, qint64 runId, RunState state, const QString& runError, QString* error);
// A run with its shops; nothing when the id is unknown (error empty) or on failure.
std::optional<Run> load(TConnection& connection, qint64 runId, QString* error);
// Every run, oldest first, with its shops; a running run no program holds is
// told as interrupted.
QList<Run> list(TConnection& connection, QString* error);
// The newest run that is not finished and not cancelled and has shops left; 0 when none.
// Without includeHeld, a run some program is mining now is passed over.
qint64 lastUnfinished(TConnection& connection, QString* error, bool includeHeld = true);

// Held by the one program that mines a run; released when it ends or dies (an advisory
// lock on a file beside the database, or on a server a session lock of a connection of its
// own), so that a second program is told the run is busy.
class RunLock
{
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // False when another program holds the run (busy) or the lock cannot be taken; error then
    // says which (the busy message, or why the lock file or the server failed).
    bool acquire(const QString& databasePath, qint64 runId, bool* busy = nullptr, QString* error = nullptr);
    void release();
    bool held() const { return m_fd >= 0 || m_server != nullptr; }
    // Whether some program holds the run now.
    static bool heldElsewhere(const QString& databasePath, qint64 runId);
    static QString busyMessage(qint64 runId);

private:
    bool acquireOnServer(const QString& url, qint64 runId, bool& busy, QString& error);

    int m_fd = -1;
    QString m_file;
    std::unique_ptr<TConnection> m_server;
};

} // namespace runrecords
