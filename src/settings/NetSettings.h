#pragma once

// How page downloads cope with a busy or flaky marketplace: retries with a doubling pause,
// and a least pause between pages. Plain values, keys of section [Net].
struct NetSettings
{
    static constexpr int kMaxRetries = 10;
    static constexpr int kMaxDelayMs = 600'000; // ten minutes

    int Retries = 3;       // further attempts after a failed page download
    int RetryDelay = 2000; // ms before the first retry; doubles with each one
    int PageDelay = 0;     // ms from the end of one page download to the start of the next
};
