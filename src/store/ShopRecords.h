#pragma once

#include "store/ShopRow.h"
#include "store/TConnection.h"

#include <QStringList>
#include <optional>

// The shops a run mines, as dianbase keeps them, and what a walk asks about their stored
// ratings. Functions on a connection owned by the calling thread; a failure gives the
// engine's message.
namespace shoprecords {

// Stores the shop under its address (a stored one is updated) and gives its id; nothing with
// error on failure. Look-up and write in one transaction, so that two programs storing the same shop at
// once make one row for its address.
std::optional<qint64> store(TConnection& connection, const ShopRow& row, QString* error);
// The id of the shop stored under an address: 0 when none or on failure (error set).
qint64 idOf(TConnection& connection, const QString& webaddr, QString* error);
// The shop stored under an address, else the address alone.
ShopRow rowOf(TConnection& connection, const QString& webaddr);
// Whether a shop with this id is stored; nothing on failure.
std::optional<bool> exists(TConnection& connection, qint64 id, QString* error);
// The shop's stored ratings, told apart by their keys; 0 on failure.
qint64 storedRatings(TConnection& connection, const QString& shopId);
// How many of the rating keys are not stored for the shop; -1 with error on failure.
int unknownRatings(TConnection& connection, const QString& shopId, const QStringList& keys, QString* error);

} // namespace shoprecords
