// Time budgets: a share of the clock, never the whole of it.
#include <gtest/gtest.h>

#include "timeman.h"

TEST(TimeBudget, NeverMoreThanASafeShareOfTheClock) {
    struct Case {
        int64_t time, increment;
        int moves_to_go, overhead;
    };
    const Case cases[] = {
        {2000, 0, 1, 30},     {500, 1000, 0, 30},   {60000, 0, 0, 30},    {1000, 0, 0, 0},
        {100, 5000, 2, 50},   {300000, 3000, 40, 100}, {9999999999999LL, 0, 0, 30}, {40, 0, 0, 30},
    };
    for (const Case& c : cases) {
        TimeBudget b = time_budget(c.time, c.increment, c.moves_to_go, c.overhead);
        SCOPED_TRACE(c.time);
        EXPECT_GT(b.soft, 0);
        EXPECT_LE(b.soft, b.hard);
        int64_t avail = c.time - c.overhead;
        if (avail > 10) {
            EXPECT_LE(b.hard, avail * 3 / 4);
        }
    }
}

TEST(TimeBudget, MoreTimeGivesMoreBudget) {
    EXPECT_LT(time_budget(10000, 0, 0, 30).soft, time_budget(60000, 0, 0, 30).soft);
    EXPECT_LT(time_budget(10000, 0, 0, 30).soft, time_budget(10000, 100, 0, 30).soft);
    EXPECT_LT(time_budget(10000, 0, 40, 30).soft, time_budget(10000, 0, 5, 30).soft);
}

TEST(TimeBudget, FlaggingClockGetsTheMinimumNotNoLimit) {
    for (int64_t t : {-150LL, 0LL, 10LL}) {
        TimeBudget b = time_budget(t, 0, 0, 30);
        EXPECT_GT(b.hard, 0) << t;
        EXPECT_LE(b.hard, 10) << t;
    }
}

TEST(TimeBudget, MoveTimeIsExactLessTheOverhead) {
    TimeBudget b = time_budget_fixed(1000, 30);
    EXPECT_EQ(b.soft, 970);
    EXPECT_EQ(b.hard, 970);
}

// Clocks, increments and move times from "go" can be anything up to the
// saturated LLONG_MAX (the command-loop fuzz target sent wtime 10^23): no
// overflow, and still a bounded share of the clock.
TEST(TimeBudget, ExtremeClocksGiveSaneBudgets) {
    const int64_t big = INT64_MAX, small = -INT64_MAX;
    struct Case {
        int64_t time, increment;
        int moves_to_go;
    } cases[] = {{big, 0, 3}, {big, big, 1}, {100, big, 0}, {small, 0, 0}, {small, small, 1}, {big, small, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.time << " " << c.increment << " " << c.moves_to_go);
        TimeBudget b = time_budget(c.time, c.increment, c.moves_to_go, 5000);
        EXPECT_GT(b.soft, 0);
        EXPECT_LE(b.soft, b.hard);
        if (c.time == small) {
            EXPECT_LE(b.hard, 10);
        }
        if (c.time == 100) {
            EXPECT_LE(b.hard, 100);
        }
    }
    for (int64_t t : {big, small}) {
        TimeBudget b = time_budget_fixed(t, 5000);
        EXPECT_GT(b.soft, 0);
        EXPECT_EQ(b.soft, b.hard);
    }
}
