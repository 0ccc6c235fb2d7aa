#pragma once

#include "QtTestApp.h"
#include "extract/TThreadHttp.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <string>
#include <vector>

// Runs one download the way an owner does and records every event it receives, with what
// the worker showed at that moment.
class WorkerRecorder : public QObject
{
public:
    enum class Kind
    {
        Status,
        WorkBegin,
        Work,
        WorkEnd,
        Failure,
    };
    struct Event
    {
        Kind kind = Kind::Status;
        HttpStatus status = HttpStatus::Text;
        QString text;
        qint64 value = 0;
        size_t bodySize = 0;
        std::string resultCode;
        bool ended = false;
        bool onMainThread = false;
    };

    WorkerRecorder()
    {
        ensureCoreApp();
        m_sink = new THttpEventSink(this);
        connect(m_sink, &THttpEventSink::status, this,
                [this](TThreadHttp* w, HttpStatus kind, const QString& text) {
                    Event e = snapshot(Kind::Status, w);
                    e.status = kind;
                    e.text = text;
                    m_events.push_back(e);
                    if (kind == HttpStatus::Disconnected && w->Ended()) {
                        m_finalBody = w->Body();
                        m_retryable = w->Retryable();
                        m_retryAfterMs = w->RetryAfterMs();
                        m_quiet = w->FailureQuiet();
                    }
                    if (m_onStatus)
                        m_onStatus(w, kind);
                });
        connect(m_sink, &THttpEventSink::workBegin, this,
                [this](TThreadHttp* w, HttpWorkMode, qint64 expected) {
                    Event e = snapshot(Kind::WorkBegin, w);
                    e.value = expected;
                    m_events.push_back(e);
                });
        connect(m_sink, &THttpEventSink::work, this, [this](TThreadHttp* w, HttpWorkMode, qint64 count) {
            Event e = snapshot(Kind::Work, w);
            e.value = count;
            m_events.push_back(e);
            if (m_onWork)
                m_onWork(w, count);
        });
        connect(m_sink, &THttpEventSink::workEnd, this,
                [this](TThreadHttp* w, HttpWorkMode) { m_events.push_back(snapshot(Kind::WorkEnd, w)); });
        connect(m_sink, &THttpEventSink::failed, this, [this](TThreadHttp* w) {
            Event e = snapshot(Kind::Failure, w);
            e.text = w->ErrorText();
            m_events.push_back(e);
        });
    }

    // Starts the download and runs the event loop until the worker has freed itself (true)
    // or the time is up (false).
    bool run(const std::string& url, const THttpAgent& agent = {}, int timeoutMs = 15000,
             TThreadHttp::Options options = TThreadHttp::Options())
    {
        QPointer<TThreadHttp> worker =
            TThreadHttp::Create(url, std::make_shared<THttpAgent>(agent), m_sink, options);
        m_worker = worker;
        if (m_afterCreate)
            m_afterCreate(worker.data());
        QEventLoop loop;
        connect(worker.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        return worker.isNull();
    }

    const std::vector<Event>& events() const { return m_events; }
    const std::string& finalBody() const { return m_finalBody; }
    THttpEventSink* sink() const { return m_sink; }

    int count(HttpStatus kind) const
    {
        int n = 0;
        for (const Event& e : m_events)
            n += e.kind == Kind::Status && e.status == kind;
        return n;
    }
    int count(Kind kind) const
    {
        int n = 0;
        for (const Event& e : m_events)
            n += e.kind == kind;
        return n;
    }
    const Event* first(Kind kind) const
    {
        for (const Event& e : m_events)
            if (e.kind == kind)
                return &e;
        return nullptr;
    }
    QString failureText() const
    {
        const Event* e = first(Kind::Failure);
        return e ? e->text : QString();
    }
    bool succeeded() const
    {
        return !m_events.empty() && m_events.back().ended && m_events.back().resultCode == "0" &&
               !first(Kind::Failure);
    }
    bool failedCleanly() const
    {
        // The failure path: one report, then Disconnecting and exactly one final Disconnected
        // with no page and the failure code.
        if (count(Kind::Failure) != 1 || m_events.size() < 3)
            return false;
        const Event& last = m_events.back();
        const Event& before = m_events[m_events.size() - 2];
        int finals = 0;
        for (const Event& e : m_events)
            finals += e.kind == Kind::Status && e.status == HttpStatus::Disconnected && e.ended;
        return finals == 1 && last.kind == Kind::Status && last.status == HttpStatus::Disconnected &&
               last.ended && last.bodySize == 0 && last.resultCode == "100860" &&
               before.status == HttpStatus::Disconnecting && first(Kind::Failure)->resultCode == "100860";
    }

    std::function<void(TThreadHttp*, HttpStatus)> m_onStatus;
    std::function<void(TThreadHttp*, qint64)> m_onWork;
    // What the worker said about its failure at its final event.
    bool m_retryable = false;
    qint64 m_retryAfterMs = 0;
    bool m_quiet = false;
    std::function<void(TThreadHttp*)> m_afterCreate;
    QPointer<TThreadHttp> m_worker;

private:
    Event snapshot(Kind kind, TThreadHttp* w) const
    {
        Event e;
        e.kind = kind;
        e.bodySize = w->Body().size();
        e.resultCode = w->ResultCode();
        e.ended = w->Ended();
        e.onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        return e;
    }

    THttpEventSink* m_sink;
    std::vector<Event> m_events;
    std::string m_finalBody;
};
