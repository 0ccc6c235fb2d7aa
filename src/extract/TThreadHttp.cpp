#include "extract/TThreadHttp.h"

#include "text/GbkCodec.h"

#include <QMetaObject>
#include <cstdlib>
#include <curl/curl.h>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<long long> g_testReadTimeoutMs{0};

std::chrono::milliseconds readTimeout()
{
    long long ms = g_testReadTimeoutMs.load();
    return ms > 0 ? std::chrono::milliseconds(ms) : TThreadHttp::kReadTimeout;
}

QString hostOf(const std::string& url)
{
    QString host;
    if (CURLU* u = curl_url()) {
        char* part = nullptr;
        if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_DEFAULT_SCHEME) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK)
            host = QString::fromLatin1(part);
        curl_free(part);
        curl_url_cleanup(u);
    }
    return host;
}

} // namespace

// The libcurl side of one download. Its callbacks run on the worker thread and raise the
// owner's events through the worker.
struct TThreadHttp::Transfer
{
    using Clock = std::chrono::steady_clock;

    explicit Transfer(TThreadHttp& worker) : m_worker(worker), m_handle(curl_easy_init()) {}
    ~Transfer() { close(); }

    // Performs the GET; on success the body is in m_body, otherwise m_error says why.
    bool perform();
    // Closes the client and its connection; raises no event.
    void close()
    {
        m_closing = true;
        if (m_handle)
            curl_easy_cleanup(m_handle);
        m_handle = nullptr;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static curl_socket_t onOpenSocket(void* self, curlsocktype purpose, struct curl_sockaddr* address);
    static int onConnected(void* self, char* ip, char* localIp, int port, int localPort);
    static int onCloseSocket(void* self, curl_socket_t socket);

    TThreadHttp& m_worker;
    CURL* m_handle;
    std::string m_body;
    QString m_error;
    long m_status = 0;
    bool m_begun = false;
    bool m_connected = false;
    bool m_closing = false;
    bool m_tooLarge = false;
    bool m_timedOut = false;
    bool m_retryable = false;
    qint64 m_retryAfterMs = 0;
    Clock::time_point m_lastActivity;
    std::chrono::milliseconds m_timeout{readTimeout()};
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
};

bool TThreadHttp::Transfer::perform()
{
    if (!m_handle) {
        m_error = QStringLiteral("could not create the HTTP client");
        return false;
    }
    const std::string target = requestLineUrl(m_worker.m_url);
    CURL* h = m_handle;
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    // Plain HTTP only: no TLS is ever set up, and a redirect could not go elsewhere anyway.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // "/./" and "/../" in an address are sent too, not squashed.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The cookie engine of this handle only; a new worker starts with no cookies.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kBodyCap));

    if (m_worker.m_useProxy) {
        if (m_worker.m_proxyHost.empty()) {
            m_error = QStringLiteral("no proxy server is set");
            return false;
        }
        curl_easy_setopt(h, CURLOPT_PROXY, m_worker.m_proxyHost.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(m_worker.m_proxyPort));
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        // A no_proxy variable in the environment must not bypass the configured proxy.
        curl_easy_setopt(h, CURLOPT_NOPROXY, "");
        if (!m_worker.m_proxyUser.empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, m_worker.m_proxyUser.c_str());
            curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, m_worker.m_proxyPassword.c_str());
            curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
    } else {
        // Direct, whatever http_proxy in the environment says.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    }

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    // The read time-out is "no byte for that long", which only a callback can measure:
    // libcurl's own low-speed limit averages over a window.
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &Transfer::onOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Transfer::onConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &Transfer::onCloseSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);

