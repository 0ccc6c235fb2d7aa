#pragma once

#include <QStringList>
#include <QThread>
#include <atomic>

// Opens a database file on a thread of its own and closes it again, so that the indexes and
// tallies it lacks are built while the window shows. Its notices and its end are queued
// signals. Cancelled (or destroyed) before it ends, it leaves the file as it was, and the next
// open builds again.
class TSchemaBuild : public QThread
{
    Q_OBJECT
public:
    explicit TSchemaBuild(const QString& path, QObject* parent = nullptr);
    ~TSchemaBuild() override;

    // The pieces an existing, writable file lacks whose building reads its ratings, when it
    // holds any; empty otherwise (and for a server). Reads the file without changing it.
    static QStringList slowPieces(const QString& path);

    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // After done(): what was added, or why not.
    const QStringList& mended() const { return m_mended; }
    const QString& error() const { return m_error; }

signals:
    void notice(const QString& text);
    void done(bool ok);

protected:
    void run() override;

private:
    QString m_path;
    std::atomic<bool> m_cancelled{false};
    QStringList m_mended;
    QString m_error;
};
