#include "mining/TPageFetcher.h"

#include "extract/TThreadHttp.h"
#include "text/GbkCodec.h"

#include <algorithm>

TPageFetcher::TPageFetcher(QObject* parent) : QObject(parent)
{
    m_pause.setSingleShot(true);
    // A coarse timer may fire up to 5% early; a server's pause is a least time.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &TPageFetcher::startDownload);
    connect(&m_sink, &THttpEventSink::status, this, &TPageFetcher::onStatus);
    connect(&m_sink, &THttpEventSink::workBegin, this, [this](TThreadHttp* w, HttpWorkMode, qint64 expected) {
        if (w != m_worker)
            return;
        m_expectedBytes = expected;
        emit bytesChanged(0, expected);
    });
    connect(&m_sink, &THttpEventSink::work, this, [this](TThreadHttp* w, HttpWorkMode, qint64 count) {
        if (w == m_worker)
            emit bytesChanged(count, std::max(count, m_expectedBytes));
    });
    connect(&m_sink, &THttpEventSink::workEnd, this, [this](TThreadHttp* w, HttpWorkMode) {
        if (w == m_worker)
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
    m_sinceLastEnd.invalidate();
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

void TPageFetcher::fetch(std::string url)
{
    m_url = std::move(url);
    m_attempt = 0;
    const qint64 gap = m_config->Net().PageDelay;
    const qint64 waited = m_sinceLastEnd.isValid() ? m_sinceLastEnd.elapsed() : gap;
    if (waited >= gap)
        startDownload();
    else
        m_pause.start(static_cast<int>(gap - waited));
}

void TPageFetcher::cancel()
{
    m_pause.stop();
    if (m_worker)
        m_worker->Terminate();
    m_worker = nullptr;
}

void TPageFetcher::startDownload()
{
    m_expectedBytes = 0;
    TThreadHttp::Options options;
    // A page is expected; a blank answer is a fault of the server, worth another try.
    options.emptyBodyFails = true;
    options.quietIfRetryable = m_attempt < m_config->Net().Retries;
    m_worker = TThreadHttp::Create(m_url, m_config->Agent(), &m_sink, options);
}

void TPageFetcher::onStatus(TThreadHttp* worker, HttpStatus kind, const QString&)
{
    // Only the final "disconnected" of the current download counts; an earlier one comes
    // before the page, and a dropped download's events are ignored.
    if (kind != HttpStatus::Disconnected || !worker->Ended() || worker != m_worker)
        return;
    m_worker = nullptr;
    m_sinceLastEnd.start();
    if (worker->ResultCode() != TThreadHttp::kFailedCode) {
        emit pageArrived(worker->Body());
        return;
    }
    if (!worker->FailureQuiet()) {
        emit failed(worker->ErrorText());
        return;
    }
    ++m_attempt;
    ++m_retryCount;
    const qint64 pause = retryPause(m_config->Net(), m_attempt, worker->RetryAfterMs());
    m_pause.start(static_cast<int>(pause));
    emit retrying(m_attempt, m_config->Net().Retries, pause, gbk::toQString(m_url), worker->ErrorText());
}
