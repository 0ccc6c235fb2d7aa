#pragma once

#include "analysis/AnalysisSql.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

class TConnection;

// Shops side by side: one figure per period and shop. count and amount are each shop's sales
// per period by the trend's rules (its statement, bounds and keys), bad its new "差评" per
// period, credit the seller credit its history last knew in each period. On the thread that
// owns the connection.
namespace analysis {

enum class CompareMeasure
{
    Count,
    Amount,
    Bad,
    Credit,
};

struct CompareRow
{
    QString period; // the trend's label of the period: "2026-03-18", "12周", "2026-03"
    qlonglong shop = 0;
    QVariant value; // a number; NULL for a credit not known yet
};

// Periods in the trend's order, each with every shop in the order given. Nothing, with the
// engine's message in error, when a statement fails.
std::optional<QList<CompareRow>> runCompare(TConnection& connection, const QList<qlonglong>& shops,
                                            CompareMeasure measure, TrendPeriod period, const QDate& begin,
                                            const QDate& end, QString* error);

} // namespace analysis
