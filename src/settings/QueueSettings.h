#pragma once

// How long a worker's claim on a queued shop lasts without being renewed; a worker that dies
// or loses the database leaves its shop to others after this. Key LeaseSeconds of section
// [Database].
struct QueueSettings
{
    static constexpr int kMaxLeaseSeconds = 86'400; // a day

    int LeaseSeconds = 120; // 1..kMaxLeaseSeconds
};
