#include "browser/TExportRun.h"

#include <QThread>

TExportRun::TExportRun(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<TExportJob::Result>();
}

TExportRun::~TExportRun()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool TExportRun::start(TExportJob::Request request)
{
    if (m_thread)
        return false;
    m_cancel = false;
    m_thread = QThread::create([this, request = std::move(request)] {
        auto progress = [this](qint64 done, qint64 total) {
            QMetaObject::invokeMethod(
                this, [this, done, total] { emit progressChanged(done, total); }, Qt::QueuedConnection);
        };
        const TExportJob::Result result = TExportJob::run(request, progress, &m_cancel);
        QMetaObject::invokeMethod(
            this, [this, result] { threadDone(result); }, Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("export"));
    m_thread->start();
    return true;
}

void TExportRun::threadDone(const TExportJob::Result& result)
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    emit finished(result);
}
