#include "mining/TMiningRun.h"

#include "extract/TThreadHttp.h"
#include "mining/TSaveBarGain.h"
#include "mining/TSearchRun.h"
#include "mining/TeamCap.h"
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
        if (m_extractor && !m_stopped)
            showMiningText();
    });
    connect(&m_fetcher, &TPageFetcher::failed, this, [this](const QString& error, const QString& url) {
        if (m_stopped || !m_extractor)
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
    if (!m_lock.acquire(m_dm.adoCn.path(), runId, &busy)) {
        m_error = busy ? runrecords::RunLock::busyMessage(runId)
                       : QStringLiteral("run %1: the lock file cannot be made").arg(runId);
        return busy ? StartResult::RunBusy : StartResult::StoreFailed;
    }
    QList<Row> rows;
    TQuery* q = m_dm.adoq1;
    q->SetSQL(QStringLiteral("select count(*) from dianbase where id=:id"));
    for (const runrecords::Shop& shop : run->shops) {
        if (!run->unfinished(shop))
            continue;
        q->SetParam(QStringLiteral("id"), shop.shopId);
        if (!q->Open()) {
            m_error = q->lastError();
            m_lock.release();
            return StartResult::StoreFailed;
        }
        const bool present = q->value(0, 0).toLongLong() > 0;
        q->Close();
        if (!present) {
            // Deleted in the browser meanwhile: mining it again would bring it back.
            runrecords::markShop(m_dm.adoCn, runId, shop.position, runrecords::ShopState::Skipped, 0,
                                 nullptr);
            emit shopSkipped(shop.webaddr);
            continue;
        }
        rows << Row{true, shop.texts, shop.position};
    }
    if (rows.isEmpty()) {
        runrecords::setState(m_dm.adoCn, runId, runrecords::RunState::Finished, QString(), nullptr);
        m_lock.release();
        return StartResult::NothingLeft;
    }
    runrecords::setState(m_dm.adoCn, runId, runrecords::RunState::Running, QString(), nullptr);
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
    m_fromRecord = fromRecord;
    m_toRecord = toRecord;
    m_newOnly = newOnly;
    m_fetcher.begin(config);
    setUpTeam(config);
    m_connectionsCap = config.Net().Connections;
    m_prefetch = Prefetch();
    ++m_runNumber;
    m_markedSeen = 0;
    m_ratingPages = 0;
    m_ratingHost = config.Market().RatingHost;
    m_domain = config.Market().Domain;
    m_minedCount = 0;
    m_error.clear();
    m_faulted = false;
    emit shopStarted(QString());
    emit totalRatingsChanged(0);
    emit ratingsReadChanged(0);
    emit savedCountChanged(0);
    setShopProgress(0);

    int first = -1;
    int marked = 0;
    QList<runrecords::Shop> recorded;
    for (int r = 0; r < m_rows.size(); ++r) {
        if (!m_rows[r].marked || m_rows[r].texts.isEmpty())
            continue;
        if (first < 0)
            first = r;
        ++marked;
        qint64 shopId = 0;
        if (!storeShop(m_rows[r], &shopId)) {
            if (resumedRun > 0)
                m_lock.release();
            return StartResult::StoreFailed;
        }
        if (resumedRun == 0) {
            m_rows[r].position = marked;
            recorded << runrecords::Shop{
                marked, shopId, m_rows[r].texts.value(3), m_rows[r].texts, runrecords::ShopState::Pending, 0};
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
        m_lock.acquire(m_dm.adoCn.path(), m_runId);
    }
    m_running = true;
    m_runStart = QDateTime::currentDateTime();
    mineFrom(first);
    return StartResult::Started;
}

bool TMiningRun::storeShop(const Row& row, qint64* shopId)
{
    // Look-up and insert in one transaction, so that two programs storing the same shop at
    // once make one row for its address.
    TConnection& cn = m_dm.adoCn;
    const bool own = !cn.inTransaction();
    if (own && !cn.beginTransaction()) {
        m_error = cn.error();
        return false;
    }
    auto fail = [&](const QString& error) {
        m_error = error;
        if (own)
            cn.rollback();
        return false;
    };
    TQuery* q = m_dm.adoq1;
    const QString webaddr = row.texts.value(3);
    q->SetSQL(QStringLiteral("select * from dianbase where webaddr=:webaddr"));
    q->SetParam(QStringLiteral("webaddr"), webaddr);
    if (!q->Open())
        return fail(q->lastError());
    const bool found = q->RecordCount() > 0;
    q->Close();
    q->SetSQL(
        found ? QStringLiteral("update dianbase set dianzhu=:dianzhu,addr=:addr,dianming=:dianming,"
                               "commodityNum=:commodityNum,loc=:loc,updateDate=:updateDate,"
                               "commodityKind=:commodityKind where webaddr=:webaddr")
              : QStringLiteral("insert into dianbase(dianzhu,addr,dianming,commodityNum,loc,updateDate,"
                               "commodityKind,webaddr) values(:dianzhu,:addr,:dianming,:commodityNum,:loc,"
                               ":updateDate,:commodityKind,:webaddr)"));
    q->SetParam(QStringLiteral("dianzhu"), row.texts.value(0));
    q->SetParam(QStringLiteral("addr"), row.texts.value(5));
    q->SetParam(QStringLiteral("dianming"), row.texts.value(1));
    q->SetParam(QStringLiteral("commodityNum"), row.texts.value(4));
    q->SetParam(QStringLiteral("loc"), row.texts.value(2));
    q->SetParam(QStringLiteral("updateDate"), formats::dateTime(QDateTime::currentDateTime()));
    q->SetParam(QStringLiteral("commodityKind"), row.texts.value(6));
    q->SetParam(QStringLiteral("webaddr"), webaddr);
    if (q->ExecSQL() < 0)
        return fail(q->lastError());
    q->SetSQL(QStringLiteral("select id from dianbase where webaddr=:webaddr"));
    q->SetParam(QStringLiteral("webaddr"), webaddr);
    if (!q->Open())
        return fail(q->lastError());
    *shopId = q->value(0, 0).toLongLong();
    q->Close();
    if (own && !cn.commit())
        return fail(cn.error());
    return true;
}

void TMiningRun::mineFrom(int row)
{
    // A row that cannot be mined (no address, not on the marketplace) is passed over, so the
    // run neither waits for ever nor mines a row twice.
    for (int r = row; r < m_rows.size(); ++r) {
        if (!m_rows[r].marked || m_rows[r].texts.isEmpty())
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

bool TMiningRun::mineRow(int r)
{
    const Row& row = m_rows[r];
    TQuery* q = m_dm.adoq1;
    q->SetSQL(QStringLiteral("select * from dianbase where webaddr=:webaddr"));
    q->SetParam(QStringLiteral("webaddr"), row.texts.value(3));
    m_currentShopId.clear();
    if (q->Open() && q->RecordCount() > 0)
        m_currentShopId = q->FieldByName(QStringLiteral("id")).asString();
    else if (!q->lastError().isEmpty())
        emit storeError(q->lastError());
    q->Close();
    setShopProgress(3);
    const QString url = row.texts.value(3);
    if (url.isEmpty() || m_currentShopId.isEmpty() ||
        text::foldAscii(gbk::fromQString(url)).find(text::foldAscii(gbk::fromQString(m_domain))) ==
            std::string::npos)
        return false;
    emit cancelEnabledChanged(true);
    emit shopStarted(row.texts.value(0));
    emit shopBegun(m_markedSeen, m_markedCount, row.texts);
    emit totalRatingsChanged(0);
    emit ratingsReadChanged(0);
    emit bytesChanged(0, 0);
    m_storedBefore = -1;
    m_newRead = 0;
    m_extractor = std::make_shared<THTMLExcavate>(m_fromRecord, m_toRecord, gbk::fromQString(m_ratingHost));
    m_saverStarted = false;
    m_shopComplete = true;
    m_parallelWalk = false;
    m_ahead.clear();
    showMiningText();
    emit savedCountChanged(m_minedCount);
    m_currentRow = r + 1;
    setShopProgress(5);
    if (m_prefetch.row == r) {
        // Its shop page was asked for during the last shop: use it, or wait for it.
        if (m_prefetch.shopPage) {
            const std::string page = std::move(*m_prefetch.shopPage);
            m_prefetch.shopPage.reset();
            onPage(0, page);
        } else {
            m_prefetch.waitingShop = true;
        }
        return true;
    }
    m_prefetch = Prefetch();
    fetch(std::string(text::trim(gbk::fromQString(url))));
    return true;
}

void TMiningRun::prefetchNextShop()
{
    for (int r = m_currentRow; r < m_rows.size(); ++r) {
        const Row& row = m_rows[r];
        if (!row.marked || row.texts.isEmpty())
            continue;
        const QString url = row.texts.value(3);
        if (url.isEmpty() ||
            text::foldAscii(gbk::fromQString(url)).find(text::foldAscii(gbk::fromQString(m_domain))) ==
                std::string::npos)
            continue; // passed over by the walk; the one after it is not guessed at
        m_prefetch = Prefetch();
        m_prefetch.row = r;
        m_fetcher.fetch(std::string(text::trim(gbk::fromQString(url))), prefetchTag(r, false));
        return;
    }
}

void TMiningRun::onPrefetched(int row, bool ratings, const std::string& body)
{
    if (m_prefetch.row < 0 || row != m_prefetch.row)
        return;
    if (!ratings) {
        if (m_prefetch.waitingShop) {
            m_prefetch.waitingShop = false;
            onPage(0, body);
            return;
        }
        m_prefetch.shopPage = body;
        // Its first rating page as well, when the shop page tells where it is.
        THTMLExcavate probe(m_fromRecord, m_toRecord, gbk::fromQString(m_ratingHost));
        probe.LoadProfilePage(text::foldAscii(body));
        if (!probe.RatingUrlBase().empty()) {
            m_prefetch.firstAsked = true;
            ++m_ratingPages;
            m_fetcher.fetch(probe.RatingUrlBase() + std::to_string(probe.PageNo()) + "--snapId%7C0.htm",
                            prefetchTag(row, true));
        }
        return;
    }
    if (m_prefetch.waitingRatings) {
        m_prefetch.waitingRatings = false;
        m_prefetch.row = -1;
        ratingPage(body);
        return;
    }
    m_prefetch.firstRatings = body;
}

void TMiningRun::firstRatingPage()
{
    // The shop being mined is the prefetched one when its shop page came that way.
    if (m_prefetch.row == m_currentRow - 1 && m_prefetch.firstAsked) {
        if (m_prefetch.firstRatings) {
            const std::string page = std::move(*m_prefetch.firstRatings);
            m_prefetch = Prefetch();
            ratingPage(page);
        } else {
            m_prefetch.waitingRatings = true;
        }
        return;
    }
    m_prefetch = Prefetch();
    fetchRatingPage();
}

void TMiningRun::showMiningText()
{
    QString text = QStringLiteral("正在挖掘第%1个掌柜的成交数据...").arg(m_minedCount + 1);
    if (m_connectionsCap > 1)
        text += QStringLiteral("（%1个连接）").arg(m_fetcher.connectionsInForce());
    emit statusText(text);
}

void TMiningRun::fetch(const std::string& url)
{
    m_fetcher.fetch(url);
}

void TMiningRun::fetchRatingPage()
{
    ++m_ratingPages;
    fetch(m_extractor->RatingUrlBase() + std::to_string(m_extractor->PageNo()) + "--snapId%7C0.htm");
}

void TMiningRun::onPage(int tag, const std::string& body)
{
    if (m_stopped)
        return;
    if (tag < 0) {
        onPrefetched((-tag - 1) / 2, (-tag - 1) % 2 == 1, body);
        return;
    }
    if (!m_extractor)
        return;
    if (tag > 0) {
        // Pages of a parallel walk are read in page order, as a walk one page at a time would.
        m_ahead.emplace(tag, body);
        for (auto it = m_ahead.find(m_extractor->PageNo()); it != m_ahead.end() && m_extractor && !m_stopped;
             it = m_ahead.find(m_extractor->PageNo())) {
            const std::string next = std::move(it->second);
            m_ahead.erase(it);
            ratingPage(next);
        }
        return;
    }
    if (!m_extractor->Ready()) {
        setShopProgress(2);
        m_extractor->LoadProfilePage(text::foldAscii(body));
        if (m_extractor->RatingUrlBase().empty()) {
            // Not a shop page of this marketplace (its home page, a shop on another host):
            // no rating address can be built, so the shop ends here and the run goes on.
            m_extractor.reset();
            emit cancelEnabledChanged(false);
            markShop(m_currentPosition, runrecords::ShopState::Failed);
            queueFailed(noRatingLinkReason());
            emit shopFailed(m_currentShopId, noRatingLinkReason());
            mineFrom(m_currentRow);
            return;
        }
        setShopProgress(m_shopProgress + 5);
        m_timer.start();
        firstRatingPage();
        return;
    }
    ratingPage(body);
}

void TMiningRun::ratingPage(const std::string& body)
{
    const std::string page = text::foldAscii(body);
    const size_t firstOfPage = m_extractor->Ratings().size();
    const bool first = !m_extractor->FirstPageDone();
    m_extractor->ProcessRatingPage(page);
    if (m_extractor->Ready() && m_extractor->FirstPageDone())
        emit totalRatingsChanged(m_extractor->TotalRatings());
    // Rating pages list the newest first: past a page of known ratings all are known.
    if (m_newOnly && !m_extractor->Finished() && nothingNewBeyond(firstOfPage))
        m_extractor->SetFinished(true);
    // Once the first page told the last one, the rest are asked for at once (within the
    // connections allowed); a new-only walk decides page by page whether to go on.
    if (first && !m_extractor->Finished() && !m_newOnly && m_connectionsCap > 1 &&
        m_extractor->PageNo() <= m_extractor->LastPage()) {
        m_parallelWalk = true;
        for (int p = m_extractor->PageNo(); p <= m_extractor->LastPage(); ++p) {
            ++m_ratingPages;
            m_fetcher.fetch(m_extractor->RatingUrlBase() + std::to_string(p) + "--snapId%7C0.htm", p);
        }
        // Behind them in the queue, so they start only when this shop's pages leave room.
        prefetchNextShop();
        return;
    }
    // Past the last page the walk is over; one page at a time, the next request tells.
    if (m_parallelWalk && m_extractor->PageNo() > m_extractor->LastPage())
        m_extractor->SetFinished(true);
    if (m_extractor->Finished()) {
        m_timer.stop();
        emit ratingsReadChanged(m_extractor->RatingCount());
        setShopProgress(100);
        emit statusText(QStringLiteral("正在保存数据..."));
        shopFinished();
        ++m_minedCount;
        emit savedCountChanged(m_minedCount);
    } else if (!m_parallelWalk) {
        fetchRatingPage();
    }
}

bool TMiningRun::nothingNewBeyond(size_t firstOfPage)
{
    const RatingList& ratings = m_extractor->Ratings();
    // A page without ratings proves nothing.
    if (ratings.size() <= firstOfPage || m_currentShopId.isEmpty())
        return false;
    TQuery* q = m_dm.adoq1;
    if (m_storedBefore < 0) {
        q->SetSQL(QStringLiteral("select count(distinct itemId_pjsj) from pjinfo where dian_id=:dianId"));
        q->SetParam(QStringLiteral("dianId"), m_currentShopId);
        m_storedBefore = q->Open() ? q->value(0, 0).toLongLong() : 0;
        q->Close();
    }
    q->SetSQL(QStringLiteral("select count(*) from pjinfo where dian_id=:dianId and itemId_pjsj=:key"));
    int unknown = 0;
    for (size_t i = firstOfPage; i < ratings.size(); ++i) {
        const RatingRecord& r = ratings[i].second;
        if (r.size() < 4)
            continue;
        q->SetParam(QStringLiteral("dianId"), m_currentShopId);
        q->SetParam(QStringLiteral("key"), gbk::toQString(r[3]) + gbk::toQString(r[1]));
        if (!q->Open()) {
            emit storeError(q->lastError());
            return false;
        }
        if (q->value(0, 0).toLongLong() == 0)
            ++unknown;
        q->Close();
    }
    m_newRead += unknown;
    if (unknown > 0)
        return false;
    // Ratings missing further down (an earlier walk that ended early) keep the walk going.
    const qlonglong expected = std::min(m_extractor->TotalRatings(), m_extractor->ToRecord());
    return m_storedBefore + m_newRead >= expected;
}

void TMiningRun::onTimer()
{
    if (!m_extractor)
        return;
    const int count = m_extractor->RatingCount();
    const int total = m_extractor->TotalRatings();
    emit ratingsReadChanged(count);
    if (count > 0 && total > 0)
        setShopProgress((85000 / total) * count / 1000 + 10);
}

void TMiningRun::setShopProgress(int percent)
{
    m_shopProgress = percent;
    emit shopProgressChanged(percent);
}

void TMiningRun::shopFinished()
{
    emit cancelEnabledChanged(false);
    if (m_saverStarted)
        return;
    m_saverStarted = true;
    const THTMLExcavate& x = *m_extractor;
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
    auto* saver = TSaveBarGain::Create(
        m_dm.adoCn.path(), std::shared_ptr<const RatingList>(m_extractor, &x.Ratings()), m_currentShopId);
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
    const QString webaddr = m_rows.value(m_currentRow - 1).texts.value(3);
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
    m_extractor.reset();
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
    runrecords::setState(m_dm.adoCn, m_runId, state, m_error, nullptr);
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
    if (m_extractor) {
        if (!m_extractor->Finished())
            m_shopComplete = false;
        m_extractor->SetFinished(true);
        emit statusText(QStringLiteral("正在保存数据..."));
        shopFinished();
    }
    emit statusText(formats::longTime(t.time()) + QStringLiteral("挖掘成交数据中止！共花时间：") +
                    formats::elapsed(m_runStart.msecsTo(t)));
    recordEnd(m_downloadFailed ? runrecords::RunState::Failed : runrecords::RunState::Cancelled);
    m_running = false;
    emit finished(true);
}
