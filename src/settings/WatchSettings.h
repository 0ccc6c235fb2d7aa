#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The rules of section [Watch] of config.ini that "changes --alerts" checks after a mining;
// each is off unless set. Read where it is used; any thread.
struct WatchSettings
{
    std::optional<qlonglong> BadRatings;      // at least this many new bad ratings
    std::optional<double> SalesChangePercent; // sales per day moved by at least this percentage
    std::optional<qlonglong> CreditDrop;      // the seller's credit fell by at least this much
    std::optional<double> GoodRateDrop;       // the seller's good rate fell by at least these points

    bool any() const { return BadRatings || SalesChangePercent || CreditDrop || GoodRateDrop; }

    // The rules of the file; a value that is neither a whole number nor (for the two
    // percentages) a number with an optional "%" leaves its rule off, with a line for each such
    // key in problems. A missing or unreadable file gives no rules.
    static WatchSettings read(const QString& configPath, QStringList* problems = nullptr);
};
