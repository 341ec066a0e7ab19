// Static evaluation, from White's point of view until the final sign.
//
// Terms, in this order, each scored for White and mirrored for Black:
//  1. Material (kings not counted).
//  2. King placement and shelter: fixed rules for the king on e1, the castled
//     corners and the pawns in front of it while the enemy queen is on the
//     board, then the king table (middle game while the enemy has a queen).
//  3. Pawns (the rules this file chooses):
//     - passed pawn (no enemy pawn ahead on its own or a neighbouring file, no
//       own pawn ahead on its file): pawn_rank_table_2 by rank, or the larger
//       pawn_rank_table_1 once the enemy has only pawns left; plus
//       eval_table_9[enemy pieces] scaled by rank (passers grow as pieces
//       leave); plus pawn_rank_table_5 when nothing stands on its path;
//       plus pawn_rank_table_3 when an own pawn defends it or stands beside it;
//       plus pawn_rank_table_4 per step the enemy king is further from the
//       square ahead than the own king (at most 3 steps either way);
//     - doubled pawn (another own pawn ahead on its file): -12;
//     - isolated pawn (no own pawn on a neighbouring file): -10;
//     - backward pawn (no own pawn on a neighbouring file level with it or
//       behind, and its stop square attacked by an enemy pawn): -8;
//     - pawn islands: -eval_offsets_5[islands, at most 4];
//     - space: eval_table_13[count] for the squares c2-f4 (12 at most) that
//       hold no own pawn and no enemy pawn attacks.
//  4-7. Knights, bishops, rooks, queens: piece-square entry, proximity to the
//     enemy king, and two mobility counts over the mobility area (squares
//     not held by own pieces and not attacked by enemy pawns): the squares on
//     ranks ahead of the piece (toward the enemy) index the "_a" table, those
//     behind it the "_b" table; Black's ahead is downward. Attack terms, only
//     while the own king is safe (castled squares a1, b1, c1, g1, h1, g2, h2,
//     h3, mirrored for Black) or the enemy has no queen: 8 per attacked square
//     next to the enemy king and 4 per attacked square two steps from it.
//     Bishop pair: 15.
// Final: +15 for White, then the sign of the side to move.
#include "eval.h"

#include <cstdlib>

#include "attacks.h"

const int king_table_middle[64] = {
    -3, -4, -4, -5, -5, -4, -4, -3, -3, -4, -4, -5, -5, -4, -4, -3, -3, -4, -4, -5, -5, -4,
    -4, -3, -3, -4, -4, -5, -5, -4, -4, -3, -2, -3, -3, -4, -4, -3, -3, -2, -1, -2, -2, -2,
    -2, -2, -2, -1, 2,  2,  0,  0,  0,  0,  2,  2,  2,  3,  1,  0,  0,  1,  3,  2};
const int king_table_end[64] = {
    -5, -4, -3, -2, -2, -3, -4, -5, -3, -2, -1, 0,  0,  -1, -2, -3, -3, -1, 2,  3,  3,  2,
    -1, -3, -3, -1, 3,  4,  4,  3,  -1, -3, -3, -1, 3,  4,  4,  3,  -1, -3, -3, -1, 2,  3,
    3,  2,  -1, -3, -3, -3, 0,  0,  0,  0,  -3, -3, -5, -3, -3, -3, -3, -3, -3, -5};

int piece_square[12][64];

// From White's point of view, entry 0 = a8 ... entry 63 = h1.
static const int pawn_table[64] = {
    0,  0,  0,   0,   0,   0,   0,  0,  50, 50, 50,  50, 50, 50,  50, 50, 10, 10, 20, 30, 30, 20,
    10, 10, 5,   5,   10,  25,  25, 10, 5,  5,  0,   0,  0,  20,  20, 0,  0,  0,  5,  -5, -10, 0,
    0,  -10, -5, 5,   5,   10,  10, -20, -20, 10, 10, 5, 0,  0,  0,  0,  0,  0,  0,  0};
static const int knight_table[64] = {
    -50, -40, -30, -30, -30, -30, -40, -50, -40, -20, 0,   0,   0,   0,   -20, -40,
    -30, 0,   10,  15,  15,  10,  0,   -30, -30, 5,   15,  20,  20,  15,  5,   -30,
    -30, 0,   15,  20,  20,  15,  0,   -30, -30, 5,   10,  15,  15,  10,  5,   -30,
    -40, -20, 0,   5,   5,   0,   -20, -40, -50, -40, -30, -30, -30, -30, -40, -50};
