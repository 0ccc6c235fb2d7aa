#pragma once

// How page downloads cope with a busy or flaky marketplace: retries with a doubling pause,
// a least pause between pages, and how many pages of a run may be in flight to one host.
// Plain values, keys of section [Net].
struct NetSettings
{
    static constexpr int kMaxRetries = 10;
    static constexpr int kMaxDelayMs = 600'000; // ten minutes
    static constexpr int kMaxConnections = 16;
    static constexpr int kMaxTeamConnections = 64;

    int Retries = 3;       // further attempts after a failed page download
    int RetryDelay = 2000; // ms before the first retry; doubles with each one
    int PageDelay = 0;     // least ms between the starts of two page downloads to one host
    int Connections = 4;   // most page downloads of a run in flight at once to one host (1..16)
    // Most page downloads in flight to one host across every program on the same server store
    // (0: no team cap; 1..64). Kept by the server; nothing on a database file.
    int TeamConnections = 0;
};
