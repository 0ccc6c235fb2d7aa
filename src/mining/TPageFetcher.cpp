#include "mining/TPageFetcher.h"

#include "extract/TThreadHttp.h"
#include "store/TTeamSlots.h"
#include "text/GbkCodec.h"

#include <algorithm>

namespace {
// How often a download waiting for a team slot asks again: the slots are other programs' locks,
// whose release nobody announces.
constexpr int kTeamPollMs = 20;
} // namespace

TPageFetcher::TPageFetcher(QObject* parent) : QObject(parent)
{
    m_pause.setSingleShot(true);
    // A coarse timer may fire up to 5% early; a server's pause is a least time.
    m_pause.setTimerType(Qt::PreciseTimer);
    m_clock.start();
    connect(&m_pause, &QTimer::timeout, this, &TPageFetcher::pump);
    connect(&m_sink, &THttpEventSink::status, this, &TPageFetcher::onStatus);
    connect(&m_sink, &THttpEventSink::workBegin, this, [this](TThreadHttp* w, HttpWorkMode, qint64 expected) {
        if (w != m_shown)
            return;
        m_expectedBytes = expected;
        emit bytesChanged(0, expected);
    });
    connect(&m_sink, &THttpEventSink::work, this, [this](TThreadHttp* w, HttpWorkMode, qint64 count) {
        if (w == m_shown)
            emit bytesChanged(count, std::max(count, m_expectedBytes));
    });
    connect(&m_sink, &THttpEventSink::workEnd, this, [this](TThreadHttp* w, HttpWorkMode) {
        if (w == m_shown)
            emit bytesChanged(m_expectedBytes, m_expectedBytes);
    });
}

TPageFetcher::~TPageFetcher()
{
    cancel();
}

void TPageFetcher::begin(const TConfig& config)
{
    cancel();
    m_config = &config;
    m_retryCount = 0;
    m_mostInFlight = 0;
    m_gates.clear();
    m_lastHost.clear();
}

qint64 TPageFetcher::retryPause(const NetSettings& net, int attempt, qint64 retryAfterMs)
{
    const qint64 cap = NetSettings::kMaxDelayMs;
    qint64 pause = net.RetryDelay;
    for (int i = 1; i < attempt && pause < cap; ++i)
        pause *= 2;
    pause = std::max({pause, retryAfterMs, qint64(net.PageDelay)});
    return std::min(pause, cap);
}

std::string TPageFetcher::hostOf(const std::string& url)
{
    const size_t scheme = url.find("://");
    const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    return url.substr(0, url.find('/', from));
}

THostGate& TPageFetcher::gate(const std::string& host)
{
    const QByteArray key = QByteArray::fromStdString(host);
    auto it = m_gates.find(key);
    if (it == m_gates.end()) {
        it = m_gates.insert(key, THostGate());
        it->reset(m_config->Net().Connections, m_config->Net().PageDelay);
    }
    return *it;
}

int TPageFetcher::connectionsInForce() const
{
    auto it = m_gates.constFind(QByteArray::fromStdString(m_lastHost));
    if (it != m_gates.cend())
        return it->inForce();
    return m_config ? m_config->Net().Connections : 1;
}

int TPageFetcher::inFlightTo(const std::string& host) const
{
    return static_cast<int>(std::count_if(m_active.begin(), m_active.end(),
                                          [&](const Active& a) { return a.request.host == host; }));
}

void TPageFetcher::fetch(std::string url, int tag)
{
    Request r;
    r.host = hostOf(url);
    r.url = std::move(url);
    r.tag = tag;
    m_queue.push_back(std::move(r));
    pump();
}

void TPageFetcher::cancel()
{
    m_pause.stop();
    m_queue.clear();
    for (Active& a : m_active) {
        if (a.worker)
            a.worker->Terminate();
        giveSlot(a);
    }
    m_active.clear();
    m_shown = nullptr;
}

