#pragma once

#include "store/ShopRow.h"
#include "store/TConnection.h"

#include <QList>
#include <QString>
#include <optional>

// Shops waiting to be mined, shared by any number of workers on one database: each shop a row,
// claimed by one worker under a lease it renews while it works. A worker that dies leaves its
// shop to be claimed again once the lease has ended; the saver's transaction marks the shop
// done only while the claim is still that worker's, so a shop is never lost nor mined twice.
// Functions on a connection owned by the calling thread.
namespace shopqueue {

enum class State
{
    Waiting,
    Claimed,
    Done,
    Failed,
};

QString stateName(State state);

// A shop to mine, with the run options it was queued with.
struct Entry
{
    QString webaddr;
    // The result row when known; none for a bare address.
    std::optional<ShopRow> row;
    int fromRecord = 1;
    int toRecord = 5000;
    bool newOnly = false;
};

// One claim of one worker on one shop. The attempt tells two claims of the same row apart, so
// that a worker whose lease ended and whose shop was claimed again cannot mark it.
struct Claim
{
    qint64 id = 0;
    int attempt = 0;
    QString worker;
    Entry entry;
};

// This process as a worker: "host:pid".
QString workerName();
// Whole seconds since the epoch, the queue's clock.
qint64 now();

// Puts the shops on the queue in one transaction; a shop already waiting or claimed is passed
// over. The number added, or -1 with error.
int add(TConnection& connection, const QList<Entry>& entries, QString* error);

// Claims the oldest waiting shop, or one whose lease has ended, for leaseSeconds. Nothing when
// no shop is left (error empty) or on failure (error set).
std::optional<Claim> claim(TConnection& connection, const QString& worker, int leaseSeconds, QString* error);

// The result of a change that needs the claim: Lost when the shop is no longer held by it (its
// lease ended and another worker claimed it, or it was marked already).
enum class Outcome
{
    Done,
    Lost,
    Error,
};

// Extends the lease to leaseSeconds from now.
Outcome renew(TConnection& connection, const Claim& claim, int leaseSeconds, QString* error);
// Meant to run inside the transaction that commits the shop's ratings.
Outcome markDone(TConnection& connection, const Claim& claim, qint64 stored, QString* error);
Outcome markFailed(TConnection& connection, const Claim& claim, const QString& reason, QString* error);
// Puts the shop back as waiting at once, for a worker that stops without mining it.
Outcome giveBack(TConnection& connection, const Claim& claim, QString* error);

// Puts every failed shop back as waiting; one that is waiting or claimed again meanwhile (added
// anew) keeps that entry only. The failed shops handled, or -1 with error.
int retryFailed(TConnection& connection, QString* error);

// Who mines a shop: the server user of the worker's store (none on a file) and its machine,
// kept from the claim on.
struct Miner
{
    QString serverUser;
    QString machine;
};

struct Held
{
    qint64 id = 0;
    QString webaddr;
    QString worker;
    Miner miner;
    qint64 since = 0;      // claimed at (epoch seconds)
    qint64 leaseUntil = 0; // the lease ends at
};

struct FailedShop
{
    qint64 id = 0;
    QString webaddr;
    QString reason;
    Miner miner;
};

struct Status
{
    qint64 waiting = 0;
    qint64 done = 0;
    QList<Held> claimed;
    QList<FailedShop> failed;
    // The done shops by who mined them.
    QList<QPair<Miner, qint64>> doneBy;
};

std::optional<Status> status(TConnection& connection, QString* error);

} // namespace shopqueue
