#pragma once

#include "store/Schema.h"
#include "store/ServerSchema.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

class TConnection;

// Every storing of a shop's profile leaves a row in dianHistory, so a later mining never
// overwrites what an earlier one read: id, dian_id, minedAt (stored form of the time of
// storing), the profile columns of dianBase as stored, totalRatings (what the rating pages
// reported), ratings (the shop's stored ratings after the storing) and lastRatingId (the
// highest pjInfo id of the shop then), so that the ratings between two rows are the shop's
// ratings with ids between theirs. The rows go with their shop however it is deleted.
namespace history {

// The profile columns copied into each row, in stored order.
const QStringList& profileColumns();

// The file's pieces: the table, its index by shop and time, and the trigger on dianBase.
QList<schema::SchemaObject> fileObjects();
// The server's own pieces besides the table and index it takes from the file's: the function
// and the statement trigger that delete a deleted shop's rows.
QList<serverschema::Piece> serverPieces();

// Adds the row of shop shopId inside the caller's transaction, after its profile and ratings
// were stored; profile holds the profile figures by column name (any letter case). False with
// the engine's message in error.
bool record(TConnection& connection, const QString& shopId, const QHash<QString, QVariant>& profile,
            qlonglong totalRatings, QString* error);

} // namespace history
