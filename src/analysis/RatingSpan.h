#pragma once

#include <QString>

class TConnection;

namespace analysis {

// When a shop's stored ratings begin and end, whatever their rating and trade type: what an
// analysis that found nothing in its range tells the user, so that an empty chart does not
// look like a broken one.
struct RatingSpan
{
    QString first; // the earliest rating time as stored; empty when the shop has none
    QString last;
    QString error; // the engine's message when the span could not be read

    bool any() const { return !first.isEmpty(); }
};

RatingSpan readRatingSpan(TConnection& connection, qlonglong shop);

// The analysis views' status text for a run that found nothing: with the span of the shop it
// looked at, or on its own for a run over many shops.
QString emptyRangeNote(const RatingSpan& span);
QString emptyRangeNote();

} // namespace analysis
