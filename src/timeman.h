// Time management: soft and hard budgets for one move from the clock.
#pragma once

#include <cstdint>

struct TimeBudget {
    int64_t soft;  // no new iteration starts past this (stretched on instability)
    int64_t hard;  // the search stops here whatever it is doing
};

// Budget for a move with `time_left` and `increment` ms on the mover's clock,
// `moves_to_go` moves to the next control (0 = the rest of the game) and
// `overhead` ms kept back for GUI and pipe latency. Never more than a safe
// share of what is left, so latency cannot flag; a clock at or below zero
// gets the minimum budget.
TimeBudget time_budget(int64_t time_left, int64_t increment, int moves_to_go, int overhead);
// A fixed time per move: all of it but the overhead.
TimeBudget time_budget_fixed(int64_t move_time, int overhead);

// The soft budget stretches (from 1) after an iteration that changed the best
// move or dropped the score, up to a cap.
double time_stretch(double stretch, bool best_move_changed, int previous_score, int score);
// Whether another iteration may start `elapsed` ms into the search: not when it
// could not finish within the stretched soft budget (never past the hard one).
// When it may, the stretch earns back some of its excess.
bool time_next_iteration(TimeBudget budget, int64_t elapsed, double& stretch);
