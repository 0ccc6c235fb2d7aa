#pragma once

#include "extract/Records.h"

#include <QString>
#include <QThread>
#include <memory>

// Writes one shop's ratings into the rating table on a thread of its own, with a database
// connection of its own, in one transaction; then removes the shop's duplicate ratings and
// clears runflags::savingRatings. Created on the user-interface thread; its signals arrive
// there (queued). It frees itself when done. A forced exit does not interrupt it: the
// transaction either commits whole or is never seen.
class TSaveBarGain : public QThread
{
    Q_OBJECT

public:
    // A new saver; connect its signals, then start() it (a short list can be done before a
    // later connect would see it). The list is only read.
    static TSaveBarGain* Create(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                                const QString& shopId);

    static QString doneText() { return QStringLiteral("数据保存完毕!"); }

    // The statements the saver sends: one insert per rating, then one duplicate removal.
    static const char kInsertSql[];
    static const char kRemoveDuplicatesSql[];

signals:
    // The main window's status text: progress in whole percent, then the closing text.
    void statusText(const QString& text);
    // The work is over: stored is the number of ratings inserted, failed those skipped.
    void completed(int stored, int failed);

protected:
    void run() override;

private:
    TSaveBarGain(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                 const QString& shopId);

    QString m_databasePath;
    std::shared_ptr<const RatingList> m_ratings;
    QString m_shopId;
};
