#include "movepick.h"

#include <cstring>

#include "attacks.h"

constexpr int HISTORY_MAX = 16384;    // history values stay within +-HISTORY_MAX
constexpr int HISTORY_BONUS_CAP = 1600;
constexpr int MVV_SCALE = 8;          // victim value weighs this much more than the attacker

// ---- Static exchange -------------------------------------------------------

U64 attackers_to(const BoardState& board, U64 occ, int sq) {
    const U64* p = board.pieces;
    return (knight_attacks[sq] & (p[B_KNIGHT] | p[W_KNIGHT])) | (king_attacks[sq] & (p[B_KING] | p[W_KING])) |
           (pawn_attacks[0][sq] & p[B_PAWN]) | (pawn_attacks[1][sq] & p[W_PAWN]) |
           (rook_attacks(sq, occ) & (p[B_ROOK] | p[W_ROOK] | p[B_QUEEN] | p[W_QUEEN])) |
           (bishop_attacks(sq, occ) & (p[B_BISHOP] | p[W_BISHOP] | p[B_QUEEN] | p[W_QUEEN]));
}

// The swap list: each side in turn recaptures on the square with its least
// valuable attacker; sliders behind a piece that has left join in (x-rays).
// Either side may stop capturing when that is better for it. An en-passant
// victim leaves a square off the target; a promotion gains the new piece at
// once, and that piece is what the opponent may take back.
int see(const BoardState& board, Move m) {
    const U64* p = board.pieces;
    int to = move_to(m), from = move_from(m), mover = move_piece(m);
    U64 occ = board.occupancy[0] | board.occupancy[1];
    int gain[40];
    if (m & MOVE_EN_PASSANT) {
        int victim = to ^ 8;  // the pawn passed beside the mover, on the mover's rank
        occ &= ~bit(victim);
        gain[0] = piece_value[board.mailbox[victim]];
    } else {
        gain[0] = board.mailbox[to] == NO_PIECE ? 0 : piece_value[board.mailbox[to]];
    }
    if (m & MOVE_PROMOTION) {
        mover = make_piece(move_promotion_kind(m), colour_of(mover));
        gain[0] += piece_value[mover] - piece_value[move_piece(m)];
    }
    U64 attackers = attackers_to(board, occ, to);
    U64 rooklike = p[B_ROOK] | p[W_ROOK] | p[B_QUEEN] | p[W_QUEEN];
    U64 bishoplike = p[B_BISHOP] | p[W_BISHOP] | p[B_QUEEN] | p[W_QUEEN];
    gain[1] = piece_value[mover] - gain[0];
    if ((-gain[0] > gain[1] ? -gain[0] : gain[1]) < 0) return gain[0];
    int d = 1;
    U64 from_bit = bit(from);
    for (;;) {
        attackers &= ~from_bit;
        occ &= ~from_bit;
        attackers |= ((bishop_attacks(to, occ) & bishoplike) | (rook_attacks(to, occ) & rooklike)) & occ;
        int side = colour_of(mover) ^ (d & 1);
        U64 set = 0;
        int kind = PAWN;
        for (; kind <= KING; kind++) {
            set = attackers & p[make_piece(kind, side)];
            if (set) break;
        }
        if (!set || d + 1 >= 40) break;
        // A king may only take last: it cannot step into an attacked square.
        if (kind == KING && (attackers & board.occupancy[side ^ 1] & ~from_bit)) break;
        from_bit = set & (0 - set);
        d++;
        gain[d] = piece_value[make_piece(kind, side)] - gain[d - 1];
    }
    for (int k = d - 2; k >= 0; k--) gain[k] = -(-gain[k] > gain[k + 1] ? -gain[k] : gain[k + 1]);
    return gain[0];
}

// ---- History, killers, counter moves ------------------------------------------

void clear_move_ordering(MoveHistory& h) { memset(&h, 0, sizeof h); }

void age_move_ordering(MoveHistory& h) {
    for (auto& side : h.history)
        for (auto& row : side)
            for (int& v : row) v /= 2;
}

// Gravity update: the bonus shrinks as the value nears the limit, so values
// stay bounded without a periodic rescale.
static inline void history_add(int& entry, int bonus) { entry += bonus - entry * (bonus < 0 ? -bonus : bonus) / HISTORY_MAX; }

void update_quiet_stats(MoveHistory& h, Move* killers, Move best, const Move* quiets_tried, int quiet_count,
                        int depth, Move previous) {
    auto& history = h.history;
    int side = colour_of(move_piece(best));
    int bonus = depth * depth + 2 * depth;
    if (bonus > HISTORY_BONUS_CAP) bonus = HISTORY_BONUS_CAP;
    history_add(history[side][move_from(best)][move_to(best)], bonus);
    for (int i = 0; i < quiet_count; i++) {
        Move m = quiets_tried[i];
        if (m != best) history_add(history[side][move_from(m)][move_to(m)], -bonus);
    }
    if (killers[0] != best) {
        killers[1] = killers[0];
        killers[0] = best;
    }
    if (previous) h.counter_moves[move_piece(previous)][move_to(previous)] = best;
}

// ---- Scores ----------------------------------------------------------------------

// Most valuable victim first, least valuable attacker among equals; a queen
// promotion counts as winning a queen.
static inline int capture_value(const BoardState& board, Move m) {
    int victim = (m & MOVE_EN_PASSANT) ? PAWN : board.mailbox[move_to(m)] == NO_PIECE ? -1 : kind_of(board.mailbox[move_to(m)]);
    int value = victim >= 0 ? MVV_SCALE * piece_value[make_piece(victim, WHITE)] : 0;
    if ((m & MOVE_PROMOTION) && move_promotion_kind(m) == QUEEN) value += MVV_SCALE * piece_value[W_QUEEN];
    return value - kind_of(move_piece(m));
}

void score_moves(const BoardState& board, const MoveHistory& h, const PlyRecord* rec, int* scores, Move hash_move,
                 const Move* killers, Move previous) {
    const Move* k = killers;
    Move counter = previous ? h.counter_moves[move_piece(previous)][move_to(previous)] : 0;
    int side = board.side;
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        int score;
        if (m == hash_move) {
            score = SCORE_HASH_MOVE;
        } else if (is_tactical(m)) {
            bool under_promotion = (m & MOVE_PROMOTION) && move_promotion_kind(m) != QUEEN;
            bool good = !under_promotion && ((m & (MOVE_EN_PASSANT | MOVE_PROMOTION)) || see(board, m) >= 0);
            score = (good ? SCORE_GOOD_CAPTURE : SCORE_BAD_CAPTURE) + capture_value(board, m);
        } else if (m == k[0]) {
            score = SCORE_KILLER_1;
        } else if (m == k[1]) {
            score = SCORE_KILLER_2;
        } else if (m == counter) {
            score = SCORE_COUNTER;
        } else {
            score = h.history[side][move_from(m)][move_to(m)];
        }
        scores[i] = score;
    }
}

void score_captures(const BoardState& board, const PlyRecord* rec, int* scores) {
    for (int i = 0; i < rec->move_count; i++) scores[i] = capture_value(board, rec->moves[i]);
}
