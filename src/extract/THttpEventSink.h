#pragma once

#include <QObject>
#include <QString>

class TThreadHttp;

// Connection states a download worker reports through THttpEventSink::status.
enum class HttpStatus
{
    Resolving,
    Connecting,
    Connected,
    Disconnecting,
    Disconnected,
    Text, // a free status text, such as the response's status line
};

// Direction of a transfer in the work events. Downloads send no request body, so only Read
// is raised today.
enum class HttpWorkMode
{
    Read,
    Write,
};

// The owner's end of a download: a plain object living on the user-interface thread whose
// five signals the download workers raise there, one at a time, while the worker waits.
// An owner keeps one sink (one per kind of download) and connects its handlers once; every
// worker started with that sink then reaches those handlers. The sender argument may be
// read (Body, ResultCode) only inside a handler.
class THttpEventSink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // Each change of the connection state. The final Disconnected of a download is the one
    // for which sender->Ended() is true; an earlier one (the server closed the connection)
    // comes before Body is set.
    void status(TThreadHttp* sender, HttpStatus kind, const QString& text);
    // Start of the response body; expected is the announced size in bytes, 0 when unknown.
    void workBegin(TThreadHttp* sender, HttpWorkMode mode, qint64 expected);
    // Bytes of the body received so far.
    void work(TThreadHttp* sender, HttpWorkMode mode, qint64 countSoFar);
    // End of the body transfer, also after a failure once workBegin was raised.
    void workEnd(TThreadHttp* sender, HttpWorkMode mode);
    // The download failed: ResultCode() is "100860" and ErrorText() says why; the final
    // Disconnected follows. Not raised for a retryable failure the owner will try again
    // (TThreadHttp::Options::quietIfRetryable).
    void failed(TThreadHttp* sender);
};
