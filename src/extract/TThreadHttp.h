#pragma once

#include "extract/THttpEventSink.h"
#include "settings/THttpAgent.h"

#include <QPointer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

// One page download: a thread that performs one HTTP GET with a client of its own and ends.
//
// Thread rule: create it on the user-interface thread (the thread of the sink, running an
// event loop). The worker raises the sink's signals on that thread and waits until each
// handler has returned, so events arrive in order and Body() and ResultCode() can be read
// inside a handler. It frees itself after its last event: keep it in a QPointer if you need
// it beyond a handler (Terminate on a worker that has ended is then a no-op), and never
// wait() for it from the user-interface thread.
//
// Events of one download, in order: status Resolving, Connecting, Connected, a Text status
// with the response's status line, workBegin, work (repeatedly), a Disconnected if the
// server closes the connection (Body still empty), workEnd, then on failure the sink's failed
// (skipped for a retryable failure with Options::quietIfRetryable), and always Disconnecting
// and the final Disconnected. At the final Disconnected, Ended() is true and either Body()
// holds the page (ResultCode "0") or Body() is empty and ResultCode() is "100860".
//
// A download fails on any transport error, a status of 300 or more (redirects are not
// followed, and a redirect's body is not the page asked for), no byte received for the
// read time-out (time spent in the owner's handlers does not count), or a body larger than
// the cap. Retryable() tells whether trying the same address again may help.
class TThreadHttp : public QThread
{
    Q_OBJECT
public:
    static constexpr std::string_view kOkCode = "0";
    static constexpr std::string_view kFailedCode = "100860";
    static constexpr std::string_view kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows 98; Maxthon)";
    static constexpr std::chrono::milliseconds kReadTimeout{60'000};
    static constexpr size_t kBodyCap = 64u * 1024 * 1024;

    struct Options
    {
        // An empty body with a success status is a failure (a page is expected).
        bool emptyBodyFails = false;
        // A retryable failure skips the sink's failed: the owner tries again.
        bool quietIfRetryable = false;
    };

    // Starts the download of url (GBK bytes, sent as they are) at once. The agent is read
    // here, once; only AgentType 1 uses the proxy. sink may be null (events are dropped) and
    // may be deleted while the worker runs.
    static TThreadHttp* Create(std::string url, std::shared_ptr<const THttpAgent> agent, THttpEventSink* sink,
                               Options options);
    static TThreadHttp* Create(std::string url, std::shared_ptr<const THttpAgent> agent,
                               THttpEventSink* sink);

    const std::string& Url() const { return m_url; }
    const std::string& Body() const { return m_body; }
    const std::string& ResultCode() const { return m_resultCode; }
    // Why the download failed, in English; empty on success.
    const QString& ErrorText() const { return m_errorText; }
    // True while the final Disconnected is being handled.
    bool Ended() const { return m_ended; }
    // The failure may pass: a connection error, a time-out, an empty page where one was
    // expected, a status 5xx or 429. Other statuses and local faults are final.
    bool Retryable() const { return m_retryable; }
    // The server's Retry-After of a 429 in milliseconds; 0 when it gave none.
    qint64 RetryAfterMs() const { return m_retryAfterMs; }
    // The sink's failed was skipped (Options::quietIfRetryable).
    bool FailureQuiet() const { return m_failureQuiet; }

    // A stop request. The download is not interrupted: it runs to its end and raises its
    // events; owners ignore them by their own stop flags.
    void Terminate() { m_stopRequested.store(true); }
    bool StopRequested() const { return m_stopRequested.load(); }
    // QThread::terminate would kill the transfer mid-way and leak the client.
    void terminate() = delete;

    // The address as it goes on the request line: space, control characters and '#' are
    // percent-encoded, every other byte (GBK double-byte characters included) is unchanged.
    static std::string requestLineUrl(std::string_view url);

    // Shortens the read time-out for tests; a zero duration restores the product value.
    static void setReadTimeoutForTesting(std::chrono::milliseconds timeout);

protected:
    void run() override;

private:
    struct Transfer;
    friend struct Transfer;

    TThreadHttp(std::string url, const THttpAgent& agent, THttpEventSink* sink, Options options);

    // Runs fn on this object's (the user-interface) thread and waits for it.
    template <typename Fn> void onOwnerThread(Fn&& fn);
    void raiseStatus(HttpStatus kind, const QString& text);
    void raiseWorkBegin(qint64 expected);
    void raiseWork(qint64 count);
    void raiseWorkEnd();
    void reportFailure();

    const std::string m_url;
    std::string m_body;
    QPointer<THttpEventSink> m_sink;
    std::string m_resultCode{kOkCode};
    QString m_errorText;
    bool m_ended = false;
    bool m_retryable = false;
    bool m_failureQuiet = false;
    qint64 m_retryAfterMs = 0;
    const Options m_options;
    std::atomic<bool> m_stopRequested{false};
    // The transfer in progress, whose read clock restarts when an owner's handler returns.
    Transfer* m_transfer = nullptr;

    // The agent's fields, copied at creation.
    bool m_useProxy = false;
    std::string m_proxyHost;
    int m_proxyPort = 0;
    std::string m_proxyUser;
    std::string m_proxyPassword;
};
