#include "mining/TSearchRun.h"

#include "extract/TThreadHttp.h"
#include "text/Formats.h"
#include "text/GbkCodec.h"

namespace {
constexpr int kPageSize = 40;
const QString kRule = QString(28, QLatin1Char('-'));
} // namespace

TSearchRun::TSearchRun(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &TSearchRun::onTimer);
    connect(&m_fetcher, &TPageFetcher::pageArrived, this,
            [this](int, const std::string& body) { onPage(body); });
    connect(&m_fetcher, &TPageFetcher::bytesChanged, this, &TSearchRun::bytesChanged);
    connect(&m_fetcher, &TPageFetcher::failed, this, [this](const QString& error, const QString& url) {
        if (!m_running || m_stopped)
            return;
        // A search cannot go on without its page: end it as a cancel would, keeping what was read.
        emit downloadFailed(error, url);
        cancel();
    });
    connect(&m_fetcher, &TPageFetcher::retrying, this,
            [this](int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason) {
                emit logLines({retryText(attempt, retries, delayMs, reason)});
                emit retrying(attempt, retries, delayMs, url, reason);
            });
}

QString TSearchRun::retryText(int attempt, int retries, qint64 delayMs, const QString& reason)
{
    return QStringLiteral("下载失败（%1），%2秒后重试（第%3次，共%4次）")
        .arg(reason)
        .arg(QString::number(delayMs / 1000.0, 'f', 1))
        .arg(attempt)
        .arg(retries);
}

TSearchRun::~TSearchRun()
{
    m_fetcher.cancel();
}

bool TSearchRun::start(const SearchCriteria& criteria, const TConfig& config)
{
    if (!criteria.acceptable() || m_running)
        return false;
    m_searchBaseUrl = criteria.firstPageUrl(config.Market().SearchHost);
    m_category = QString::fromUtf16(SearchCriteria::categories()[criteria.category].text);
    ++m_searchNo;
    emit logLines(criteria.logLines(m_searchNo, QTime::currentTime()));
    m_parser = std::make_unique<TSearchUser>(criteria.requested, kPageSize,
                                             gbk::fromQString(config.Market().HomePage));
    emit statusText(QStringLiteral("正在搜索掌柜..."));
    m_fetcher.begin(config);
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
    m_fetcher.fetch(url);
}

void TSearchRun::onPage(const std::string& page)
{
    // Pages arriving after a cancel are ignored.
    if (m_stopped || !m_running)
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

QList<ShopRow> TSearchRun::shops() const
{
    QList<ShopRow> rows;
    if (!m_parser)
        return rows;
    for (const auto& [key, record] : m_parser->Shops()) {
        QStringList texts;
        for (const std::string& text : record)
            texts << gbk::toQString(text);
        // The parser's texts stop before the category, which is the one searched.
        ShopRow row = ShopRow::fromColumns(texts);
        row.category = m_category;
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
    m_fetcher.cancel();
    m_stopped = true;
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
    setProgress(100);
    emit finished(rows, cancelled);
    emit statusText(formats::longTime(end.time()) + statusSuffix + formats::elapsed(m_runStart.msecsTo(end)));
    setProgress(0);
}
