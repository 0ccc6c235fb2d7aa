#pragma once

#include "store/ServerSchema.h"

#include <QList>

// The analyses' counts on a server, so that a ranking or a trend over a long range adds up
// counts instead of reading every rating. Triggers on pjInfo keep what each statement changed
// in a table of the session (pjInfoTallyStage); a deferred trigger adds it to the counts when
// the transaction commits (pjInfoTallyPending holds one row a transaction that changed any).
//
//   pjInfoRankTally: ratings per shop, trade type, rating, item title, item id, price and
//     month ("yyyy-MM"), column n.
//   pjInfoHourTally: as on the file (store/Tallies.h).
//
// Key columns are never NULL: a NULL is held as '' (or 0, false) with its bit set in the
// column nulls, in pjInfoRankTally 1 itemTitle, 2 itemId, 4 jg, 8 pj. A rating whose shop or
// time is NULL is in neither (the analyses never select it), nor in the ranking's tally when
// its trade type is NULL. Rows whose counts came down to 0 may stay until their shop loses
// ratings again; readers skip them.
namespace servertally {

// Functions, tables (each filled from pjInfo when made) and triggers, in creation order;
// the tables and triggers go after pjInfo.
QList<serverschema::Piece> functionPieces();
QList<serverschema::Piece> tablePieces();

// Both tallies counted afresh when they are there: for a column of pjInfo added back, whose
// ratings' old values the tallies still count.
QString recountIfPresent();

} // namespace servertally