static const int bishop_table_values[64] = {
    -20, -10, -10, -10, -10, -10, -10, -20, -10, 0,   0,   0,   0,   0,   0,   -10,
    -10, 0,   5,   10,  10,  5,   0,   -10, -10, 5,   5,   10,  10,  5,   5,   -10,
    -10, 0,   10,  10,  10,  10,  0,   -10, -10, 10,  10,  10,  10,  10,  10,  -10,
    -10, 5,   0,   0,   0,   0,   5,   -10, -20, -10, -10, -10, -10, -10, -10, -20};
static const int rook_table_values[64] = {
    0,  0,  0, 0, 0, 0, 0, 0,  5,  10, 10, 10, 10, 10, 10, 5,  -5, 0, 0, 0, 0, 0,
    0,  -5, -5, 0, 0, 0, 0, 0, 0,  -5, -5, 0,  0,  0,  0,  0,  0,  -5, -5, 0, 0, 0,
    0,  0,  0, -5, -5, 0, 0, 0, 0, 0,  0,  -5, 0,  0,  0,  5,  5,  0,  0,  0};
static const int queen_table_values[64] = {
    -20, -10, -10, -5, -5, -10, -10, -20, -10, 0,   0,   0,  0,  0,   0,   -10,
    -10, 0,   5,   5,  5,  5,   0,   -10, -5,  0,   5,   5,  5,  5,   0,   -5,
    0,   0,   5,   5,  5,  5,   0,   -5,  -10, 5,   5,   5,  5,  5,   0,   -10,
    -10, 0,   5,   0,  0,  0,   0,   -10, -20, -10, -10, -5, -5, -10, -10, -20};

void init_piece_square_tables() {
    const int* tables[6] = {pawn_table, knight_table, bishop_table_values,
                            rook_table_values, queen_table_values, king_table_middle};
    for (int kind = PAWN; kind <= KING; kind++)
        for (int s = 0; s < 64; s++) {
            piece_square[make_piece(kind, WHITE)][s] = tables[kind][s ^ 56];
            piece_square[make_piece(kind, BLACK)][s] = tables[kind][s];
        }
}

int knight_proximity[64][64];
int bishop_proximity[64][64];
int rook_proximity[64][64];
int queen_proximity[64][64];

