// The shared queue of shops: entries added once, claimed by one worker at a time under a lease,
// marked only by the claim that holds them, failed ones put back.
#include "store/ServerDatabase.h"
#include "store/ShopQueue.h"
#include "store/TQuery.h"

#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// On the database file and on a server (the test's own).
class ShopQueue : public ::testing::TestWithParam<bool>
{
protected:
    // Where the queue lives: the one place a run against another store changes.
    QString queueDatabase() const
    {
        return m_url.isEmpty() ? m_dir.filePath(QStringLiteral("quelmar2.mdb")) : m_url;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        if (GetParam()) {
            SERVER_DATABASE(url);
            m_url = url;
        }
        ASSERT_TRUE(db.open(queueDatabase())) << db.error().toStdString();
    }

    QString m_url;

    static shopqueue::Entry entry(const QString& webaddr, int from = 1, int to = 5000, bool newOnly = false)
    {
        return shopqueue::Entry{webaddr, {}, from, to, newOnly};
    }

    static QString shopAddress(int i) { return QStringLiteral("http://127.0.0.1:9/shop/%1.htm").arg(i); }

    int add(const QList<shopqueue::Entry>& entries)
    {
        QString error;
        const int n = shopqueue::add(db, entries, &error);
        EXPECT_GE(n, 0) << error.toStdString();
        return n;
    }

    std::optional<shopqueue::Claim> claim(const QString& worker, int lease = 120)
    {
        QString error;
        auto c = shopqueue::claim(db, worker, lease, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        return c;
    }

    shopqueue::Status status()
    {
        QString error;
        auto s = shopqueue::status(db, &error);
        EXPECT_TRUE(s) << error.toStdString();
        return s ? *s : shopqueue::Status();
    }

    // Lets the lease of every claim end, as the clock would.
    void endLeases()
    {
        TQuery q(&db, QStringLiteral("test"));
        q.SetSQL(QStringLiteral("update shopQueue set leaseUntil=:t where state='claimed'"));
        q.SetParam(QStringLiteral("t"), shopqueue::now() - 1);
        ASSERT_GE(q.ExecSQL(), 0) << q.lastError().toStdString();
    }

    QTemporaryDir m_dir;
    TConnection db;
};

TEST_P(ShopQueue, AShopWaitingOrClaimedIsAddedOnceAndKeepsItsOptions)
{
    EXPECT_EQ(add({entry(shopAddress(1), 41, 120, true), entry(shopAddress(2)), entry(shopAddress(1))}), 2);
    EXPECT_EQ(add({entry(shopAddress(2)), entry(shopAddress(3))}), 1);
    EXPECT_EQ(status().waiting, 3);

    auto first = claim("a:1");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->entry.webaddr, shopAddress(1));
    EXPECT_EQ(first->entry.fromRecord, 41);
    EXPECT_EQ(first->entry.toRecord, 120);
    EXPECT_TRUE(first->entry.newOnly);
    EXPECT_EQ(first->worker, "a:1");
    // Claimed is still on the queue: not added again.
    EXPECT_EQ(add({entry(shopAddress(1))}), 0);

    // Once done, the shop may be queued anew.
    ASSERT_EQ(shopqueue::markDone(db, *first, 90, nullptr), shopqueue::Outcome::Done);
    EXPECT_EQ(add({entry(shopAddress(1))}), 1);
    const shopqueue::Status s = status();
    EXPECT_EQ(s.waiting, 3);
    EXPECT_EQ(s.done, 1);
    EXPECT_TRUE(s.claimed.isEmpty());

    // A row's texts travel with it.
    shopqueue::Entry texted = entry(shopAddress(7));
    texted.row = ShopRow{"掌柜", "小店", "女装", shopAddress(7), "12", "杭州", "不限"};
    EXPECT_EQ(add({texted}), 1);
    QSet<QString> seen;
    while (auto c = claim("a:1")) {
        seen << c->entry.webaddr;
        if (c->entry.webaddr == shopAddress(7))
            EXPECT_EQ(c->entry.row, texted.row);
        else
            EXPECT_FALSE(c->entry.row);
        ASSERT_EQ(shopqueue::markDone(db, *c, 0, nullptr), shopqueue::Outcome::Done);
    }
    EXPECT_EQ(seen.size(), 4);
}

