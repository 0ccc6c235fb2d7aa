#include "mining/THostGate.h"

#include <algorithm>

void THostGate::reset(int cap, int pageDelayMs)
{
    m_cap = std::max(1, cap);
    m_inForce = m_cap;
    m_pageDelay = std::max(0, pageDelayMs);
    m_clean = 0;
    m_lastStart = -1;
    m_lastEnd = -1;
    m_holdUntil = -1;
}

qint64 THostGate::waitBefore(int inFlight, qint64 now) const
{
    if (inFlight >= m_inForce)
        return -1;
    qint64 at = now;
    if (m_lastStart >= 0)
        at = std::max(at, m_lastStart + m_pageDelay);
    // One at a time, the pause also counts from the end of the last download, as the server
    // sees it: a request reaches it a moment after it was started here.
    if (m_inForce == 1 && m_lastEnd >= 0)
        at = std::max(at, m_lastEnd + m_pageDelay);
    at = std::max(at, m_holdUntil);
    return at - now;
}

void THostGate::started(qint64 now)
{
    m_lastStart = now;
}

void THostGate::ended(qint64 now)
{
    m_lastEnd = now;
}

void THostGate::succeeded()
{
    if (++m_clean >= kCleanPagesToGrow) {
        m_clean = 0;
        m_inForce = std::min(m_cap, m_inForce + 1);
    }
}

void THostGate::troubled(qint64 now, qint64 retryAfterMs)
{
    m_clean = 0;
    m_inForce = std::max(1, m_inForce / 2);
    if (retryAfterMs > 0)
        m_holdUntil = std::max(m_holdUntil, now + retryAfterMs);
}
