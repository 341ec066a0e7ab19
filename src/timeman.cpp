#include "timeman.h"

constexpr int64_t MIN_BUDGET_MS = 5;      // even a flagging clock gets a depth-1 answer
constexpr int DEFAULT_MOVES_TO_GO = 30;   // moves the rest of the game is planned for
constexpr int MAX_MOVES_TO_GO = 50;
constexpr int INCREMENT_SHARE = 3;        // out of 4: how much of the increment a move may spend
constexpr int HARD_FACTOR = 4;            // the hard limit as a multiple of the soft one
// Caps, as per mille of (clock - overhead): a single move never takes more.
// Just before a control the clock is refilled, so the last move (and the
// one before, each half) may take most of what is left.
constexpr int SOFT_CAP_PERMILLE = 400;
constexpr int HARD_CAP_PERMILLE = 700;
constexpr int LAST_MOVE_SOFT_CAP_PERMILLE = 850;
constexpr int LAST_MOVE_HARD_CAP_PERMILLE = 950;
// Clocks and increments beyond this (about 35 years) plan as if they were this,
// so that no sum or product below can overflow whatever "go" says.
constexpr int64_t MAX_CLOCK_MS = int64_t(1) << 40;
// The soft budget stretches when the best move changes or the score drops,
// and no iteration starts past this share of it (it would not finish).
constexpr double NEW_ITERATION_SHARE = 0.6;
constexpr double BEST_MOVE_CHANGE_STRETCH = 1.6;
constexpr double SCORE_DROP_STRETCH = 1.4;
constexpr int SCORE_DROP_MARGIN = 30;
constexpr double MAX_STRETCH = 2.5;

static int64_t at_least_min(int64_t v) { return v < MIN_BUDGET_MS ? MIN_BUDGET_MS : v; }
static int64_t within_clock_range(int64_t v) {
    if (v > MAX_CLOCK_MS) return MAX_CLOCK_MS;
    return v < -MAX_CLOCK_MS ? -MAX_CLOCK_MS : v;
}

TimeBudget time_budget(int64_t time_left, int64_t increment, int moves_to_go, int overhead) {
    time_left = within_clock_range(time_left);
    increment = within_clock_range(increment);
    int64_t avail = time_left - overhead;
    if (avail < MIN_BUDGET_MS) return TimeBudget{MIN_BUDGET_MS, MIN_BUDGET_MS};
    if (increment < 0) increment = 0;
    // More moves to go never give a move more time: far-off controls plan
    // for MAX_MOVES_TO_GO.
    int mtg = moves_to_go <= 0 ? DEFAULT_MOVES_TO_GO : moves_to_go < MAX_MOVES_TO_GO ? moves_to_go : MAX_MOVES_TO_GO;
    int64_t soft = avail / mtg + increment * INCREMENT_SHARE / 4;
    int64_t hard = soft * HARD_FACTOR;
    // The last move before a control may use much of the clock, but not all.
    int soft_permille = moves_to_go > 0 && LAST_MOVE_SOFT_CAP_PERMILLE / mtg > SOFT_CAP_PERMILLE
                            ? LAST_MOVE_SOFT_CAP_PERMILLE / mtg
                            : SOFT_CAP_PERMILLE;
    int hard_permille = moves_to_go > 0 && LAST_MOVE_HARD_CAP_PERMILLE / mtg > HARD_CAP_PERMILLE
                            ? LAST_MOVE_HARD_CAP_PERMILLE / mtg
                            : HARD_CAP_PERMILLE;
    int64_t soft_cap = avail / 1000 * soft_permille + avail % 1000 * soft_permille / 1000;
    int64_t hard_cap = avail / 1000 * hard_permille + avail % 1000 * hard_permille / 1000;
    if (soft > soft_cap) soft = soft_cap;
    if (hard > hard_cap) hard = hard_cap;
    return TimeBudget{at_least_min(soft), at_least_min(hard)};
}

TimeBudget time_budget_fixed(int64_t move_time, int overhead) {
    int64_t t = at_least_min(within_clock_range(move_time) - overhead);
    return TimeBudget{t, t};
}

double time_stretch(double stretch, bool best_move_changed, int previous_score, int score) {
    if (best_move_changed) stretch *= BEST_MOVE_CHANGE_STRETCH;
    if (score < previous_score - SCORE_DROP_MARGIN) stretch *= SCORE_DROP_STRETCH;
    return stretch > MAX_STRETCH ? MAX_STRETCH : stretch;
}

bool time_next_iteration(TimeBudget budget, int64_t elapsed, double& stretch) {
    double soft = double(budget.soft) * stretch;
    if (soft > double(budget.hard)) soft = double(budget.hard);
    if (double(elapsed) >= soft * NEW_ITERATION_SHARE) return false;
    stretch = 1.0 + (stretch - 1.0) / 2;  // stability earns back some of the stretch
    return true;
}
