#pragma once

#include "extract/Records.h"
#include "store/ShopQueue.h"

#include <QHash>
#include <QString>
#include <QThread>
#include <QVariant>
#include <atomic>
#include <memory>

// Writes one shop's profile figures and ratings on a thread of its own, with a database
// connection of its own, in one transaction that also removes the shop's duplicate ratings
// and marks the shop in its run record and on the queue, with a row of the shop's history.
// Created on the user-interface thread; its signals arrive there (queued). It frees itself when
// done. A forced exit does not interrupt it: the transaction either commits whole or is never
// seen, so no reader and no crash ever sees a duplicate rating.
class TSaveBarGain : public QThread
{
    Q_OBJECT

public:
    // A new saver; connect its signals, then start() it (a short list can be done before a
    // later connect would see it). The list is only read.
    static TSaveBarGain* Create(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                                const QString& shopId);

    // The shop's profile figures, by parameter name of kProfileSql; written with the ratings
    // when there are any. Call before start().
    // With them, a row of the shop's history (store/History.h) records the figures, totalRatings
    // (what the rating pages reported) and the ratings stored by then.
    void setProfile(const QHash<QString, QVariant>& params, qlonglong totalRatings = 0)
    {
        m_profile = params;
        m_totalRatings = totalRatings;
    }
    // The run record's shop row to mark in the same transaction: done, or incomplete when
    // the walk was cut short. Call before start().
    void setRunShop(qint64 runId, int position, bool complete)
    {
        m_runId = runId;
        m_position = position;
        m_complete = complete;
    }

    // The queue's claim on the shop, marked in the same transaction while it is still held:
    // done, or failed with cutShortReason when the walk was cut short. A claim another worker
    // has taken over meanwhile keeps nothing of this walk (faulted tells so). Call before start().
    void setQueueClaim(const shopqueue::Claim& claim, bool complete, const QString& cutShortReason)
    {
        m_claim = claim;
        m_complete = complete;
        m_cutShortReason = cutShortReason;
    }

    // True until the work is over, then false before completed is raised. Any thread.
    bool writing() const { return m_writing; }

    static QString doneText() { return QStringLiteral("数据保存完毕!"); }

    // The statements the saver sends: the profile update, one insert per rating, then one
    // duplicate removal.
    static const char kProfileSql[];
    static const char kInsertSql[];
    static const char kRemoveDuplicatesSql[];

    // Why a shop's ratings were not stored when the shop was deleted meanwhile.
    static QString shopDeletedReason()
    {
        return QStringLiteral("the shop was deleted from the database while it was mined");
    }

signals:
    // The main window's status text: progress in whole percent, then the closing text.
    void statusText(const QString& text);
    // Nothing of the shop was stored because the database itself failed (disk full, I/O
    // error, a lock held too long): "shop N: step: engine message". completed follows.
    void faulted(const QString& error);
    // The shop was no longer in the database (deleted meanwhile): nothing of it was stored, and
    // its ratings count as failed. completed follows.
    void shopGone();
    // The work is over: stored is the number of ratings inserted, failed those skipped, and
    // fresh those that were not stored before (the inserted ones less the copies removed).
    void completed(int stored, int failed, int fresh);

protected:
    void run() override;

private:
    TSaveBarGain(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                 const QString& shopId);
    // Stores everything in one transaction; false with the step and the engine's message.
    bool store(int& stored, int& failed, QString& error);
    // The run record and the queue's claim of a shop that was deleted.
    bool markDeleted(TConnection& connection, QString& error);
    void showPercent(int i, int n, int& shownPercent);

    QString m_databasePath;
    std::shared_ptr<const RatingList> m_ratings;
    QString m_shopId;
    QHash<QString, QVariant> m_profile;
    qlonglong m_totalRatings = 0;
    bool m_shopDeleted = false;
    qint64 m_runId = 0;
    int m_position = -1;
    bool m_complete = true;
    shopqueue::Claim m_claim;
    QString m_cutShortReason;
    int m_fresh = 0;
    std::atomic<bool> m_writing{true};
};
