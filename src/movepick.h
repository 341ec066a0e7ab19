// Move ordering: static exchange evaluation, the history, killer and
// counter-move tables, and the scores that put the likeliest cut-off first.
#pragma once

#include "board.h"

// Both colours' pieces that attack sq with the given occupancy.
U64 attackers_to(const BoardState& board, U64 occ, int sq);
// Material outcome of the capture m for its mover, both sides recapturing
// with their least valuable piece (x-rays included).
int see(const BoardState& board, Move m);

// What a thread's search has learnt about quiet moves. Killers live on the
// search's per-ply stack and are passed in as a pair.
struct MoveHistory {
    int history[2][64][64];      // by side, from and to; aged between searches
    Move counter_moves[12][64];  // the quiet reply that refuted a move, by its piece and square
};

// Clears what a new game should not inherit.
void clear_move_ordering(MoveHistory& h);
// Shrinks the history between searches so that old evidence fades.
void age_move_ordering(MoveHistory& h);
// A quiet move caused a cut-off at `depth` after `quiets_tried` other quiets
// failed: reward it, punish those, remember it as killer and counter move.
void update_quiet_stats(MoveHistory& h, Move* killers, Move best, const Move* quiets_tried, int quiet_count,
                        int depth, Move previous);

// Score bands, highest first.
constexpr int SCORE_HASH_MOVE = 1 << 30;
constexpr int SCORE_GOOD_CAPTURE = 1 << 28;
constexpr int SCORE_KILLER_1 = 1 << 27;
constexpr int SCORE_KILLER_2 = SCORE_KILLER_1 - 1;
constexpr int SCORE_COUNTER = SCORE_KILLER_1 - 2;
constexpr int SCORE_BAD_CAPTURE = -(1 << 28);

// Scores every move of rec's list into `scores` (same order).
void score_moves(const BoardState& board, const MoveHistory& h, const PlyRecord* rec, int* scores, Move hash_move,
                 const Move* killers, Move previous);
// Captures and promotions only, by victim and attacker (quiescence).
void score_captures(const BoardState& board, const PlyRecord* rec, int* scores);
// Moves the best-scored move from index `from` on to index `from`.
inline void pick_move(PlyRecord* rec, int* scores, int from) {
    int best = from;
    for (int i = from + 1; i < rec->move_count; i++)
        if (scores[i] > scores[best]) best = i;
    if (best != from) {
        int s = scores[from];
        scores[from] = scores[best];
        scores[best] = s;
        Move m = rec->moves[from];
        rec->moves[from] = rec->moves[best];
        rec->moves[best] = m;
    }
}

// Is m a capture or a promotion (the moves quiescence searches)?
inline bool is_tactical(Move m) { return (m & (MOVE_CAPTURE | MOVE_EN_PASSANT | MOVE_PROMOTION)) != 0; }