    QString host = m_worker.m_useProxy ? QString::fromStdString(m_worker.m_proxyHost) : hostOf(target);
    m_worker.raiseStatus(HttpStatus::Resolving, QStringLiteral("Resolving hostname %1.").arg(host));
    m_lastActivity = Clock::now();
    m_worker.m_transfer = this;
    CURLcode rc = curl_easy_perform(h);
    m_worker.m_transfer = nullptr;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &m_status);
    if (m_begun)
        m_worker.raiseWorkEnd();

    if (rc != CURLE_OK) {
        if (m_timedOut) {
            m_error = QStringLiteral("no data received for %1 ms").arg(m_timeout.count());
            m_retryable = true;
        } else if (m_tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
            m_error = QStringLiteral("the response is larger than %1 bytes").arg(kBodyCap);
        } else {
            m_error = QString::fromLocal8Bit(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(rc));
            // Faults of the connection, which the next attempt may not meet.
            switch (rc) {
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_CONNECT:
            case CURLE_OPERATION_TIMEDOUT:
            case CURLE_GOT_NOTHING:
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_PARTIAL_FILE:
                m_retryable = true;
                break;
            default:
                break;
            }
        }
        return false;
    }
    if (m_status >= 300 || m_status < 200) {
        m_error = QStringLiteral("HTTP status %1").arg(m_status);
        m_retryable = m_status >= 500 || m_status == 429;
        if (m_status == 429) {
            // Both forms (seconds or a date) come back as seconds.
            curl_off_t wait = 0;
            if (curl_easy_getinfo(h, CURLINFO_RETRY_AFTER, &wait) == CURLE_OK && wait > 0)
                m_retryAfterMs = static_cast<qint64>(wait) * 1000;
        }
        if (m_status >= 300 && m_status < 400) {
            char* location = nullptr;
            curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
            m_error += QStringLiteral(": redirect to %1 not followed")
                           .arg(QString::fromLatin1(location ? location : ""));
        }
        return false;
    }
    if (m_body.empty() && m_worker.m_options.emptyBodyFails) {
        m_error = QStringLiteral("empty page (HTTP status %1)").arg(m_status);
        m_retryable = true;
        return false;
    }
    return true;
}

size_t TThreadHttp::Transfer::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    t->m_lastActivity = Clock::now();
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        long code = 0;
        size_t space = line.find(' ');
        if (space != std::string_view::npos)
            code = std::strtol(std::string(line.substr(space + 1, 3)).c_str(), nullptr, 10);
        t->m_status = code;
        t->m_worker.raiseStatus(HttpStatus::Text, QString::fromLatin1(line.data(), qsizetype(line.size())));
    } else if (line.empty() && t->m_status >= 200 && !t->m_begun) {
        // End of the final response's head: the body follows.
        curl_off_t expected = -1;
        curl_easy_getinfo(t->m_handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        t->m_begun = true;
        t->m_worker.raiseWorkBegin(expected > 0 ? expected : 0);
    }
    return n;
}

size_t TThreadHttp::Transfer::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    t->m_lastActivity = Clock::now();
    if (n > kBodyCap - t->m_body.size()) {
        t->m_tooLarge = true;
        return 0; // stops the transfer with a write error
    }
    t->m_body.append(data, n);
    t->m_worker.raiseWork(static_cast<qint64>(t->m_body.size()));
    return n;
}

int TThreadHttp::Transfer::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(self);
    if (Clock::now() - t->m_lastActivity > t->m_timeout) {
        t->m_timedOut = true;
        return 1; // aborts the transfer
    }
    return 0;
}

curl_socket_t TThreadHttp::Transfer::onOpenSocket(void* self, curlsocktype purpose,
                                                  struct curl_sockaddr* address)
{
    auto* t = static_cast<Transfer*>(self);
    if (purpose == CURLSOCKTYPE_IPCXN)
        t->m_worker.raiseStatus(HttpStatus::Connecting, QStringLiteral("Connecting."));
    return ::socket(address->family, address->socktype, address->protocol);
}

int TThreadHttp::Transfer::onConnected(void* self, char* ip, char*, int port, int)
{
    auto* t = static_cast<Transfer*>(self);
    t->m_connected = true;
    t->m_lastActivity = Clock::now();
    t->m_worker.raiseStatus(HttpStatus::Connected,
                            QStringLiteral("Connected to %1:%2.").arg(QString::fromLatin1(ip)).arg(port));
    return CURL_PREREQFUNC_OK;
}

