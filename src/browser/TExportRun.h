#pragma once

#include "browser/TExportJob.h"

#include <QObject>
#include <atomic>
#include <memory>

class QThread;

// Runs one export at a time on a worker thread, so the window keeps painting while the rows
// are written. Progress and the end arrive as queued signals on the owner's thread. Destroying
// it cancels a running export and waits for its thread. Created and used on the UI thread.
class TExportRun : public QObject
{
    Q_OBJECT

public:
    explicit TExportRun(QObject* parent = nullptr);
    ~TExportRun() override;

    // False (and nothing starts) while an export runs.
    bool start(TExportJob::Request request);
    bool busy() const { return m_thread != nullptr; }
    void cancel() { m_cancel = true; }

signals:
    void progressChanged(qint64 done, qint64 total);
    void finished(const TExportJob::Result& result);

private:
    void threadDone(const TExportJob::Result& result);

    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
};
