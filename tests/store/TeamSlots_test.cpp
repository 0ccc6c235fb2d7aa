// The team's download slots on a server: taken by any program up to the cap, given back, held
// for the whole team after a marketplace's request to wait, and freed with a program's session.
#include "store/ServerDatabase.h"
#include "store/TTeamSlots.h"

#include <QThread>

namespace {

TEST(TeamSlots, TwoProgramsShareTheCapAHoldStopsTheOtherAndAClosedSessionFreesItsSlots)
{
    SERVER_DATABASE(url);
    QString error;
    auto a = std::make_unique<TTeamSlots>();
    TTeamSlots b;
    ASSERT_TRUE(a->open(url, &error)) << error.toStdString();
    ASSERT_TRUE(b.open(url, &error)) << error.toStdString();
    a->setCap(3);
    b.setCap(3);
    const std::string host = "http://127.0.0.1:8631", other = "http://127.0.0.1:8632";
    EXPECT_EQ(a->take(host), 0);
    EXPECT_EQ(a->take(host), 1) << "a program's own slot is not taken twice";
    EXPECT_EQ(b.take(host), 2);
    EXPECT_EQ(b.take(host), -1) << "the cap is the team's";
    EXPECT_EQ(a->take(host), -1);
    EXPECT_EQ(b.take(other), 0) << "each host has slots of its own";
    a->give(host, 1);
    EXPECT_EQ(b.take(host), 1);

    // A hold by one program stops the other on that host only, until it ends.
    b.give(host, 1);
    a->hold(host, 300);
    EXPECT_EQ(b.take(host), -1);
    EXPECT_EQ(a->take(host), -1);
    b.give(other, 0);
    EXPECT_EQ(b.take(other), 0);
    int taken = -1;
    for (int i = 0; i < 200 && taken < 0; ++i) {
        QThread::msleep(20);
        a->give(other, a->take(other)); // the holder lets go of an ended hold when it next asks
        taken = b.take(host);
    }
    EXPECT_EQ(taken, 1) << "the hold ended";

    // A program gone leaves its slots to the others at once.
    EXPECT_EQ(a->held(), 1);
    a.reset();
    EXPECT_EQ(b.take(host), 0);
    EXPECT_EQ(b.take(host), -1) << "b holds 0, 1 and 2";
}

} // namespace
