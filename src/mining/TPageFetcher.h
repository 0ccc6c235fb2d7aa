#pragma once

#include "extract/THttpEventSink.h"
#include "mining/THostGate.h"
#include "settings/TConfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

class TThreadHttp;
class TTeamSlots;

// The page downloads of one run: up to [Net] Connections in flight to one host, started in
// the order they were asked for when THostGate allows (connections in force, PageDelay
// between starts, a server's Retry-After, the back-off after trouble). A failed page is
// tried again after a doubling pause ([Net] Retries, RetryDelay, or a longer Retry-After)
// before any later page starts. Every attempt takes the proxy settings current when it
// starts. Only a failure with the retries spent is reported (failed). Pages arrive as they
// end, each with the tag it was asked with; the caller puts them back in order. One download
// worker thread per transfer. UI thread only.
class TPageFetcher : public QObject
{
    Q_OBJECT

public:
    explicit TPageFetcher(QObject* parent = nullptr);
    ~TPageFetcher() override;

    // A new run: no pause before its first page, no retries counted, the connections in
    // force at the cap. config must outlive it.
    void begin(const TConfig& config);
    // Queues url; pageArrived (with tag) or failed follows.
    void fetch(std::string url, int tag = 0);
    // Drops every download queued or in flight (their events are ignored) and ends any pause.
    void cancel();
    // The team's slots, taken around each download on top of the run's own gate, and told of
    // a marketplace's request to wait; none: no team cap. Not owned; set between runs.
    void setTeam(TTeamSlots* team) { m_team = team; }

    bool pausing() const { return m_pause.isActive(); }
    // Downloads queued or in flight.
    int pending() const { return static_cast<int>(m_queue.size() + m_active.size()); }
    int inFlight() const { return static_cast<int>(m_active.size()); }
    // Retries made since begin().
    int retries() const { return m_retryCount; }
    // The connections in force for the host of the run's last page (the cap before any).
    int connectionsInForce() const;
    // The most downloads that were in flight at once since begin().
    int mostInFlight() const { return m_mostInFlight; }
    // The pause before retry number attempt (1-based) of a failure: RetryDelay doubled each
    // time, or a longer Retry-After, and never less than the page pause; at most ten minutes.
    static qint64 retryPause(const NetSettings& net, int attempt, qint64 retryAfterMs);
    // "scheme://host[:port]" of an address, the key of its gate.
    static std::string hostOf(const std::string& url);

signals:
    // Raised inside the worker's final handler; body is never empty.
    void pageArrived(int tag, const std::string& body);
    // The retries are spent (or the failure is final) for the page at url.
    void failed(const QString& error, const QString& url);
    // A failed page is tried again after delayMs.
    void retrying(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason);
    void bytesChanged(qint64 done, qint64 total);
    // The connections in force for a host changed (back-off or growth).
    void connectionsChanged(int inForce);

private:
    struct Request
    {
        std::string url;
        std::string host;
        int tag = 0;
        int attempt = 0;
        qint64 notBefore = 0;
    };
    struct Active
    {
        QPointer<TThreadHttp> worker;
        Request request;
        int teamSlot = -1;
    };

    // Starts what may start now and arms the pause for the rest.
    void pump();
    void start(Request request, int teamSlot);
    void giveSlot(const Active& active);
    void onStatus(TThreadHttp* worker, HttpStatus kind, const QString& text);
    THostGate& gate(const std::string& host);
    int inFlightTo(const std::string& host) const;

    THttpEventSink m_sink;
    QTimer m_pause;
    QElapsedTimer m_clock;
    const TConfig* m_config = nullptr;
    std::deque<Request> m_queue;
    std::vector<Active> m_active;
    QHash<QByteArray, THostGate> m_gates;
    std::string m_lastHost;
    // The worker whose bytes the bar shows: the one started last.
    QPointer<TThreadHttp> m_shown;
    TTeamSlots* m_team = nullptr;
    int m_retryCount = 0;
    int m_mostInFlight = 0;
    qint64 m_expectedBytes = 0;
};