void TPageFetcher::pump()
{
    // Requests start in the order they were asked for: a page waiting for its gate or its
    // retry pause holds back the ones behind it, so pages come back near their order.
    while (!m_queue.empty()) {
        const qint64 now = m_clock.elapsed();
        Request& head = m_queue.front();
        const qint64 gateWait = gate(head.host).waitBefore(inFlightTo(head.host), now);
        if (gateWait < 0)
            return; // a download in flight ends first and pumps again
        const qint64 wait = std::max(gateWait, head.notBefore - now);
        if (wait > 0) {
            m_pause.start(static_cast<int>(std::min<qint64>(wait, NetSettings::kMaxDelayMs)));
            return;
        }
        // The team's cap on top of the run's own: a slot of the server's, or a short wait.
        int slot = -1;
        if (m_team && m_team->cap() > 0) {
            slot = m_team->take(head.host);
            if (slot == -1) {
                m_pause.start(kTeamPollMs);
                return;
            }
        }
        Request r = std::move(head);
        m_queue.pop_front();
        start(std::move(r), slot);
    }
}

void TPageFetcher::giveSlot(const Active& active)
{
    if (m_team && active.teamSlot >= 0)
        m_team->give(active.request.host, active.teamSlot);
}

void TPageFetcher::start(Request request, int teamSlot)
{
    gate(request.host).started(m_clock.elapsed());
    m_lastHost = request.host;
    m_expectedBytes = 0;
    TThreadHttp::Options options;
    // A page is expected; a blank answer is a fault of the server, worth another try.
    options.emptyBodyFails = true;
    options.quietIfRetryable = request.attempt < m_config->Net().Retries;
    // The worker's events reach this thread only after this returns.
    TThreadHttp* worker = TThreadHttp::Create(request.url, m_config->Agent(), &m_sink, options);
    m_active.push_back({worker, std::move(request), teamSlot});
    m_shown = worker;
    m_mostInFlight = std::max(m_mostInFlight, static_cast<int>(m_active.size()));
}

void TPageFetcher::onStatus(TThreadHttp* worker, HttpStatus kind, const QString&)
{
    // Only the final "disconnected" of a download of this run counts; an earlier one comes
    // before the page, and a dropped download's events are ignored.
    if (kind != HttpStatus::Disconnected || !worker->Ended())
        return;
    auto it =
        std::find_if(m_active.begin(), m_active.end(), [&](const Active& a) { return a.worker == worker; });
    if (it == m_active.end())
        return;
    giveSlot(*it);
    Request request = std::move(it->request);
    m_active.erase(it);
    if (m_shown == worker)
        m_shown = nullptr;
    THostGate& g = gate(request.host);
    g.ended(m_clock.elapsed());
    const int before = g.inForce();
    if (worker->ResultCode() != TThreadHttp::kFailedCode) {
        g.succeeded();
        if (g.inForce() != before)
            emit connectionsChanged(g.inForce());
        emit pageArrived(request.tag, worker->Body());
        pump();
        return;
    }
    if (!worker->FailureQuiet()) {
        emit failed(worker->ErrorText(), gbk::toQString(request.url));
        return;
    }
    const qint64 now = m_clock.elapsed();
    g.troubled(now, worker->RetryAfterMs());
    if (g.inForce() != before)
        emit connectionsChanged(g.inForce());
    ++request.attempt;
    ++m_retryCount;
    const qint64 pause = retryPause(m_config->Net(), request.attempt, worker->RetryAfterMs());
    request.notBefore = now + pause;
    // The marketplace asked this program to wait: the whole team waits with it.
    if (m_team && (worker->RetryAfterMs() > 0 || worker->ErrorText() == QLatin1String("HTTP status 429")))
        m_team->hold(request.host, pause);
    const QString url = gbk::toQString(request.url);
    const int attempt = request.attempt;
    // The retried page goes before the pages behind it, which keeps the walk in order.
    m_queue.push_front(std::move(request));
    emit retrying(attempt, m_config->Net().Retries, pause, url, worker->ErrorText());
    pump();
}
