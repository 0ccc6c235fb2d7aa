#pragma once

#include "extract/THttpEventSink.h"
#include "extract/TSearchUser.h"
#include "mining/SearchCriteria.h"
#include "mining/TPageFetcher.h"
#include "settings/TConfig.h"
#include "store/ShopRow.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <memory>

class TThreadHttp;

// One search of the shop directory: result pages fetched strictly one after another, each
// handed to the result parser, until the parser is finished or the user cancels. Drives no
// widgets: the search view and the command line listen to its signals. UI thread only.
class TSearchRun : public QObject
{
    Q_OBJECT

public:
    explicit TSearchRun(QObject* parent = nullptr);
    ~TSearchRun() override;

    // Starts a search; false (and nothing changes) when the criteria are not enough. config must
    // outlive the run: each page takes the agent that is current when its download starts.
    bool start(const SearchCriteria& criteria, const TConfig& config);
    // Ends a running search early, keeping the shops read so far.
    void cancel();

    bool running() const { return m_running; }
    int searchNo() const { return m_searchNo; }
    const std::string& searchBaseUrl() const { return m_searchBaseUrl; }
    int progress() const { return m_progress; }
    // The parser of the last search (until the next one starts).
    const TSearchUser* parser() const { return m_parser.get(); }
    // The shops read so far, each in the category searched.
    QList<ShopRow> shops() const;
    // Retries made by the current or last search.
    int retries() const { return m_fetcher.retries(); }
    // The search log's line about a retry.
    static QString retryText(int attempt, int retries, qint64 delayMs, const QString& reason);

signals:
    void logLines(const QStringList& lines);
    void statusText(const QString& info1);
    void totalFoundChanged(int total);            // shops the marketplace reports
    void shopCountChanged(int count);             // shops read so far
    void progressChanged(int percent);            // 0..100
    void bytesChanged(qint64 done, qint64 total); // the page being downloaded
    // The run is over: completed, cancelled or ended by a failed download.
    void finished(const QList<ShopRow>& shops, bool cancelled);
    // A page failed with its retries spent (the run then ends as a cancel would).
    void downloadFailed(const QString& error, const QString& url);
    // A failed page is tried again after delayMs (also written to the search log).
    void retrying(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason);

private:
    void onPage(const std::string& page);
    void onTimer();
    void fetch(const std::string& url);
    void complete();
    void stop(const QString& endLabel, const QString& statusSuffix);
    void setProgress(int percent);

    TPageFetcher m_fetcher;
    QTimer m_timer;
    std::unique_ptr<TSearchUser> m_parser;
    std::string m_searchBaseUrl;
    QString m_category;
    QDateTime m_runStart;
    int m_searchNo = 0;
    int m_progress = 0;
    bool m_running = false;
    bool m_stopped = false;
};
