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
            // The last move before a control may take more: the clock is refilled.
            EXPECT_LE(b.hard, c.moves_to_go == 1 ? avail * 95 / 100 : avail * 3 / 4);
        }
    }
}

TEST(TimeBudget, MoreTimeGivesMoreBudget) {
    EXPECT_LT(time_budget(10000, 0, 0, 30).soft, time_budget(60000, 0, 0, 30).soft);
    EXPECT_LT(time_budget(10000, 0, 0, 30).soft, time_budget(10000, 100, 0, 30).soft);
    EXPECT_LT(time_budget(10000, 0, 40, 30).soft, time_budget(10000, 0, 5, 30).soft);
}

// More moves to the control never buy a move more time, from 1 to far
// beyond any real control; the last move before it may use most of the clock.
TEST(TimeBudget, MoreMovesToGoNeverGiveMoreTime) {
    for (int64_t increment : {0, 1000}) {
        TimeBudget last = time_budget(60000, increment, 1, 30);
        EXPECT_GE(last.soft, (60000 - 30) * 8 / 10) << increment;
        for (int moves = 2; moves <= 100; moves++) {
            TimeBudget b = time_budget(60000, increment, moves, 30);
            EXPECT_LE(b.soft, last.soft) << moves;
            EXPECT_LE(b.hard, last.hard) << moves;
            last = b;
        }
    }
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

// An iteration is started only while it can be expected to finish in the soft
// budget; a changed best move or a dropped score buys more, never past the
// hard limit, and agreeing iterations give the extra time back.
TEST(IterationTime, NoIterationStartsThatCannotFinish) {
    const TimeBudget budget{1000, 2000};
    double stable = 1.0;
    EXPECT_TRUE(time_next_iteration(budget, 0, stable));
    for (int64_t elapsed : {1000LL, 999LL, 700LL}) {
        double stretch = 1.0;
        EXPECT_FALSE(time_next_iteration(budget, elapsed, stretch)) << elapsed;
    }
    // The latest start of a stable search, found by bisection.
    int64_t lo = 0, hi = budget.soft;
    while (hi - lo > 1) {
        int64_t mid = (lo + hi) / 2;
        double stretch = 1.0;
        (time_next_iteration(budget, mid, stretch) ? lo : hi) = mid;
    }
    EXPECT_GT(lo, budget.soft / 4);
    EXPECT_LT(lo, budget.soft);
}

TEST(IterationTime, InstabilityBuysTimeWithinTheHardLimit) {
    const TimeBudget budget{1000, 2000};
    const int64_t past_stable = 700;  // a stable search starts nothing here
    struct Case {
        bool best_move_changed;
        int previous_score, score;
        bool more_time;
    } cases[] = {
        {true, 20, 20, true},    // the best move changed
        {false, 20, -60, true},  // the score dropped
        {false, 20, 0, false},   // a small drop is noise
        {false, 20, 200, false}, // a rising score needs no more time
    };
    for (const Case& c : cases) {
        double stretch = time_stretch(1.0, c.best_move_changed, c.previous_score, c.score);
        EXPECT_EQ(time_next_iteration(budget, past_stable, stretch), c.more_time)
            << c.best_move_changed << " " << c.previous_score << " " << c.score;
    }
    // However unstable, no iteration starts at the hard limit.
    double stretch = 1.0;
    for (int i = 0; i < 20; i++) stretch = time_stretch(stretch, true, 100, -100);
    EXPECT_FALSE(time_next_iteration(budget, budget.hard, stretch));
    EXPECT_FALSE(time_next_iteration(TimeBudget{1000, 1000}, 999, stretch));
    // Iterations that agree give the extra time back.
    for (int i = 0; i < 20; i++) EXPECT_TRUE(time_next_iteration(budget, 0, stretch));
    EXPECT_FALSE(time_next_iteration(budget, past_stable, stretch));
}