int TThreadHttp::Transfer::onCloseSocket(void* self, curl_socket_t socket)
{
    auto* t = static_cast<Transfer*>(self);
    int rc = ::close(socket);
    // A connection the server ended during the download; the worker's own closing raises
    // its events itself, and a failed connection attempt was never reported as connected.
    if (!t->m_closing && t->m_connected) {
        t->m_connected = false;
        t->m_worker.raiseStatus(HttpStatus::Disconnected, QStringLiteral("Disconnected."));
    }
    return rc;
}

TThreadHttp::TThreadHttp(std::string url, const THttpAgent& agent, THttpEventSink* sink, Options options)
    : m_url(std::move(url)), m_sink(sink), m_options(options)
{
    m_useProxy = agent.AgentType == 1;
    m_proxyHost = agent.Server.trimmed().toStdString();
    m_proxyPort = agent.Port;
    m_proxyUser = gbk::fromQString(agent.User);
    m_proxyPassword = gbk::fromQString(agent.Password);
}

void TThreadHttp::setReadTimeoutForTesting(std::chrono::milliseconds timeout)
{
    g_testReadTimeoutMs.store(timeout.count());
}

TThreadHttp* TThreadHttp::Create(std::string url, std::shared_ptr<const THttpAgent> agent,
                                 THttpEventSink* sink)
{
    return Create(std::move(url), std::move(agent), sink, Options{});
}

TThreadHttp* TThreadHttp::Create(std::string url, std::shared_ptr<const THttpAgent> agent,
                                 THttpEventSink* sink, Options options)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto* worker = new TThreadHttp(std::move(url), agent ? *agent : THttpAgent{}, sink, options);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    return worker;
}

std::string TThreadHttp::requestLineUrl(std::string_view url)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (char ch : url) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '#') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

void TThreadHttp::run()
{
    {
        Transfer transfer(*this);
        if (transfer.perform()) {
            m_body = std::move(transfer.m_body);
        } else {
            m_errorText = transfer.m_error;
            m_retryable = transfer.m_retryable;
            m_retryAfterMs = transfer.m_retryAfterMs;
            if (m_retryable && m_options.quietIfRetryable) {
                m_failureQuiet = true;
                onOwnerThread([this] { m_resultCode = kFailedCode; });
            } else {
                reportFailure();
            }
        }
        raiseStatus(HttpStatus::Disconnecting, QStringLiteral("Disconnecting."));
        transfer.close();
    }
    m_ended = true;
    raiseStatus(HttpStatus::Disconnected, QStringLiteral("Disconnected."));
}

template <typename Fn> void TThreadHttp::onOwnerThread(Fn&& fn)
{
    // This object lives on the thread that created it; the worker thread waits here until
    // that thread has run fn.
    QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    // The read time-out counts time on the wire only, not time spent in the owner's handler.
    if (m_transfer)
        m_transfer->m_lastActivity = Transfer::Clock::now();
}

void TThreadHttp::raiseStatus(HttpStatus kind, const QString& text)
{
    onOwnerThread([this, kind, &text] {
        if (m_sink)
            emit m_sink->status(this, kind, text);
    });
}

void TThreadHttp::raiseWorkBegin(qint64 expected)
{
    onOwnerThread([this, expected] {
        if (m_sink)
            emit m_sink->workBegin(this, HttpWorkMode::Read, expected);
    });
}

void TThreadHttp::raiseWork(qint64 count)
{
    onOwnerThread([this, count] {
        if (m_sink)
            emit m_sink->work(this, HttpWorkMode::Read, count);
    });
}

void TThreadHttp::raiseWorkEnd()
{
    onOwnerThread([this] {
        if (m_sink)
            emit m_sink->workEnd(this, HttpWorkMode::Read);
    });
}

void TThreadHttp::reportFailure()
{
    onOwnerThread([this] {
        m_resultCode = kFailedCode;
        if (m_sink)
            emit m_sink->failed(this);
    });
}
