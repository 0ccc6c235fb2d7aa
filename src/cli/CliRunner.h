#pragma once

#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"
#include "settings/TConfig.h"
#include "store/ShopQueue.h"
#include "store/TDM.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>

// Runs a search and/or a mining run to its end for the command line: a progress line on
// standard error when it is a terminal, one line per retry or failure, results as JSON
// lines on standard output. UI (main) thread.
class CliRunner : public QObject
{
    Q_OBJECT

public:
    CliRunner(TConfig config, TDM& dm);

    // Each returns the process exit status: 0, 1 on a failed download or database error.
    // With enqueue, the shops found are put on the queue with the run options instead of mined.
    int search(const SearchCriteria& criteria, bool mine, int from, int to, bool newOnly = false,
               bool enqueue = false);
    int mine(const QList<TMiningRun::Row>& rows, int from, int to, bool newOnly = false);
    // Continues a recorded run with its unfinished shops (2 when it is unknown).
    int resume(qint64 runId);

    // How the mining of one queued shop ended.
    enum class WorkEnd
    {
        Done,       // stored and marked done
        ShopFailed, // marked failed with its reason; the worker goes on
        ClaimLost,  // another worker holds the shop now; nothing of this walk was kept
        Fault,      // the database failed: the shop went back to the queue where it could
    };
    // Mines one claimed shop, renewing the claim's lease while it works; fault names the cause
    // of a Fault.
    WorkEnd work(const shopqueue::Claim& claim, const TMiningRun::Row& row, QString* fault);

    // The mining progress line: shop k of n, its name where known, ratings read of the shop's
    // total, retries, the connections in force (when more than one may be) and elapsed time.
    static QString miningLine(int shop, int shops, const QString& name, int read, int total, int retries,
                              qint64 elapsedMs, int connections = 0);

private:
    // prepare is called with the run before it starts, to connect to it.
    int runMining(const std::function<TMiningRun::StartResult(TMiningRun&)>& start,
                  const std::function<void(TMiningRun&)>& prepare = {});
    // Rewrites the progress line in place; nothing when standard error is not a terminal.
    void progress(const QString& text);
    // A line of its own, kept above the progress line.
    void line(const QString& text);
    void retryLine(int attempt, int retries, qint64 delayMs, const QString& url, const QString& reason);
    void downloadFailed(const QString& error, const QString& url);
    // A run's notice, told once per command.
    void notice(const QString& text);

    TConfig m_config;
    TDM& m_dm;
    bool m_failed = false;
    bool m_terminal = false;
    QString m_shown;      // the progress line on screen
    QSet<QString> m_told; // notices told
};
