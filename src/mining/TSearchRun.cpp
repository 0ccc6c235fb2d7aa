#include "mining/TSearchRun.h"

#include "extract/GbkCodec.h"
#include "extract/TThreadHttp.h"
#include "mining/RunFlags.h"
#include "store/Formats.h"

namespace {
constexpr int kPageSize = 40;
const QString kRule = QString(28, QLatin1Char('-'));
} // namespace

TSearchRun::TSearchRun(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &TSearchRun::onTimer);
    connect(&m_sink, &THttpEventSink::status, this, &TSearchRun::onStatus);
    connect(&m_sink, &THttpEventSink::workBegin, this, &TSearchRun::onWorkBegin);
    connect(&m_sink, &THttpEventSink::work, this, &TSearchRun::onWork);
    connect(&m_sink, &THttpEventSink::workEnd, this,
            [this](TThreadHttp*, HttpWorkMode) { emit bytesChanged(m_expectedBytes, m_expectedBytes); });
}

TSearchRun::~TSearchRun()
{
    if (m_worker)
        m_worker->Terminate();
    if (m_running)
        runflags::netBusy = false;
}

bool TSearchRun::start(const SearchCriteria& criteria, const TConfig& config)
{
    if (!criteria.acceptable() || m_running)
        return false;
    m_searchBaseUrl = criteria.firstPageUrl(config.Market().SearchHost);
    ++m_searchNo;
    emit logLines(criteria.logLines(m_searchNo, QTime::currentTime()));
    m_parser = std::make_unique<TSearchUser>(criteria.requested, kPageSize,
                                             gbk::fromQString(config.Market().HomePage));
    emit statusText(QStringLiteral("正在搜索掌柜..."));
    runflags::netBusy = true;
    m_config = &config;
    m_running = true;
    m_stopped = false;
    fetch(m_searchBaseUrl);
    m_runStart = QDateTime::currentDateTime();
    emit totalFoundChanged(0);
    emit shopCountChanged(0);
    emit bytesChanged(0, 0);
    setProgress(5);
    return true;
}

void TSearchRun::fetch(const std::string& url)
{
    m_expectedBytes = 0;
    m_worker = TThreadHttp::Create(url, m_config->Agent(), &m_sink);
}

void TSearchRun::onStatus(TThreadHttp* worker, HttpStatus kind, const QString&)
{
    // Only the final "disconnected" of the current download counts; an earlier one comes
    // before the page, and pages arriving after a cancel are ignored.
    if (kind != HttpStatus::Disconnected || !worker->Ended() || worker != m_worker || m_stopped || !m_running)
        return;
    m_worker = nullptr;
    if (worker->ResultCode() == TThreadHttp::kFailedCode) {
        // A search cannot go on without its page: end it as a cancel would, keeping what was read.
        emit downloadFailed(worker->ErrorText());
        cancel();
        return;
    }
    const std::string& page = worker->Body();
    if (page.empty())
        return;
    if (!m_parser->Ready()) {
        m_parser->LoadFirstPage(page);
        emit totalFoundChanged(m_parser->TotalFound());
        setProgress(m_progress + 5);
        m_timer.start();
    }
    m_parser->ProcessPage(page);
    if (m_parser->Finished())
        complete();
    else
        fetch(SearchCriteria::furtherPageUrl(m_searchBaseUrl, m_parser->PageNo()));
}

void TSearchRun::onWorkBegin(TThreadHttp* worker, HttpWorkMode, qint64 expected)
{
    if (worker != m_worker)
        return;
    m_expectedBytes = expected;
    emit bytesChanged(0, expected);
}

void TSearchRun::onWork(TThreadHttp* worker, HttpWorkMode, qint64 count)
{
    if (worker == m_worker)
        emit bytesChanged(count, std::max(m_expectedBytes, count));
}

void TSearchRun::onTimer()
{
    if (!m_parser)
        return;
    const int count = m_parser->ShopCount();
    emit shopCountChanged(count);
    if (count > 0 && m_parser->Limit() > 0)
        setProgress((85000 / m_parser->Limit()) * count / 1000 + 10);
}

void TSearchRun::setProgress(int percent)
{
    m_progress = percent;
    emit progressChanged(percent);
}

QList<TSearchRun::ShopRow> TSearchRun::shops() const
{
    QList<ShopRow> rows;
    if (!m_parser)
        return rows;
    for (const auto& [key, record] : m_parser->Shops()) {
        ShopRow row;
        for (const std::string& text : record)
            row << gbk::toQString(text);
        rows << row;
    }
    return rows;
}

void TSearchRun::complete()
{
    m_timer.stop();
    stop(QStringLiteral("搜索结束时间："), QStringLiteral("搜索掌柜完成！共花时间："));
}

void TSearchRun::cancel()
{
    if (!m_running)
        return;
    m_timer.stop();
    if (m_worker)
        m_worker->Terminate();
    m_worker = nullptr;
    m_stopped = true;
    runflags::netBusy = false;
    emit statusText(formats::longTime(QTime::currentTime()) + QStringLiteral("中止搜索掌柜！"));
    m_parser->SetFinished(true);
    stop(QStringLiteral("中止搜索时间："), QStringLiteral("搜索掌柜中止！共花时间："));
}

void TSearchRun::stop(const QString& endLabel, const QString& statusSuffix)
{
    const bool cancelled = m_stopped;
    const QDateTime end = QDateTime::currentDateTime();
    const QList<ShopRow> rows = shops();
    emit logLines({endLabel + formats::longTime(end.time()),
                   QStringLiteral("共搜索到%1记录!").arg(rows.size()), kRule});
    emit shopCountChanged(m_parser->ShopCount());
    emit statusText(QStringLiteral("正在保存数据..."));
    m_running = false;
    runflags::netBusy = false;
    setProgress(100);
    emit finished(rows, cancelled);
    emit statusText(formats::longTime(end.time()) + statusSuffix + formats::elapsed(m_runStart.msecsTo(end)));
    setProgress(0);
}
