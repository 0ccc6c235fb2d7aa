#pragma once

#include "analysis/AnalysisRun.h"

#include <QSet>
#include <optional>

class TConnection;

// The sales ranking over every stored shop, or the shops a filter selected: the ranking's own
// statement without its shop, with the same bounds, groups, order and ties, each row with its
// shop's dianming. On the thread that owns the connection.
namespace analysis {

// request.range.shop is not used; shops limits the ranking when given. The result's columns
// are the ranking's followed by dianming.
Result runMarketRank(TConnection& connection, const RankRequest& request,
                     const std::optional<QSet<qlonglong>>& shops);

} // namespace analysis
