#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <memory>
#include <string>

class TConnection;

// Page download slots to one marketplace host, shared by every program that mines into the
// same server store: each slot a session advisory lock on a connection of its own, so the
// server frees a program's slots when its connection ends, however the program ends. A host
// the marketplace asked to wait (a 429, a Retry-After) is held for the whole team by one more
// lock, kept by the program that was told until the wait is over. Every call is one short
// statement that never waits for a lock. One thread.
class TTeamSlots
{
public:
    TTeamSlots();
    ~TTeamSlots();
    TTeamSlots(const TTeamSlots&) = delete;
    TTeamSlots& operator=(const TTeamSlots&) = delete;

    // Connects to the server store; false with error.
    bool open(const QString& url, QString* error);
    void setCap(int cap) { m_cap = cap; }
    int cap() const { return m_cap; }

    // A slot taken for a download to host (0 .. cap-1); -1 when every slot is taken by the
    // team (this program included) or the host is held; kNoServer when the server cannot be
    // asked (the download goes on under the run's own limits, as before the cap).
    static constexpr int kNoServer = -2;
    int take(const std::string& host);
    // Gives back a slot take() gave (kNoServer and -1 are ignored).
    void give(const std::string& host, int slot);
    // Holds the host for the team for ms from now (a longer hold already made stands).
    void hold(const std::string& host, qint64 ms);
    // The slots this program holds now, for every host.
    int held() const;

private:
    // One statement whose first row's first column is returned as a number; -1 on failure.
    qint64 scalar(const QByteArray& sql);
    // The lock key of a host (stable across programs), with room for 64 slots below it.
    static qint32 hostKey(const std::string& host);
    void releaseExpiredHolds();

    std::unique_ptr<TConnection> m_connection;
    QElapsedTimer m_clock;
    int m_cap = 0;
    int m_generation = -1;
    QHash<QByteArray, QSet<int>> m_mine;
    QHash<QByteArray, qint64> m_holdUntil; // holds this program keeps, by host
};
