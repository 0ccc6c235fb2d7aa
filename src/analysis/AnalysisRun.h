#pragma once

#include "analysis/AnalysisSql.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

class TConnection;

namespace analysis {

// What one run of an analysis read: the rows of the statement the window's dataset shows,
// and per row the label and the charted figures. A plain value, handed between threads.
// Sums of prices are exact money (store/Money.h), held as the doubles nearest them.
struct Result
{
    QString error; // the engine's message; empty when the run went through
    // The statement the window shows: the rows are the rows it gives, though they were read
    // from the stored keys and tallies (AnalysisKeys.h) rather than by running it.
    QString sql;
    QStringList columns;
    std::vector<QVariantList> rows;
    QStringList labels;   // one per row
    QList<double> values; // ranking: count or amount; trend: amount; distribution: amount
    QList<double> counts; // trend: count per period
    // Trend only: the two peaks, and false when the run ended after the peak amount (nothing
    // to chart).
    double amountPeak = 0;
    double countPeak = 0;
    bool complete = true;
    // A run of a view that found nothing: where the shop's ratings lie, as its status text.
    QString emptyNote;
    // Ranking detail only: the ids of each item's stored ratings, in id order.
    QHash<QString, std::vector<qlonglong>> itemRatings;

    bool ok() const { return error.isEmpty(); }
    int rowCount() const { return static_cast<int>(rows.size()); }
    // Column index by name, without regard to letter case; -1 when absent.
    int column(const QString& name) const;
};

// Progress of a run in percent of the window's gauge, reported from the thread that runs it.
using Progress = std::function<void(int percent)>;

// Each runs its statements on the given connection, on the calling thread.
Result runRank(TConnection& connection, const RankRequest& request);
Result runTrend(TConnection& connection, const Range& range, TrendPeriod period,
                const Progress& progress = {});
Result runDist(TConnection& connection, const Range& range, DistPeriod period);
// Every row of the ranking's statement, uncut and in its order, added up from the counts
// table pjInfoTally (on a server pjInfoRankTally). False when the store lacks the table (a
// file opened for reading only).
bool rankFromTally(TConnection& connection, const RankRequest& request, Result& result);
// Every stored rating of the shop's given items, whatever their date, rating and trade type:
// what the ranking's detail grid shows under each ranked item. One pass over the shop.
Result runRankDetail(TConnection& connection, qlonglong shop, const QStringList& items);

} // namespace analysis

Q_DECLARE_METATYPE(analysis::Result)
