#include "mining/TMiningRun.h"

#include "mining/TSaveBarGain.h"
#include "mining/TSearchRun.h"
#include "mining/TeamCap.h"
#include "store/ShopRecords.h"
#include "store/TDM.h"
#include "text/Formats.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <algorithm>

TMiningRun::TMiningRun(TDM& dm, QObject* parent) : QObject(parent), m_dm(dm)
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &TMiningRun::onTimer);
    connect(&m_fetcher, &TPageFetcher::pageArrived, this, &TMiningRun::onPage);
    connect(&m_fetcher, &TPageFetcher::bytesChanged, this, &TMiningRun::bytesChanged);
    connect(&m_fetcher, &TPageFetcher::connectionsChanged, this, [this](int n) {
        emit connectionsChanged(n);
        if (m_walk && !m_stopped)
            showMiningText();
    });
    connect(&m_fetcher, &TPageFetcher::failed, this, [this](const QString& error, const QString& url) {
        if (m_stopped || !m_walk)
            return;
        // Without its page the shop cannot go on: keep what was read and end the run.
        m_downloadFailed = true;
        m_downloadError = error;
        emit downloadFailed(error, url);
        cancel();
    });
    connect(&m_fetcher, &TPageFetcher::retrying, this,
            [this](int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason) {
                emit statusText(TSearchRun::retryText(attempt, retries, delayMs, reason));
                emit retrying(attempt, retries, delayMs, url, reason);
            });
}

TMiningRun::~TMiningRun()
{
    m_fetcher.cancel();
    // A saver still writing is waited for: its thread must not outlive its object.
    for (const QPointer<TSaveBarGain>& saver : std::as_const(m_savers)) {
        if (saver) {
            saver->wait();
            delete saver.data();
        }
    }
}

bool TMiningRun::saving() const
{
    return std::any_of(m_savers.cbegin(), m_savers.cend(),
                       [](const QPointer<TSaveBarGain>& saver) { return saver && saver->writing(); });
}

TMiningRun::StartResult TMiningRun::start(const QList<Row>& rows, int fromRecord, int toRecord,
                                          const TConfig& config, bool newOnly)
{
    m_claim = shopqueue::Claim();
    return startRows(rows, fromRecord, toRecord, config, newOnly, 0);
}

TMiningRun::StartResult TMiningRun::startQueued(const shopqueue::Claim& claim, const Row& row,
                                                const TConfig& config)
{
    if (saving() || m_running)
        return StartResult::SaverBusy;
    m_claim = claim;
    return startRows({row}, claim.entry.fromRecord, claim.entry.toRecord, config, claim.entry.newOnly, 0,
                     false);
}

TMiningRun::StartResult TMiningRun::resume(qint64 runId, const TConfig& config)
{
    if (saving() || m_running)
        return StartResult::SaverBusy;
    m_claim = shopqueue::Claim();
    QString error;
    const std::optional<runrecords::Run> run = runrecords::load(m_dm.adoCn, runId, &error);
    if (!run) {
        m_error = error;
        return error.isEmpty() ? StartResult::UnknownRun : StartResult::StoreFailed;
    }
    bool busy = false;
    m_lock.release();
    if (!m_lock.acquire(m_dm.adoCn.path(), runId, &busy, &m_error))
        return busy ? StartResult::RunBusy : StartResult::StoreFailed;
    QList<Row> rows;
    for (const runrecords::Shop& shop : run->shops) {
        if (!run->unfinished(shop))
            continue;
        const std::optional<bool> present = shoprecords::exists(m_dm.adoCn, shop.shopId, &m_error);
        if (!present) {
            m_lock.release();
            return StartResult::StoreFailed;
        }
        if (!*present) {
            // Deleted in the browser meanwhile: mining it again would bring it back.
            if (!runrecords::markShop(m_dm.adoCn, runId, shop.position, runrecords::ShopState::Skipped, 0,
                                      &m_error)) {
                m_lock.release();
                return StartResult::StoreFailed;
            }
            emit shopSkipped(shop.webaddr);
            continue;
        }
        rows << Row{true, shop.row, shop.position};
    }
    const bool left = !rows.isEmpty();
    if (!runrecords::setState(m_dm.adoCn, runId,
                              left ? runrecords::RunState::Running : runrecords::RunState::Finished,
                              QString(), &m_error)) {
        m_lock.release();
        return StartResult::StoreFailed;
    }
    if (!left) {
        m_lock.release();
        return StartResult::NothingLeft;
    }
    return startRows(rows, run->fromRecord, run->toRecord, config, run->newOnly, runId);
}

void TMiningRun::setUpTeam(const TConfig& config)
{
    QString notice;
    m_fetcher.setTeam(teamcap::prepare(config, m_dm.adoCn, m_team, &notice));
    if (!notice.isEmpty())
        emit this->notice(notice);
}

