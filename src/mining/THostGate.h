#pragma once

#include <QtGlobal>

// Decides when the next page download to one host may start: at most the connections in
// force in flight, at least PageDelay between two starts, nothing while a server's
// Retry-After holds, and the connections in force halved on trouble (a 429, a 5xx, a
// time-out, a dropped connection) and grown by one after 20 pages in a row without it, up to
// the cap. Times are milliseconds of one monotonic clock given by the caller. One thread.
class THostGate
{
public:
    static constexpr int kCleanPagesToGrow = 20;

    void reset(int cap, int pageDelayMs);

    // Milliseconds until a new request may start with inFlight requests running; 0: now;
    // -1: not before one of those ends.
    qint64 waitBefore(int inFlight, qint64 now) const;
    void started(qint64 now);
    // A download ended (page or failure).
    void ended(qint64 now);
    void succeeded();
    // retryAfterMs: the server's Retry-After (0 when none): every new request waits for it.
    void troubled(qint64 now, qint64 retryAfterMs);

    int inForce() const { return m_inForce; }
    int cap() const { return m_cap; }

private:
    int m_cap = 1;
    int m_inForce = 1;
    int m_pageDelay = 0;
    int m_clean = 0;
    qint64 m_lastStart = -1;
    qint64 m_lastEnd = -1;
    qint64 m_holdUntil = -1;
};
