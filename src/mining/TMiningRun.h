#pragma once

#include "mining/TPageFetcher.h"
#include "mining/TShopWalk.h"
#include "settings/TConfig.h"
#include "store/RunRecords.h"
#include "store/ShopQueue.h"
#include "store/ShopRow.h"
#include "store/TTeamSlots.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <memory>

class TDM;
class TSaveBarGain;

// Mines the marked shops of a result list one after another: stores them all and records the
// run, walks each shop's pages (TShopWalk; the next shop's are asked for while the current one
// reads its last pages), hands the ratings and profile figures to the rating saver, and goes on
// with the next marked shop once the saver is done. Drives no widgets: the search view, the
// browser and the command line listen to its signals. UI thread only.
class TMiningRun : public QObject
{
    Q_OBJECT

public:
    // One result row: whether it is marked, and the shop.
    struct Row
    {
        bool marked = false;
        ShopRow shop;
        int position = -1; // its place in the run record (set by the run)
    };

    enum class StartResult
    {
        Started,
        SaverBusy,   // the saver still writes the previous shop
        NoMarkedRow, // nothing to mine
        StoreFailed, // a marked shop, the run record or its lock could not be stored; error() tells why
        RunBusy,     // resume: another program mines that run
        UnknownRun,  // resume: no such run recorded
        NothingLeft, // resume: every shop of the run is done
    };

    explicit TMiningRun(TDM& dm, QObject* parent = nullptr);
    ~TMiningRun() override;

    static QString saverBusyMessage() { return QStringLiteral("还有数据未保存完毕，请稍后再进行！"); }
    static QString noMarkedRowMessage() { return QStringLiteral("请选择需要保存的会员！"); }
    static QString closeRefusedMessage() { return QStringLiteral("正在保存信息，请稍候再关闭窗口!"); }

    // config must outlive the run: each page takes the agent current when its download starts.
    // With newOnly, the rating walk of a shop stops after the first page whose ratings are all
    // stored already, as long as the stored ratings and those read make up the shop's total.
    StartResult start(const QList<Row>& rows, int fromRecord, int toRecord, const TConfig& config,
                      bool newOnly = false);
    // Continues a recorded run with its unfinished shops only, with the run's own options; a
    // shop cut off mid-walk is mined again from its first page. A shop deleted from the
    // database meanwhile is skipped (shopSkipped).
    StartResult resume(qint64 runId, const TConfig& config);
    // Mines one shop claimed from the queue with the options it was queued with, recording no
    // run of its own: the queue is its record. The saver marks the claim done (or failed when the
    // walk was cut short) with the shop's ratings; a shop that cannot be mined at all is marked
    // failed with its reason (shopFailed).
    StartResult startQueued(const shopqueue::Claim& claim, const Row& row, const TConfig& config);
    // Ends the run: the ratings read so far for the current shop are still saved.
    void cancel();
    // The run record of the current or last run (0 before any).
    qint64 runId() const { return m_runId; }

    bool running() const { return m_running; }
    int minedCount() const { return m_minedCount; }
    // Retries made by the current or last run.
    int retries() const { return m_fetcher.retries(); }
    int connectionsInForce() const { return m_fetcher.connectionsInForce(); }
    // The most page downloads in flight at once in the current or last run.
    int mostInFlight() const { return m_fetcher.mostInFlight(); }
    const QString& error() const { return m_error; }
    // The last run ended because the database could not store a shop (disk full, I/O error,
    // a lock held too long); error() names the step and the engine's message.
    bool faulted() const { return m_faulted; }

