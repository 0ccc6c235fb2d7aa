#include "analysis/TAnalysisThread.h"

#include "store/TConnection.h"

TAnalysisThread::TAnalysisThread(QString databasePath, QObject* parent)
    : QObject(parent), m_path(std::move(databasePath)), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("analysis"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

TAnalysisThread::~TAnalysisThread()
{
    // A run under way finishes first; its result is dropped with this object.
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

bool TAnalysisThread::start(Job job)
{
    if (m_busy)
        return false;
    m_busy = true;
    QMetaObject::invokeMethod(
        m_worker,
        [this, job = std::move(job)]() {
            // Runs on the worker thread; the connection is opened there on first use.
            analysis::Result result;
            if (!m_connection && m_path.isEmpty()) {
                result.error = TConnection::notOpenError();
            } else if (!m_connection) {
                auto connection = std::make_unique<TConnection>();
                if (connection->open(m_path) && connection->tuneFor(TConnection::Use::Grouping))
                    m_connection = std::move(connection);
                else
                    result.error = connection->error();
            }
            // A server that went away fails this run with its message; the run's statements
            // connect again the next time.
            if (m_connection) {
                auto report = [this](int percent) {
                    QMetaObject::invokeMethod(
                        this, [this, percent]() { emit progress(percent); }, Qt::QueuedConnection);
                };
                result = job(*m_connection, report);
            }
            QMetaObject::invokeMethod(
                this,
                [this, result = std::move(result)]() {
                    m_busy = false;
                    emit finished(result);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}
