#pragma once

#include <atomic>

// Two process-wide flags that order the background work; no locks are taken. Any thread.
namespace runflags {

// A download of a search or mining run is in progress (set and cleared by the runs).
extern std::atomic<bool> netBusy;
// The rating saver is writing (set by the mining run, cleared by the saver).
extern std::atomic<bool> savingRatings;

} // namespace runflags
