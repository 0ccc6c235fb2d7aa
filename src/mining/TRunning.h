#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class TMiningRun;
class TSearchRun;

// What the program has running that ending it must wait for or cut short: page downloads of
// a search or mining run, and ratings being written. Whoever makes a run adds it here; the
// close query, the status-bar gauge and the views ask here, and each answer comes from the
// runs themselves, so one run ending never clears another's state. A run is forgotten when
// it is destroyed. UI thread only.
class TRunning
{
public:
    using Ask = std::function<bool()>;

    void add(const TSearchRun& run);
    void add(const TMiningRun& run);
    // Any work, asked while owner lives; an empty question answers false.
    void add(const QObject* owner, Ask downloading, Ask saving = {});

    // Downloads of a run are under way.
    bool downloading() const;
    // A mining run's saver is writing ratings.
    bool saving() const;

private:
    struct Work
    {
        QPointer<const QObject> owner;
        Ask downloading;
        Ask saving;
    };
    bool any(Ask Work::*question) const;

    QList<Work> m_work;
};