    static QString noRatingLinkReason() { return QStringLiteral("no rating link on the shop page"); }
    // A row without an address on the marketplace's domain, or one the database lost.
    static QString notMinableReason() { return QStringLiteral("not a shop address of the marketplace"); }
    static QString cutShortReason() { return QStringLiteral("the rating walk was cut short"); }
    // A saver of this run is still writing ratings; the next run waits for it.
    bool saving() const;

signals:
    void statusText(const QString& info1);
    void shopStarted(const QString& shopkeeper); // curUser
    // Shop number (from 1) of all marked, with its row, when its download starts.
    void shopBegun(int number, int of, const ShopRow& shop);
    void totalRatingsChanged(int total);   // ratings the shop reports
    void ratingsReadChanged(int count);    // ratings read so far
    void shopProgressChanged(int percent); // 0..100 for the current shop
    void savedCountChanged(int shops);     // shops finished
    void totalToSaveChanged(int shops);    // shops marked
    void bytesChanged(qint64 done, qint64 total);
    void cancelEnabledChanged(bool enabled);
    // The page downloads allowed in flight at once now (lowered when the marketplace pushes
    // back, raised again after pages without trouble).
    void connectionsChanged(int inForce);
    // The run is over (completed, cancelled, or ended by a failed download). After a cancel
    // the saver may still be writing: shopSaved follows.
    void finished(bool cancelled);
    // The saver has written one shop's ratings; complete is false when the walk was cut short
    // (a failed download, a cancel), so that the shop has ratings missing.
    void shopSaved(const QString& shopId, int stored, int failed, bool complete, int fresh);
    // A shop could not be mined at all (reason told); the run goes on with the next one.
    void shopFailed(const QString& shopId, const QString& reason);
    // A shop is no longer in the database: resuming, one of the run record is not mined; mining,
    // one deleted while its ratings were read keeps none of them (shopSaved follows, with them
    // all failed).
    void shopSkipped(const QString& webaddr);
    void downloadFailed(const QString& error, const QString& url);
    // Something about the run's settings to tell once, e.g. a team cap that cannot be kept.
    void notice(const QString& text);
    // A failed page is tried again after delayMs (also shown as the status text).
    void retrying(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason);
    // A database statement failed; the run goes on where it can, except after a fault of the
    // database itself (faulted() is then true and the run ends).
    void storeError(const QString& error);

private:
    StartResult startRows(const QList<Row>& rows, int fromRecord, int toRecord, const TConfig& config,
                          bool newOnly, qint64 resumedRun, bool recordRun = true);
    // The queue's claim fails with the reason; failures to write it are told as store errors.
    void queueFailed(const QString& reason);
    // Joins the team's download slots on a server store when [Net] TeamConnections asks for
    // them; on a database file the notice says the key does nothing.
    void setUpTeam(const TConfig& config);
    // The run record's state of the current shop or of the run; failures to write it are
    // told as store errors.
    void markShop(int position, runrecords::ShopState state);
    void recordEnd(runrecords::RunState state);
    // Whether a row's address is on the marketplace's domain.
    bool onMarket(const QString& webaddr) const;
    bool mineRow(int row);
    void mineFrom(int row);
    void endRun();
    // The walk of row r, its pages asked for at once.
    std::unique_ptr<TShopWalk> walkFor(int r);
    // Asks for the next minable shop's pages behind the current shop's.
    void askNextShop();
    void onPage(int tag, const std::string& body);
    void shopRead();
    void shopWithoutRatings();
    // The status text of the shop being mined, with the connections in force.
    void showMiningText();
    void onTimer();
    void shopFinished();
    void nextShop(quint64 run, const QString& shopId, int stored, int failed, bool complete, int fresh);
    // Ends the run at once after a storage fault.
    void endFaulted(const QString& error);

    TDM& m_dm;
    // The team's download slots on the server store, while [Net] TeamConnections is set;
    // before the fetcher, which gives its slots back when it goes.
    std::unique_ptr<TTeamSlots> m_team;
    TPageFetcher m_fetcher;
    QTimer m_timer;
    QList<Row> m_rows;
    TShopWalk::Options m_walkOptions;
    QString m_domain;
    // The current shop's walk, from its start until its ratings are saved.
    std::unique_ptr<TShopWalk> m_walk;
    // The next shop's walk (of row m_nextRow), asked for ahead of its turn.
    std::unique_ptr<TShopWalk> m_next;
    int m_nextRow = -1;
    quint64 m_walks = 0;
    // Savers that may still run, joined before the run goes.
    QList<QPointer<TSaveBarGain>> m_savers;
    bool m_saverStarted = false;
    // Counts the runs started, so that a saver's completion is matched to its own run.
    quint64 m_runNumber = 0;
    int m_currentRow = 0;
    int m_minedCount = 0;
    int m_markedCount = 0;
    int m_markedSeen = 0;
    QString m_currentShopId;
    QDateTime m_runStart;
    bool m_running = false;
    bool m_stopped = false;
    bool m_faulted = false;
    bool m_downloadFailed = false;
    qint64 m_runId = 0;
    int m_currentPosition = -1;
    runrecords::RunLock m_lock;
    // The queue's claim on the shop of a queued run (id 0 otherwise).
    shopqueue::Claim m_claim;
    QString m_downloadError;
    // False once the current shop's walk was cut short.
    bool m_shopComplete = true;
    QString m_saverFault;
    QString m_error;
};
