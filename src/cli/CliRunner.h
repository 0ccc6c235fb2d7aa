#pragma once

#include "app/TConfig.h"
#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"
#include "store/TDM.h"

#include <QObject>
#include <QStringList>

// Runs a search and/or a mining run to its end for the command line: progress on standard
// error, results as JSON lines on standard output. UI (main) thread.
class CliRunner : public QObject
{
    Q_OBJECT

public:
    CliRunner(TConfig config, TDM& dm);

    // Each returns the process exit status: 0, 1 on a failed download or database error.
    int search(const SearchCriteria& criteria, bool mine, int from, int to);
    int mine(const QList<TMiningRun::Row>& rows, int from, int to);

private:
    int runMining(const QList<TMiningRun::Row>& rows, int from, int to);
    void progress(const QString& text);

    TConfig m_config;
    TDM& m_dm;
    bool m_failed = false;
};
