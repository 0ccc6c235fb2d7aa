#pragma once

#include "analysis/AnalysisRun.h"

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

class TConnection;

// Runs the analyses' statements on a thread of its own with a database connection of its own,
// one run at a time, so the window stays live while a large shop is read. Lives on the UI
// thread; its signals arrive there.
class TAnalysisThread : public QObject
{
    Q_OBJECT

public:
    using Job = std::function<analysis::Result(TConnection& connection, const analysis::Progress& progress)>;

    explicit TAnalysisThread(QString databasePath, QObject* parent = nullptr);
    ~TAnalysisThread() override;

    // Starts a job; false (and nothing runs) while the previous one is still under way.
    bool start(Job job);
    bool busy() const { return m_busy; }

signals:
    void progress(int percent);
    void finished(const analysis::Result& result);

private:
    QString m_path;
    QThread m_thread;
    QObject* m_worker;                         // lives on m_thread
    std::unique_ptr<TConnection> m_connection; // used on m_thread only
    bool m_busy = false;
};
