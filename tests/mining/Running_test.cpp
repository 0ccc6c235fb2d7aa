#include "mining/TRunning.h"

#include <gtest/gtest.h>
#include <memory>

// Each answer comes from the work itself: one run ending leaves another's state as it is, and
// work whose owner is gone is never asked again.
TEST(Running, AnswersFollowEachWorkOnItsOwn)
{
    TRunning running;
    bool searching = true, mining = true, saving = false;
    QObject search;
    auto mine = std::make_unique<QObject>();
    running.add(&search, [&] { return searching; });
    running.add(
        mine.get(), [&] { return mining; }, [&] { return saving; });

    const struct
    {
        bool searching, mining, saving, downloading, anySaving;
    } cases[] = {
        {true, true, false, true, false},
        {false, true, false, true, false}, // the search ended under the mining run
        {false, false, true, false, true},
        {false, false, false, false, false},
    };
    for (const auto& c : cases) {
        searching = c.searching;
        mining = c.mining;
        saving = c.saving;
        EXPECT_EQ(running.downloading(), c.downloading);
        EXPECT_EQ(running.saving(), c.anySaving);
    }
    mining = saving = true;
    mine.reset();
    EXPECT_FALSE(running.downloading());
    EXPECT_FALSE(running.saving());
}