TMiningRun::StartResult TMiningRun::startRows(const QList<Row>& rows, int fromRecord, int toRecord,
                                              const TConfig& config, bool newOnly, qint64 resumedRun,
                                              bool recordRun)
{
    if (saving() || m_running)
        return StartResult::SaverBusy;
    m_stopped = false;
    m_downloadFailed = false;
    m_downloadError.clear();
    m_rows = rows;
    m_walkOptions = {fromRecord, toRecord, config.Market().RatingHost, newOnly, config.Net().Connections};
    m_fetcher.begin(config);
    setUpTeam(config);
    m_next.reset();
    ++m_runNumber;
    m_markedSeen = 0;
    m_domain = config.Market().Domain;
    m_minedCount = 0;
    m_error.clear();
    m_faulted = false;
    emit shopStarted(QString());
    emit totalRatingsChanged(0);
    emit ratingsReadChanged(0);
    emit savedCountChanged(0);
    emit shopProgressChanged(0);

    int first = -1;
    int marked = 0;
    QList<runrecords::Shop> recorded;
    for (int r = 0; r < m_rows.size(); ++r) {
        if (!m_rows[r].marked)
            continue;
        if (first < 0)
            first = r;
        ++marked;
        const ShopRow& shop = m_rows[r].shop;
        const std::optional<qint64> shopId = shoprecords::store(m_dm.adoCn, shop, &m_error);
        if (!shopId) {
            if (resumedRun > 0)
                m_lock.release();
            return StartResult::StoreFailed;
        }
        if (resumedRun == 0) {
            m_rows[r].position = marked;
            recorded << runrecords::Shop{marked, *shopId, shop.webaddr, shop, runrecords::ShopState::Pending,
                                         0};
        }
    }
    m_markedCount = marked;
    emit totalToSaveChanged(marked);
    if (marked == 0)
        return StartResult::NoMarkedRow;
    // The run is recorded before its first download, so that a crash leaves its list.
    m_runId = resumedRun;
    if (resumedRun == 0 && recordRun) {
        m_lock.release();
        QString error;
        m_runId = runrecords::create(m_dm.adoCn, fromRecord, toRecord, newOnly, recorded, &error);
        if (m_runId <= 0) {
            m_error = error;
            return StartResult::StoreFailed;
        }
        // Without its lock a second program could resume the run while this one mines it.
        if (!m_lock.acquire(m_dm.adoCn.path(), m_runId, nullptr, &m_error)) {
            // Best kept as failed; if even that cannot be written the lock's error is the one told.
            runrecords::setState(m_dm.adoCn, m_runId, runrecords::RunState::Failed, m_error, nullptr);
            return StartResult::StoreFailed;
        }
    }
    m_running = true;
    m_runStart = QDateTime::currentDateTime();
    mineFrom(first);
    return StartResult::Started;
}

void TMiningRun::mineFrom(int row)
{
    // A row that cannot be mined (no address, not on the marketplace) is passed over, so the
    // run neither waits for ever nor mines a row twice.
    for (int r = row; r < m_rows.size(); ++r) {
        if (!m_rows[r].marked)
            continue;
        m_currentRow = r;
        ++m_markedSeen;
        m_currentPosition = m_rows[r].position;
        if (mineRow(r))
            return;
        // Never minable: not left for a resume to try again.
        markShop(m_rows[r].position, runrecords::ShopState::Failed);
        queueFailed(notMinableReason());
    }
    endRun();
}

bool TMiningRun::onMarket(const QString& webaddr) const
{
    return !webaddr.isEmpty() &&
           text::foldAscii(gbk::fromQString(webaddr)).find(text::foldAscii(gbk::fromQString(m_domain))) !=
               std::string::npos;
}

bool TMiningRun::mineRow(int r)
{
    const ShopRow& shop = m_rows[r].shop;
    QString error;
    const qint64 shopId = shoprecords::idOf(m_dm.adoCn, shop.webaddr, &error);
    if (!error.isEmpty())
        emit storeError(error);
    m_currentShopId = shopId > 0 ? QString::number(shopId) : QString();
    emit shopProgressChanged(3);
    if (m_currentShopId.isEmpty() || !onMarket(shop.webaddr))
        return false;
    emit cancelEnabledChanged(true);
    emit shopStarted(shop.shopkeeper);
    emit shopBegun(m_markedSeen, m_markedCount, shop);
    emit totalRatingsChanged(0);
    emit ratingsReadChanged(0);
    emit bytesChanged(0, 0);
    m_saverStarted = false;
    m_shopComplete = true;
    showMiningText();
    emit savedCountChanged(m_minedCount);
    m_currentRow = r + 1;
    emit shopProgressChanged(5);
    // Its pages may have been asked for during the last shop.
    m_walk = m_next && m_nextRow == r ? std::move(m_next) : walkFor(r);
    m_next.reset();
    m_walk->begin(m_dm.adoCn, m_currentShopId);
    return true;
}

