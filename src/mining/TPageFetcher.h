#pragma once

#include "extract/THttpEventSink.h"
#include "settings/TConfig.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <string>

class TThreadHttp;

// The page downloads of one run, one at a time: keeps the least pause between pages
// ([Net] PageDelay), tries a failed page again after a doubling pause ([Net] Retries,
// RetryDelay, or a throttled server's Retry-After), and hands each page to the run. Every
// attempt takes the proxy settings current when it starts. Only a failure with the retries
// spent reaches the download worker's failure handler. UI thread only.
class TPageFetcher : public QObject
{
    Q_OBJECT

public:
    explicit TPageFetcher(QObject* parent = nullptr);
    ~TPageFetcher() override;

    // A new run: no pause before its first page, no retries counted. config must outlive it.
    void begin(const TConfig& config);
    // Fetches url once the page pause is over; pageArrived or failed follows.
    void fetch(std::string url);
    // Drops the download in flight (its events are ignored) and ends any pause at once.
    void cancel();

    bool pausing() const { return m_pause.isActive(); }
    // Retries made since begin().
    int retries() const { return m_retryCount; }
    // The pause before retry number attempt (1-based) of a failure: RetryDelay doubled each
    // time, or a longer Retry-After, and never less than the page pause; at most ten minutes.
    static qint64 retryPause(const NetSettings& net, int attempt, qint64 retryAfterMs);

signals:
    // Raised inside the worker's final handler; body is never empty.
    void pageArrived(const std::string& body);
    // The retries are spent (or the failure is final); the worker's failure handler has run.
    void failed(const QString& error);
    // A failed page is tried again after delayMs.
    void retrying(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason);
    void bytesChanged(qint64 done, qint64 total);

private:
    void startDownload();
    void onStatus(TThreadHttp* worker, HttpStatus kind, const QString& text);

    THttpEventSink m_sink;
    QTimer m_pause;
    const TConfig* m_config = nullptr;
    QPointer<TThreadHttp> m_worker;
    std::string m_url;
    int m_attempt = 0;
    int m_retryCount = 0;
    qint64 m_expectedBytes = 0;
    // Since the end of the last download of this run; invalid before the first one.
    QElapsedTimer m_sinceLastEnd;
};
