#include "analysis/ShopCompare.h"

#include "analysis/AnalysisRun.h"
#include "store/TQuery.h"
#include "text/Formats.h"

#include <map>

namespace analysis {
namespace {

// The trend's key of a time: the date, the week of the year (weeks from Sunday, week 1 holding
// 1 January) or the month, as the trend's statements give them.
QVariant keyOf(TrendPeriod period, const QDateTime& t)
{
    const QDate d = t.date();
    switch (period) {
    case TrendPeriod::Week: {
        const int jan1 = QDate(d.year(), 1, 1).dayOfWeek() % 7; // Sunday 0
        return (d.dayOfYear() - 1 + jan1) / 7 + 1;
    }
    case TrendPeriod::Month:
        return d.toString(QStringLiteral("yyyy-MM"));
    case TrendPeriod::Quarter:
        return (d.month() - 1) / 3 + 1;
    case TrendPeriod::Year:
        return d.toString(QStringLiteral("yyyy"));
    case TrendPeriod::Day:
        break;
    }
    return d.toString(Qt::ISODate);
}

// Sorts keys as the trend orders them: weeks and quarters by number, the others as text.
struct KeyOrder
{
    bool operator()(const QVariant& a, const QVariant& b) const
    {
        if (a.typeId() == QMetaType::Int && b.typeId() == QMetaType::Int)
            return a.toInt() < b.toInt();
        return a.toString() < b.toString();
    }
};

using Series = std::map<QVariant, QVariant, KeyOrder>;

QVariant valueAt(const Series& s, const QVariant& key, const QVariant& fallback)
{
    const auto it = s.find(key);
    return it == s.end() ? fallback : it->second;
}

} // namespace

std::optional<QList<CompareRow>> runCompare(TConnection& connection, const QList<qlonglong>& shops,
                                            CompareMeasure measure, TrendPeriod period, const QDate& begin,
                                            const QDate& end, QString* error)
{
    auto failed = [error](const QString& text) {
        if (error)
            *error = text;
        return std::nullopt;
    };
    QList<Series> series;
    Series periods;
    for (qlonglong shop : shops) {
        Series s;
        if (measure == CompareMeasure::Count || measure == CompareMeasure::Amount) {
            const Result trend = runTrend(connection, Range{shop, begin, end}, period);
            if (!trend.ok())
                return failed(trend.error);
            const int key = trend.column(QStringLiteral("time1"));
            for (int r = 0; trend.complete && r < trend.rowCount(); ++r) {
                const QVariant k = trend.rows[r].value(key).toString().contains(u'-')
                                       ? QVariant(trend.rows[r].value(key).toString())
                                       : QVariant(trend.rows[r].value(key).toInt());
                s[k] = measure == CompareMeasure::Count ? trend.counts.value(r) : trend.values.value(r);
            }
        } else {
            // Bad ratings with the trend's bounds (after the begin day, up to the end day);
            // minings of every day of the range.
            const bool bad = measure == CompareMeasure::Bad;
            TQuery q(&connection, QStringLiteral("compare"));
            q.SetSQL(
                bad ? QStringLiteral("select pjsj from pjInfo where dian_id=:dianId and pj='差评' and "
                                     "pjsj>:beginDate and pjsj<=:endDate")
                    : QStringLiteral("select minedAt, salerCredit from dianHistory where dian_id=:dianId "
                                     "and minedAt>=:beginDate and minedAt<:endDate order by id"));
            q.SetParam(QStringLiteral("dianId"), shop);
            const QString time = bad ? QString() : QStringLiteral(" 00:00:00");
            q.SetParam(QStringLiteral("beginDate"), formats::shortDate(begin) + time);
            q.SetParam(QStringLiteral("endDate"), formats::shortDate(bad ? end : end.addDays(1)) + time);
            if (!q.Open())
                return failed(q.lastError());
            for (int r = 0; r < q.RecordCount(); ++r) {
                const QDateTime t = q.value(r, 0).toDateTime().isValid()
                                        ? q.value(r, 0).toDateTime()
                                        : QDateTime::fromString(q.value(r, 0).toString().left(19),
                                                                QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                const QVariant k = keyOf(period, t);
                if (measure == CompareMeasure::Bad)
                    s[k] = valueAt(s, k, 0).toLongLong() + 1;
                else
                    s[k] = q.value(r, 1); // the last one of the period stays
            }
        }
        for (const auto& [key, value] : s)
            periods[key] = QVariant();
        series << s;
    }
    QList<CompareRow> out;
    QList<QVariant> known(shops.size());
    for (const auto& entry : periods) {
        const QVariant& key = entry.first;
        for (int i = 0; i < shops.size(); ++i) {
            QVariant value =
                valueAt(series[i], key, measure == CompareMeasure::Credit ? QVariant() : QVariant(0));
            // A credit holds from the mining that read it until the next.
            if (measure == CompareMeasure::Credit) {
                if (value.isValid())
                    known[i] = value;
                value = known[i];
            }
            out << CompareRow{trendLabel(period, key), shops[i], value};
        }
    }
    return out;
}

} // namespace analysis
