#pragma once

#include "settings/WatchSettings.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

class TConnection;

// What changed in each shop between two rows of its history (dianHistory): the last one and
// an earlier one, and what the ratings stored in between add up to; with the [Watch] rules
// each change crosses. Only reads; on the thread that owns the connection.
namespace shopchanges {

struct Change
{
    qlonglong shopId = 0;
    QString dianzhu;
    QString dianming;
    QString from; // minedAt of the earlier row
    QString to;   // minedAt of the last row
    qlonglong newRatings = 0;
    qlonglong sales = 0;
    qlonglong amountUnits = 0; // summed price of the sales in 1/10,000 yuan
    qlonglong bad = 0;
    qlonglong neutral = 0;
    qlonglong salerCreditDelta = 0;
    qlonglong buyerCreditDelta = 0;
    QString salerGoodRate;
    QString salerGoodRateBefore;
    // Sales of the interval before the earlier row (from the row before it), when there is one.
    std::optional<qlonglong> salesBefore;
    QString before;      // minedAt of the row before the earlier row
    QStringList crossed; // names of the [Watch] rules this change crosses
};

struct Options
{
    // Compare with the last row before this time instead of the previous row.
    std::optional<QDateTime> since;
    // Only these shops; every shop with history when not set.
    std::optional<QSet<qlonglong>> shops;
    WatchSettings rules;
};

// Shops with two rows to compare, biggest moves first (sales, then new bad ratings, then id).
// Nothing, with the engine's message in error, when a statement fails.
std::optional<QList<Change>> collect(TConnection& connection, const Options& options, QString* error);

// The rules of `rules` that change crosses, by their key names in [Watch].
QStringList crossedRules(const Change& change, const WatchSettings& rules);

// A summed price in 1/10,000 yuan as a decimal text without trailing zeros ("12.5").
QString amountText(qlonglong units);

} // namespace shopchanges
