#pragma once

// The working views the main window hosts, one at a time.
enum class ViewId
{
    Index,   // navigation page
    Search,  // search and mining
    Browser, // shopkeeper browser
    Rank,    // product sales ranking
    Trend,   // sales trend
    Dist,    // time distribution
    Changes, // what changed between minings
    Compare, // shops side by side
};

inline constexpr int kViewCount = 8;