TEST_P(ShopQueue, AClaimHoldsItsShopUntilItsLeaseEndsAndThenOnlyTheNewClaimMayMarkIt)
{
    add({entry(shopAddress(1)), entry(shopAddress(2))});
    auto a = claim("a:1");
    auto b = claim("b:2");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->entry.webaddr, b->entry.webaddr);
    EXPECT_FALSE(claim("c:3")) << "both shops are held under live leases";

    const shopqueue::Status held = status();
    ASSERT_EQ(held.claimed.size(), 2);
    EXPECT_EQ(held.claimed[0].worker, "a:1");
    EXPECT_LE(held.claimed[0].since, shopqueue::now());
    EXPECT_GE(held.claimed[0].leaseUntil, held.claimed[0].since + 120);

    // a renews in time; b's worker has died.
    EXPECT_EQ(shopqueue::renew(db, *a, 120, nullptr), shopqueue::Outcome::Done);
    endLeases();
    EXPECT_EQ(shopqueue::renew(db, *a, 120, nullptr), shopqueue::Outcome::Done) << "not taken yet";
    endLeases();
    auto c = claim("c:3");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->entry.webaddr, a->entry.webaddr) << "the oldest shop whose lease ended";
    auto d = claim("d:4");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->entry.webaddr, b->entry.webaddr);

    // The first claims lost their shops: no mark, no renewal, no giving back.
    QString error;
    EXPECT_EQ(shopqueue::markDone(db, *a, 5, &error), shopqueue::Outcome::Lost);
    EXPECT_TRUE(error.contains(a->entry.webaddr)) << error.toStdString();
    EXPECT_EQ(shopqueue::renew(db, *b, 120, nullptr), shopqueue::Outcome::Lost);
    EXPECT_EQ(shopqueue::markFailed(db, *b, "x", nullptr), shopqueue::Outcome::Lost);
    EXPECT_EQ(shopqueue::giveBack(db, *a, nullptr), shopqueue::Outcome::Lost);
    // The same worker claiming the same shop again is a new claim too.
    shopqueue::Claim stale = *c;
    stale.attempt -= 1;
    EXPECT_EQ(shopqueue::markDone(db, stale, 1, nullptr), shopqueue::Outcome::Lost);

    EXPECT_EQ(shopqueue::markDone(db, *c, 5, nullptr), shopqueue::Outcome::Done);
    EXPECT_EQ(shopqueue::markDone(db, *c, 5, nullptr), shopqueue::Outcome::Lost) << "done once only";
    ASSERT_EQ(shopqueue::giveBack(db, *d, nullptr), shopqueue::Outcome::Done);
    const shopqueue::Status s = status();
    EXPECT_EQ(s.waiting, 1);
    EXPECT_EQ(s.done, 1);
    EXPECT_TRUE(s.claimed.isEmpty());
    auto e = claim("e:5");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->entry.webaddr, b->entry.webaddr) << "given back, claimable at once";
}

TEST_P(ShopQueue, FailedShopsKeepTheirReasonAndArePutBackOnce)
{
    add({entry(shopAddress(1)), entry(shopAddress(2)), entry(shopAddress(3))});
    for (int i = 0; i < 3; ++i) {
        auto c = claim("a:1");
        ASSERT_TRUE(c);
        if (i < 2)
            ASSERT_EQ(shopqueue::markFailed(db, *c, QStringLiteral("reason %1").arg(i), nullptr),
                      shopqueue::Outcome::Done);
        else
            ASSERT_EQ(shopqueue::markDone(db, *c, 1, nullptr), shopqueue::Outcome::Done);
    }
    shopqueue::Status s = status();
    EXPECT_EQ(s.waiting, 0);
    ASSERT_EQ(s.failed.size(), 2);
    EXPECT_EQ(s.failed[0].webaddr, shopAddress(1));
    EXPECT_EQ(s.failed[0].reason, "reason 0");
    EXPECT_EQ(s.failed[1].reason, "reason 1");

    // Shop 2 was queued anew meanwhile: putting its failed entry back would mine it twice.
    EXPECT_EQ(add({entry(shopAddress(2))}), 1);
    QString error;
    EXPECT_EQ(shopqueue::retryFailed(db, &error), 2) << error.toStdString();
    s = status();
    EXPECT_EQ(s.waiting, 2);
    EXPECT_TRUE(s.failed.isEmpty());
    EXPECT_EQ(s.done, 1);
    QStringList claimed;
    while (auto c = claim("b:2")) {
        claimed << c->entry.webaddr;
        ASSERT_EQ(shopqueue::markDone(db, *c, 1, nullptr), shopqueue::Outcome::Done);
    }
    claimed.sort();
    EXPECT_EQ(claimed, (QStringList{shopAddress(1), shopAddress(2)}));
    EXPECT_EQ(shopqueue::retryFailed(db, &error), 0);
}

TEST_P(ShopQueue, WorkersClaimingAtOnceEachGetADifferentShopAndNoneIsLeftOver)
{
    QList<shopqueue::Entry> entries;
    for (int i = 0; i < 60; ++i)
        entries << entry(shopAddress(i));
    ASSERT_EQ(add(entries), 60);
    std::mutex guard;
    QStringList claimed;
    QStringList errors;
    QList<QThread*> workers;
    for (int w = 0; w < 4; ++w) {
        workers << QThread::create([&, w] {
            TConnection own;
            if (!own.open(queueDatabase())) {
                std::lock_guard lock(guard);
                errors << own.error();
                return;
            }
            const QString name = QStringLiteral("worker:%1").arg(w);
            for (int round = 0; round < 100; ++round) {
                QString error;
                auto c = shopqueue::claim(own, name, 120, &error);
                if (!c) {
                    if (!error.isEmpty()) {
                        std::lock_guard lock(guard);
                        errors << error;
                    }
                    return;
                }
                if (shopqueue::markDone(own, *c, 0, &error) != shopqueue::Outcome::Done) {
                    std::lock_guard lock(guard);
                    errors << error;
                }
                std::lock_guard lock(guard);
                claimed << c->entry.webaddr;
            }
        });
        workers.last()->start();
    }
    for (QThread* t : workers) {
        t->wait();
        delete t;
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
    EXPECT_EQ(claimed.size(), 60);
    EXPECT_EQ(QSet<QString>(claimed.begin(), claimed.end()).size(), 60) << "no shop claimed twice";
    EXPECT_EQ(status().done, 60);
}

INSTANTIATE_TEST_SUITE_P(Engines, ShopQueue, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

} // namespace