std::unique_ptr<TShopWalk> TMiningRun::walkFor(int r)
{
    auto walk = std::make_unique<TShopWalk>(m_fetcher, m_walks++,
                                            std::string(text::trim(gbk::fromQString(m_rows[r].shop.webaddr))),
                                            m_walkOptions, this);
    connect(walk.get(), &TShopWalk::shopPageRead, this, [this] {
        emit shopProgressChanged(7);
        m_timer.start();
    });
    connect(walk.get(), &TShopWalk::totalRatingsKnown, this, &TMiningRun::totalRatingsChanged);
    connect(walk.get(), &TShopWalk::allAsked, this, &TMiningRun::askNextShop);
    connect(walk.get(), &TShopWalk::read, this, &TMiningRun::shopRead);
    connect(walk.get(), &TShopWalk::noRatingLink, this, &TMiningRun::shopWithoutRatings);
    connect(walk.get(), &TShopWalk::storeError, this, &TMiningRun::storeError);
    return walk;
}

void TMiningRun::askNextShop()
{
    for (int r = m_currentRow; r < m_rows.size(); ++r) {
        // One the walk passes over is passed over here too.
        if (!m_rows[r].marked || !onMarket(m_rows[r].shop.webaddr))
            continue;
        m_next = walkFor(r);
        m_nextRow = r;
        return;
    }
}

void TMiningRun::showMiningText()
{
    QString text = QStringLiteral("正在挖掘第%1个掌柜的成交数据...").arg(m_minedCount + 1);
    if (m_walkOptions.connections > 1)
        text += QStringLiteral("（%1个连接）").arg(m_fetcher.connectionsInForce());
    emit statusText(text);
}

void TMiningRun::onPage(int tag, const std::string& body)
{
    if (m_stopped)
        return;
    if (!(m_walk && m_walk->take(tag, body)) && m_next)
        m_next->take(tag, body);
}

void TMiningRun::shopWithoutRatings()
{
    // Not a shop page of this marketplace (its home page, a shop on another host): the shop
    // ends here and the run goes on. The walk told it from inside its own call, so it goes
    // once that call is over.
    m_walk.release()->deleteLater();
    emit cancelEnabledChanged(false);
    markShop(m_currentPosition, runrecords::ShopState::Failed);
    queueFailed(noRatingLinkReason());
    emit shopFailed(m_currentShopId, noRatingLinkReason());
    mineFrom(m_currentRow);
}

void TMiningRun::shopRead()
{
    m_timer.stop();
    emit ratingsReadChanged(m_walk->extractor().RatingCount());
    emit shopProgressChanged(100);
    emit statusText(QStringLiteral("正在保存数据..."));
    shopFinished();
    ++m_minedCount;
    emit savedCountChanged(m_minedCount);
}

void TMiningRun::onTimer()
{
    if (!m_walk)
        return;
    const int count = m_walk->extractor().RatingCount();
    const int total = m_walk->extractor().TotalRatings();
    emit ratingsReadChanged(count);
    if (count > 0 && total > 0)
        emit shopProgressChanged((85000 / total) * count / 1000 + 10);
}

void TMiningRun::shopFinished()
{
    emit cancelEnabledChanged(false);
    if (m_saverStarted)
        return;
    m_saverStarted = true;
    const THTMLExcavate& x = m_walk->extractor();
    // The profile figures are written by the saver, in the transaction of the ratings: the
    // shop is stored whole or fails whole.
    const QHash<QString, QVariant> profile{
        {QStringLiteral("buyLevel"), x.buyLevel()},
        {QStringLiteral("buyerCredit"), x.buyerCredit()},
        {QStringLiteral("saleLevel"), x.saleLevel()},
        {QStringLiteral("salerCredit"), x.salerCredit()},
        {QStringLiteral("createDate"), gbk::toQString(x.createDate())},
        {QStringLiteral("buyerGood"), x.buyerGood()},
        {QStringLiteral("buyerNotBad"), x.buyerNotBad()},
        {QStringLiteral("buyerBad"), x.buyerBad()},
        {QStringLiteral("salerGood"), x.salerGood()},
        {QStringLiteral("salerNotBad"), x.salerNotBad()},
        {QStringLiteral("salerBad"), x.salerBad()},
        {QStringLiteral("salerGoodRate"), gbk::toQString(x.salerGoodRate())},
        {QStringLiteral("buyerGoodRate"), gbk::toQString(x.buyerGoodRate())},
    };
    // The saver shares the extractor's list, so it stays valid whoever ends first.
    auto* saver = TSaveBarGain::Create(m_dm.adoCn.path(), m_walk->ratings(), m_currentShopId);
    saver->setProfile(profile, x.TotalRatings());
    if (m_runId > 0)
        saver->setRunShop(m_runId, m_currentPosition, m_shopComplete);
    if (m_claim.id > 0)
        saver->setQueueClaim(m_claim, m_shopComplete,
                             m_downloadError.isEmpty() ? cutShortReason() : m_downloadError);
    const QString shopId = m_currentShopId;
    const quint64 run = m_runNumber;
    const bool complete = m_shopComplete;
    m_saverFault.clear();
    connect(saver, &TSaveBarGain::statusText, this, &TMiningRun::statusText);
    connect(saver, &TSaveBarGain::faulted, this, [this, run](const QString& error) {
        if (run == m_runNumber) {
            m_saverFault = error;
            m_faulted = true;
        }
    });
    // The row after the shop's own is the next to mine by now.
    const QString webaddr = m_rows.value(m_currentRow - 1).shop.webaddr;
    connect(saver, &TSaveBarGain::shopGone, this, [this, webaddr] { emit shopSkipped(webaddr); });
    connect(saver, &TSaveBarGain::completed, this,
            [this, run, shopId, complete](int stored, int failed, int fresh) {
                nextShop(run, shopId, stored, failed, complete, fresh);
            });
    m_savers.removeAll(nullptr);
    m_savers << saver;
    saver->start();
}