const int knight_mobility_a[5] = {-3, -2, 0, 1, 2};
const int knight_mobility_b[5] = {-4, -2, -1, 0, 1};
const int bishop_mobility_a[15] = {-7, -1, -1, -1, 0, 0, 1, 2, 2, 3, 3, 4, 4, 5, 5};
const int bishop_mobility_b[15] = {-7, -1, -1, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const int rook_mobility_a[15] = {-5, -1, -1, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6};
const int rook_mobility_b[15] = {-3, -1, -1, 0, 0, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
const int queen_mobility_a[15] = {-2, -1, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3};
const int queen_mobility_b[15] = {-1, -1, -1, 0, 0, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3};
const int pawn_rank_table_1[8] = {0, 0, 13, 22, 37, 50, 75, 300};
const int pawn_rank_table_2[8] = {0, 0, 12, 22, 35, 48, 60, 200};
const int pawn_rank_table_3[8] = {0, 0, 1, 2, 5, 8, 12, 0};
const int pawn_rank_table_4[8] = {0, 0, 1, 3, 7, 10, 16, 0};
const int pawn_rank_table_5[8] = {0, 0, 1, 6, 16, 36, 76, 0};
const int eval_table_13[13] = {-6, -5, -3, 0, 1, 2, 3, 5, 6, 7, 8, 9, 10};
const int eval_table_9[9] = {47, 47, 47, 33, 29, 20, 25, 11, 19};
const int eval_offsets_5[5] = {-9, 1, 10, 15, 17};

// ---- Tunable weights ---------------------------------------------------------
constexpr int DOUBLED_PAWN = 12;
constexpr int ISOLATED_PAWN = 10;
constexpr int BACKWARD_PAWN = 8;
constexpr int PASSER_KING_STEPS = 3;     // king-distance term counts at most this many steps
constexpr int KING_ZONE_NEAR = 8;        // per attacked square next to the enemy king
constexpr int KING_ZONE_FAR = 4;         // per attacked square two steps away
constexpr int BISHOP_PAIR = 15;
constexpr int WHITE_TEMPO = 15;

// ---- Masks, White's orientation (Black's terms flip the board) ----------------
static U64 file_mask[8];
static U64 adjacent_files[8];
static U64 file_front[64];        // own file, ranks ahead
static U64 passed_span[64];       // own and neighbouring files, ranks ahead
static U64 level_or_behind[64];   // neighbouring files, same rank or behind
static U64 ranks_above[8];        // every square on a higher rank
static U64 ranks_below[8];
static U64 king_ring_far[64];     // squares exactly two king steps away

constexpr U64 sq_bb(int s) { return 1ULL << s; }
enum : int { A1, B1, C1, D1, E1, F1, G1, H1, A2, B2, C2, D2, E2, F2, G2, H2, A3, B3, C3, D3, E3, F3, G3, H3 };
constexpr U64 SAFE_KING_SQUARES = sq_bb(A1) | sq_bb(B1) | sq_bb(C1) | sq_bb(G1) | sq_bb(H1) | sq_bb(G2) |
                                  sq_bb(H2) | sq_bb(H3);
constexpr U64 SPACE_AREA = 0x3C3C3C00ULL;  // c2-f4

static int distance(int a, int b) {
    int df = abs(file_of(a) - file_of(b)), dr = abs(rank_of(a) - rank_of(b));
    return df > dr ? df : dr;
}

void init_eval_masks() {
    for (int f = 0; f < 8; f++) file_mask[f] = 0x0101010101010101ULL << f;
    for (int f = 0; f < 8; f++)
        adjacent_files[f] = (f > 0 ? file_mask[f - 1] : 0) | (f < 7 ? file_mask[f + 1] : 0);
    for (int r = 0; r < 8; r++) {
        ranks_above[r] = r < 7 ? ~0ULL << (8 * (r + 1)) : 0;
        ranks_below[r] = r > 0 ? ~0ULL >> (8 * (8 - r)) : 0;
    }
    for (int s = 0; s < 64; s++) {
        int f = file_of(s), r = rank_of(s);
        file_front[s] = file_mask[f] & ranks_above[r];
        passed_span[s] = (file_mask[f] | adjacent_files[f]) & ranks_above[r];
        level_or_behind[s] = adjacent_files[f] & ~ranks_above[r];
        king_ring_far[s] = 0;
        for (int t = 0; t < 64; t++)
            if (distance(s, t) == 2) king_ring_far[s] |= bit(t);
    }
}

// ---- Proximity tables --------------------------------------------------------

static int proximity_value(int kind, int step, int m) {
    static const int knight_steps[] = {0, 10, 8, 5, 2, 1, 0, -1, -2, -3};
    switch (kind) {
    case 1: return step < 10 ? knight_steps[step] : 0;
    case 2: return (step == 1 ? 10 : step == 2 ? 4 : 0) - (m >> 2);
    case 3: return (step == 1 ? 8 : step == 2 ? 7 : 0) - (m >> 1);
    default: return (step == 1 ? 7 : step == 2 ? 2 : 0) - (m >> 2);
    }
}

// Breadth-first search on an empty board: entry [a][b] depends on the
// number of moves the piece needs from a to b and their Manhattan distance.
void build_proximity_table(int a, int kind) {
    int (*table)[64] = kind == 1 ? knight_proximity : kind == 2 ? bishop_proximity
                                                    : kind == 3 ? rook_proximity : queen_proximity;
    U64 unvisited = ~bit(a), frontier = bit(a);
    for (int step = 1; step <= 19 && frontier; step++) {
        U64 reach = 0;
        for (U64 f = frontier; f;) {
            int s = pop_lowest(f);
            if (kind == 1) reach |= knight_attacks[s];
            if (kind == 2 || kind == 4) reach |= bishop_attacks(s, 0);
            if (kind == 3 || kind == 4) reach |= rook_attacks(s, 0);
        }
        U64 fresh = reach & unvisited;
        unvisited &= ~fresh;
        for (U64 f = fresh; f;) {
            int b = pop_lowest(f);
            int m = abs(rank_of(a) - rank_of(b)) + abs(file_of(a) - file_of(b));
            table[a][b] = proximity_value(kind, step, m);
        }
        frontier = fresh;
    }
    table[a][a] = 0;
}

void build_proximity_tables() {
    for (int a = 0; a < 64; a++)
        for (int kind = 1; kind <= 4; kind++) build_proximity_table(a, kind);
}

// ---- Terms -----------------------------------------------------------------

static inline U64 flip(U64 b) { return __builtin_bswap64(b); }

// White's rules; Black's are scored on the flipped board. Positive is good
// for the king's owner.
static int king_shelter(int k, U64 pawns, U64 occ, bool enemy_queen, bool has_short, bool has_long) {
    auto pawn_on = [pawns](int sq) { return (pawns & bit(sq)) != 0; };
    int s = 0;
    if (k == E1) {
        if (!pawn_on(F2)) s -= 10;
        s -= 3 * popcount(occ & (bit(B1) | bit(C1) | bit(D1) | bit(F1) | bit(G1)));
        if (enemy_queen) s -= 15;
    }
    if ((k == A1 || k == B1 || k == C1) && (pawn_on(A2) || pawn_on(B2))) s -= 3;
    if ((k == G1 || k == H1) && (pawn_on(G2) || pawn_on(H2))) s -= 3;
    if (enemy_queen) {
        if (!(bit(k) & SAFE_KING_SQUARES)) {
            if (!has_short) s -= 10;
            if (!has_long) s -= 10;
        }
        if (file_of(k) >= 3) {
            s += pawn_on(G2) ? 0 : pawn_on(G3) ? -30 : -45;
            s += pawn_on(H2) ? 0 : pawn_on(H3) ? -22 : -33;
            s += pawn_on(F2) ? 0 : pawn_on(F3) ? -30 : -45;
            if (!(pawns & file_mask[5]) && k != H1) s -= 10;
            if (!(pawns & file_mask[6])) s -= 10;
            if (!(pawns & file_mask[7]) && k == H1) s -= 10;
        } else {
            s += pawn_on(B2) ? 0 : pawn_on(B3) ? -30 : -45;
            s += pawn_on(A2) ? 0 : pawn_on(A3) ? -22 : -33;
            s += pawn_on(C2) ? 0 : pawn_on(C3) ? -30 : -45;
            if (!(pawns & file_mask[2]) && k != A1) s -= 10;
            if (!(pawns & file_mask[1])) s -= 10;
            if (!(pawns & file_mask[0]) && k == A1) s -= 10;
        }
    }
    s += (enemy_queen ? king_table_middle : king_table_end)[k ^ 56];
    return s;
}

// Pawn structure in White's orientation: own pawns move up.
static int pawn_structure(U64 own, U64 enemy, U64 occ, int own_king, int enemy_king, int enemy_pieces) {
    U64 enemy_attacks = ((enemy & NOT_FILE_A) >> 9) | ((enemy & NOT_FILE_H) >> 7);
    U64 own_attacks = ((own & NOT_FILE_A) << 7) | ((own & NOT_FILE_H) << 9);
    int s = 0;
    for (U64 b = own; b;) {
        int sq = pop_lowest(b);
        int f = file_of(sq), r = rank_of(sq);
        if (own & file_front[sq]) s -= DOUBLED_PAWN;
        if (!(own & adjacent_files[f])) s -= ISOLATED_PAWN;
        else if (!(own & level_or_behind[sq]) && r < 7 && (enemy_attacks & bit(sq + 8))) s -= BACKWARD_PAWN;
        if ((enemy & passed_span[sq]) || (own & file_front[sq]) || r >= 7) continue;
        int bonus = enemy_pieces ? pawn_rank_table_2[r] : pawn_rank_table_1[r];
        bonus += eval_table_9[enemy_pieces < 8 ? enemy_pieces : 8] * r / 6;
        if (!(occ & file_front[sq])) bonus += pawn_rank_table_5[r];
        U64 beside = adjacent_files[f] & (0xFFULL << (8 * r));
        if ((own_attacks & bit(sq)) || (own & beside)) bonus += pawn_rank_table_3[r];
        int lead = distance(enemy_king, sq + 8) - distance(own_king, sq + 8);
        if (lead > PASSER_KING_STEPS) lead = PASSER_KING_STEPS;
        if (lead < -PASSER_KING_STEPS) lead = -PASSER_KING_STEPS;
        bonus += pawn_rank_table_4[r] * lead;
        s += bonus;
    }
    if (own) {
        int files = 0;
        for (int f = 0; f < 8; f++)
            if (own & file_mask[f]) files |= 1 << f;
        int islands = popcount(U64(files & ~(files << 1)));
        s -= eval_offsets_5[islands < 4 ? islands : 4];
    }
    s += eval_table_13[popcount(SPACE_AREA & ~own & ~enemy_attacks)];
    return s;
}

struct PieceTables {
    const int (*proximity)[64];
    const int* mobility_a;
    const int* mobility_b;
    int max_index;
};

// Pieces of one kind and colour, from the owner's view.
static int piece_terms(int kind, int side, U64 occ, U64 area, int enemy_king, bool attack_terms) {
    static const PieceTables tables[5] = {
        {nullptr, nullptr, nullptr, 0},
        {knight_proximity, knight_mobility_a, knight_mobility_b, 4},
        {bishop_proximity, bishop_mobility_a, bishop_mobility_b, 14},
        {rook_proximity, rook_mobility_a, rook_mobility_b, 14},
        {queen_proximity, queen_mobility_a, queen_mobility_b, 14},
    };
    const PieceTables& t = tables[kind];
    int code = make_piece(kind, side);
    int s = 0;
    for (U64 b = board.pieces[code]; b;) {
        int sq = pop_lowest(b);
        U64 att = kind == KNIGHT ? knight_attacks[sq]
                  : kind == BISHOP ? bishop_attacks(sq, occ)
                  : kind == ROOK   ? rook_attacks(sq, occ)
                                   : queen_attacks(sq, occ);
        U64 mobile = att & area;
        int r = rank_of(sq);
        U64 ahead = side == WHITE ? ranks_above[r] : ranks_below[r];
        U64 behind = side == WHITE ? ranks_below[r] : ranks_above[r];
        int fwd = popcount(mobile & ahead), back = popcount(mobile & behind);
        s += piece_square[code][sq] + t.proximity[enemy_king][sq];
        s += t.mobility_a[fwd < t.max_index ? fwd : t.max_index] + t.mobility_b[back < t.max_index ? back : t.max_index];
        if (attack_terms)
            s += KING_ZONE_NEAR * popcount(att & king_attacks[enemy_king]) +
                 KING_ZONE_FAR * popcount(att & king_ring_far[enemy_king]);
    }
    return s;
}

int evaluate(const PlyRecord* rec) {
    const U64* p = board.pieces;
    U64 occ = board.occupancy[0] | board.occupancy[1];
    int wk = lowest_square(p[W_KING]), bk = lowest_square(p[B_KING]);
    bool white_queen = p[W_QUEEN] != 0, black_queen = p[B_QUEEN] != 0;

    // 1. Material.
    int S = board.material[WHITE] - board.material[BLACK];

    // 2. King placement and shelter.
    S += king_shelter(wk, p[W_PAWN], occ, black_queen, rec->castling & WHITE_SHORT, rec->castling & WHITE_LONG);
    S -= king_shelter(bk ^ 56, flip(p[B_PAWN]), flip(occ), white_queen, rec->castling & BLACK_SHORT,
                      rec->castling & BLACK_LONG);

    // 3. Pawns.
    int white_pieces = popcount(board.occupancy[WHITE] & ~p[W_PAWN] & ~p[W_KING]);
    int black_pieces = popcount(board.occupancy[BLACK] & ~p[B_PAWN] & ~p[B_KING]);
    S += pawn_structure(p[W_PAWN], p[B_PAWN], occ, wk, bk, black_pieces);
    S -= pawn_structure(flip(p[B_PAWN]), flip(p[W_PAWN]), flip(occ), bk ^ 56, wk ^ 56, white_pieces);

    // 4-7. Pieces.
    U64 black_pawn_attacks = ((p[B_PAWN] & NOT_FILE_A) >> 9) | ((p[B_PAWN] & NOT_FILE_H) >> 7);
    U64 white_pawn_attacks = ((p[W_PAWN] & NOT_FILE_A) << 7) | ((p[W_PAWN] & NOT_FILE_H) << 9);
    U64 white_area = ~board.occupancy[WHITE] & ~black_pawn_attacks;
    U64 black_area = ~board.occupancy[BLACK] & ~white_pawn_attacks;
    bool white_attacks = !black_queen || (bit(wk) & SAFE_KING_SQUARES);
    bool black_attacks = !white_queen || (bit(bk ^ 56) & SAFE_KING_SQUARES);
    for (int kind = KNIGHT; kind <= QUEEN; kind++) {
        S += piece_terms(kind, WHITE, occ, white_area, bk, white_attacks);
        S -= piece_terms(kind, BLACK, occ, black_area, wk, black_attacks);
        if (kind == BISHOP) {
            if (popcount(p[W_BISHOP]) >= 2) S += BISHOP_PAIR;
            if (popcount(p[B_BISHOP]) >= 2) S -= BISHOP_PAIR;
        }
    }

    int R = S + WHITE_TEMPO;
    return board.side == WHITE ? R : -R;
}
