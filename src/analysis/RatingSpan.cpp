#include "analysis/RatingSpan.h"

#include "store/TQuery.h"

namespace analysis {

RatingSpan readRatingSpan(TConnection& connection, qlonglong shop)
{
    RatingSpan span;
    TQuery q(&connection, QStringLiteral("ratingSpan"));
    q.SetSQL(QStringLiteral("select min(pjsj) as first, max(pjsj) as last from pjInfo where dian_id=:id"));
    q.SetParam(QStringLiteral("id"), shop);
    if (!q.Open()) {
        span.error = q.lastError();
        return span;
    }
    // As the grids show them, on either engine.
    span.first = q.FieldByName(QStringLiteral("first")).asString();
    span.last = q.FieldByName(QStringLiteral("last")).asString();
    return span;
}

QString emptyRangeNote()
{
    return QStringLiteral("所选时间内没有评价");
}

QString emptyRangeNote(const RatingSpan& span)
{
    if (!span.error.isEmpty())
        return emptyRangeNote();
    if (!span.any())
        return QStringLiteral("所选时间内没有评价：本店还没有评价");
    return QStringLiteral("所选时间内没有评价：本店的评价时间从%1到%2").arg(span.first, span.last);
}

} // namespace analysis