void TMiningRun::nextShop(quint64 run, const QString& shopId, int stored, int failed, bool complete,
                          int fresh)
{
    emit shopSaved(shopId, stored, failed, complete, fresh);
    // The saver clears its flag before its completion arrives, so a new run may have begun
    // meanwhile: the completion of an earlier run must not touch it.
    if (run != m_runNumber)
        return;
    m_walk.reset();
    if (!m_saverFault.isEmpty()) {
        const QString fault = m_saverFault;
        m_saverFault.clear();
        endFaulted(fault);
        return;
    }
    if (m_stopped || !m_running)
        return;
    mineFrom(m_currentRow);
}

void TMiningRun::endFaulted(const QString& error)
{
    // Every later shop would fail the same way: the run ends instead of downloading them.
    m_faulted = true;
    m_error = error;
    emit storeError(error);
    recordEnd(runrecords::RunState::Failed);
    if (!m_running)
        return;
    m_fetcher.cancel();
    m_timer.stop();
    m_stopped = true;
    m_running = false;
    emit statusText(formats::longTime(QTime::currentTime()) + QStringLiteral("中止挖掘成交数据！"));
    emit finished(true);
}

void TMiningRun::markShop(int position, runrecords::ShopState state)
{
    if (m_runId <= 0 || position < 0)
        return;
    QString error;
    if (!runrecords::markShop(m_dm.adoCn, m_runId, position, state, 0, &error))
        emit storeError(error);
}

void TMiningRun::queueFailed(const QString& reason)
{
    if (m_claim.id <= 0)
        return;
    QString error;
    if (shopqueue::markFailed(m_dm.adoCn, m_claim, reason, &error) != shopqueue::Outcome::Done)
        emit storeError(error);
}

void TMiningRun::recordEnd(runrecords::RunState state)
{
    if (m_runId <= 0)
        return;
    // The record of a run that failed on a full disk may not be writable either; it then
    // stays "running" and is told as interrupted once no program holds it.
    QString error;
    if (!runrecords::setState(m_dm.adoCn, m_runId, state, m_error, &error) && m_error.isEmpty())
        emit storeError(error);
    m_lock.release();
}

void TMiningRun::endRun()
{
    recordEnd(runrecords::RunState::Finished);
    const QDateTime end = QDateTime::currentDateTime();
    m_running = false;
    emit statusText(formats::longTime(end.time()) + QStringLiteral("挖掘交易完成！共花时间：") +
                    formats::elapsed(m_runStart.msecsTo(end)));
    emit finished(false);
}

void TMiningRun::cancel()
{
    if (!m_running || m_stopped)
        return;
    m_fetcher.cancel();
    m_timer.stop();
    m_stopped = true;
    emit statusText(formats::longTime(QTime::currentTime()) + QStringLiteral("中止挖掘成交数据！"));
    const QDateTime t = QDateTime::currentDateTime();
    if (m_walk) {
        if (!m_walk->stop())
            m_shopComplete = false;
        emit statusText(QStringLiteral("正在保存数据..."));
        shopFinished();
    }
    emit statusText(formats::longTime(t.time()) + QStringLiteral("挖掘成交数据中止！共花时间：") +
                    formats::elapsed(m_runStart.msecsTo(t)));
    recordEnd(m_downloadFailed ? runrecords::RunState::Failed : runrecords::RunState::Cancelled);
    m_running = false;
    emit finished(true);
}
