// Static evaluation, from White's point of view until the final sign.
//
// Every term has a middle-game and an end-game weight (eval_weights); the two
// sums are blended by the game phase. Terms, each scored for White and
// mirrored for Black (Black's pawn and king terms are computed on the flipped
// board, so the colours are symmetric by construction):
//  1. Material and piece-square values.
//  2. King shelter: fixed rules for the king on e1, the castled corners and
//     the pawns in front of it while the enemy queen is on the board.
//  3. Pawns:
//     - passed pawn (no enemy pawn ahead on its own or a neighbouring file, no
//       own pawn ahead on its file): passer by rank, or passer_pawns_only once
//       the enemy has only pawns left; plus passer_per_rank[enemy pieces]
//       times the rank; plus passer_free_path when nothing stands on its path;
//       plus passer_supported when an own pawn defends it or stands beside it;
//       plus passer_king_lead per step the enemy king is further from the
//       square ahead than the own king (at most 3 steps either way); plus
//       passer_unstoppable when the enemy has only pawns and its king
//       cannot reach the queening square in time;
//     - doubled pawn (another own pawn ahead on its file), isolated pawn (no
//       own pawn on a neighbouring file), backward pawn (no own pawn on a
//       neighbouring file level with it or behind, and its stop square
//       attacked by an enemy pawn);
//     - pawn islands (at most 4 counted);
//     - space: the squares c2-f4 (12 at most) that hold no own pawn and no
//       enemy pawn attacks.
//  4. Knights, bishops, rooks, queens: proximity to the enemy king (fixed
//     tables, the same in both phases) and two mobility counts over the
//     mobility area (squares not held by own pieces and not attacked by enemy
//     pawns): the squares on ranks ahead of the piece (toward the enemy) index
//     the "_a" table, those behind it the "_b" table. Attack terms, only
//     while the own king is safe (castled squares a1, b1, c1, g1, h1, g2, h2,
//     h3, mirrored for Black) or the enemy has no queen: king_zone_near per
//     attacked square next to the enemy king and king_zone_far per attacked
//     square two steps from it. Bishop pair; rooks on open and half-open
//     files; pieces attacked by enemy pawns.
//  5. Tempo to the side to move.
#include "eval.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "attacks.h"

// ---- Tunable constants ---------------------------------------------------------
constexpr int PASSER_KING_STEPS = 3;  // king-distance term counts at most this many steps
// Share of the score the side ahead keeps, out of SCALE_NORMAL.
constexpr int SCALE_NORMAL = 64;
constexpr int SCALE_DRAWISH = 8;              // no pawns, less than DRAWISH_MARGIN ahead in pieces
constexpr int DRAWISH_MARGIN = 400;           // a rook against a minor, a rook and minor against a rook
constexpr int SCALE_OPPOSITE_BISHOPS = 32;    // bishops of opposite colours and pawns only
// Mating without pawns: drive the defending king to the edge (to a corner of
// the bishop's colour with bishop and knight) and bring the own king close.
constexpr int MOPUP_EDGE = 40;   // per step of the defending king from the centre
constexpr int MOPUP_CORNER = 30;
constexpr int MOPUP_KINGS = 40;  // per step the kings are closer than 7
// The win/draw/loss model (see eval.h), fitted by brik-tuner --fit-wdl on
// 48,243 positions of "scripts/datagen 2500 7 1500": chances in games at 1500
// nodes a move, which are drawn less often than games between strong players.
const WdlModel WDL_MODEL = {{193.7, 33.8}, {133.4, 176.9}};

// ---- Weights (printed by the tuner: tune/tuner) ---------------------------------
EvalWeights eval_weights = {
    // material
    {
        S(57, 117), S(293, 365), S(311, 399), S(382, 613), S(824, 1410),
    },
    // piece_square
    {
        {  // pawn
            S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0),
            S(-28, -163), S(-1, -119), S(-37, -156), S(0, -136), S(0, -203), S(0, -152), S(0, -189), S(-63, -209),
            S(45, 10), S(22, 45), S(45, 3), S(68, 17), S(12, 10), S(52, 3), S(21, 29), S(35, 33),
            S(10, 23), S(-7, 27), S(-7, 5), S(15, -9), S(12, -17), S(11, -15), S(-27, 41), S(-6, 30),
            S(12, 13), S(-13, 14), S(2, 11), S(13, -12), S(17, -13), S(-15, 8), S(-25, 13), S(-6, 7),
            S(3, -6), S(-9, 18), S(12, -3), S(7, -4), S(12, -7), S(0, 5), S(-39, 28), S(-21, 15),
            S(9, -7), S(-7, 5), S(3, 6), S(1, -3), S(0, -2), S(-10, 20), S(-37, 23), S(-14, 10),
            S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0),
        },
        {  // knight
            S(-51, -193), S(-40, -40), S(-30, -30), S(-30, -30), S(-30, -30), S(-30, -30), S(-40, -40), S(-115, -50),
            S(-68, -50), S(-81, 14), S(-49, 55), S(76, -60), S(-17, 5), S(54, -57), S(-20, -20), S(18, -40),
            S(-30, 12), S(39, -28), S(42, -7), S(77, 13), S(68, 3), S(61, -40), S(22, -47), S(-30, -30),
            S(-52, 21), S(5, 10), S(20, 20), S(30, 20), S(27, -9), S(32, 6), S(8, 12), S(53, -63),
            S(14, -5), S(-29, 10), S(4, 13), S(27, 1), S(28, 23), S(30, -1), S(7, -21), S(17, -23),
            S(-14, -4), S(5, -3), S(6, 1), S(6, 44), S(17, -12), S(19, -15), S(25, 4), S(-1, -35),
            S(-8, -40), S(-15, 1), S(10, -30), S(7, -48), S(11, -21), S(9, -20), S(52, -101), S(-1, -40),
            S(-50, -50), S(-34, -41), S(-44, -27), S(-5, -25), S(-15, -44), S(70, -48), S(-20, -35), S(-50, -50),
        },
        {  // bishop
            S(12, -20), S(-10, -10), S(-10, -10), S(-10, -10), S(-10, -10), S(-10, -10), S(-10, -10), S(56, -20),
            S(-71, 15), S(-46, 1), S(-74, 14), S(-28, -7), S(-47, -13), S(-91, -5), S(-58, 22), S(-61, -42),
            S(-33, -22), S(-36, 26), S(-3, -15), S(32, -30), S(-13, -23), S(32, -26), S(-14, -35), S(5, -33),
            S(-44, -28), S(-15, -19), S(-31, 0), S(-14, 2), S(-25, 23), S(-20, -5), S(-2, -29), S(-44, -33),
            S(-35, -31), S(-48, -11), S(-21, -10), S(-11, 9), S(-2, 5), S(-16, -20), S(-41, -26), S(32, -88),
            S(-10, -48), S(-11, -37), S(9, -35), S(-32, 16), S(-31, 2), S(-2, -25), S(9, -64), S(-29, -63),
            S(-27, -59), S(1, -59), S(-24, -22), S(-15, -45), S(-13, -54), S(-18, -65), S(5, -80), S(-10, -10),
            S(8, -70), S(-20, -82), S(-34, -62), S(-3, -63), S(-25, -80), S(-47, -31), S(-10, -10), S(-40, -7),
        },
        {  // rook
            S(49, 83), S(58, 75), S(-65, 124), S(95, 65), S(27, 90), S(-226, 141), S(128, 49), S(-18, 65),
            S(17, 95), S(-14, 108), S(13, 90), S(91, 64), S(46, 86), S(-8, 92), S(25, 94), S(31, 56),
            S(-9, 92), S(41, 53), S(22, 65), S(23, 86), S(77, 48), S(31, 84), S(39, 72), S(-5, 70),
            S(-10, 50), S(-33, 46), S(75, 16), S(12, 65), S(-16, 48), S(20, 48), S(-2, 38), S(25, 20),
            S(-6, 29), S(14, 28), S(14, 25), S(15, 29), S(-46, 55), S(-28, 54), S(43, -8), S(1, 13),
            S(-15, 32), S(-8, 27), S(-22, 30), S(11, 18), S(-7, 9), S(18, -2), S(-3, 10), S(11, -32),
            S(-4, 5), S(22, 10), S(31, -4), S(15, 4), S(10, 15), S(25, -6), S(2, -33), S(-38, -26),
            S(-14, 14), S(-1, 5), S(7, 14), S(18, 7), S(11, 3), S(24, 6), S(-18, -2), S(-41, -14),
        },
        {  // queen
            S(-90, -20), S(-34, -10), S(-10, -10), S(-5, -5), S(-5, -5), S(-10, -10), S(-10, -10), S(-101, -20),
            S(-35, -1), S(-62, 61), S(-24, 51), S(-64, 157), S(-75, 183), S(-56, 114), S(9, 0), S(19, -6),
            S(3, -30), S(-17, 57), S(-10, 38), S(16, 49), S(-113, 232), S(17, 41), S(-43, 133), S(-39, 76),
            S(-26, 8), S(-47, 133), S(-42, 92), S(-9, 27), S(-50, 165), S(-26, 66), S(-39, 127), S(-22, 46),
            S(-8, -5), S(-13, -18), S(-28, 41), S(-10, 64), S(-23, 67), S(-16, 59), S(-17, 49), S(-24, -16),
            S(-9, -37), S(12, -62), S(7, -32), S(-11, 14), S(-21, 53), S(3, -6), S(24, -41), S(27, -104),
            S(8, -121), S(26, -65), S(20, -55), S(29, -67), S(36, -119), S(32, -29), S(38, -31), S(15, -10),
            S(26, -36), S(-4, -103), S(12, -93), S(33, -77), S(34, -111), S(-16, -31), S(-5, -10), S(-20, -20),
        },
        {  // king
            S(-3, -5), S(-4, -4), S(-4, -3), S(-5, -2), S(-5, -2), S(-4, -3), S(-4, -4), S(-3, -5),
            S(-3, -3), S(-4, -29), S(-4, -1), S(-5, 0), S(-5, 0), S(-4, -1), S(-4, 120), S(-3, -3),
            S(-3, 8), S(-4, 58), S(-4, 38), S(-5, 38), S(-5, 9), S(-4, 35), S(-4, 52), S(-3, 12),
            S(-3, -16), S(-4, 20), S(-4, 25), S(-5, 17), S(-5, 43), S(-4, 61), S(-4, 64), S(-3, 50),
            S(-2, 5), S(-67, 15), S(-34, 19), S(-62, 48), S(-104, 54), S(-166, 71), S(-85, 52), S(-64, 45),
            S(-30, -4), S(15, 15), S(-12, 20), S(-32, 37), S(-31, 43), S(-11, 26), S(-2, 44), S(-74, 46),
            S(107, -38), S(65, -9), S(80, -11), S(32, -1), S(59, 8), S(78, 0), S(5, 29), S(36, 20),
            S(12, -46), S(-14, -2), S(-18, 3), S(42, -33), S(28, -24), S(55, -30), S(-17, 3), S(-14, -22),
        },
    },
    // knight_mobility_a
    {
        S(-29, -2), S(-12, 30), S(-1, 39), S(6, 46), S(7, 43),
    },
    // knight_mobility_b
    {
        S(-34, 8), S(-22, 34), S(-21, 44), S(-20, 34), S(-19, 32),
    },
    // bishop_mobility_a
    {
        S(-26, 7), S(-7, 21), S(4, 36), S(6, 47), S(8, 49), S(14, 56), S(21, 49), S(48, 43),
        S(2, 2), S(3, 3), S(3, 3), S(4, 4), S(4, 4), S(5, 5), S(5, 5),
    },
    // bishop_mobility_b
    {
        S(-14, 26), S(-6, 43), S(-6, 50), S(-4, 41), S(-5, 40), S(-6, 42), S(25, 22), S(6, 33),
        S(4, 4), S(5, 5), S(6, 6), S(7, 7), S(8, 8), S(9, 9), S(10, 10),
    },
    // rook_mobility_a
    {
        S(-20, 28), S(-1, 29), S(3, 32), S(3, 53), S(-3, 67), S(6, 67), S(17, 75), S(49, 63),
        S(3, 3), S(3, 3), S(4, 4), S(4, 4), S(5, 5), S(5, 5), S(6, 6),
    },
    // rook_mobility_b
    {
        S(-24, 79), S(-39, 90), S(-30, 82), S(-35, 83), S(-37, 86), S(-24, 77), S(-24, 70), S(-36, 74),
        S(2, 2), S(3, 3), S(3, 3), S(3, 3), S(4, 4), S(4, 4), S(4, 4),
    },
    // queen_mobility_a
    {
        S(-35, 41), S(-39, 40), S(-36, 7), S(-36, 33), S(-34, 48), S(-33, 30), S(-29, 29), S(-23, 33),
        S(-30, 64), S(-26, 60), S(-45, 58), S(-2, 22), S(3, 3), S(3, 3), S(3, 3),
    },
    // queen_mobility_b
    {
        S(-50, 31), S(-32, 36), S(-33, 52), S(-28, 34), S(-19, 35), S(-7, 30), S(-6, 14), S(-5, 26),
        S(-12, 62), S(29, 15), S(-2, -2), S(19, -6), S(3, 3), S(3, 3), S(3, 3),
    },
    // passer
    {
        S(0, 0), S(15, 1), S(2, -19), S(8, -14), S(0, 11), S(-15, 45), S(191, 217), S(200, 200),
    },
    // passer_pawns_only
    {
        S(0, 0), S(0, 0), S(13, 153), S(22, 211), S(37, 226), S(50, 238), S(75, 75), S(300, 300),
    },
    // passer_per_rank
    {
        S(-277, -22), S(25, 16), S(5, 21), S(-12, 33), S(3, 19), S(6, 7), S(5, 6), S(1, 2), S(3, 3),
    },
    // passer_free_path
    {
        S(0, 0), S(-22, 28), S(-1, 13), S(-11, 26), S(3, 50), S(20, 91), S(91, 143), S(0, 0),
    },
    // passer_supported
    {
        S(0, 0), S(11, -39), S(28, -31), S(47, -14), S(3, 47), S(153, 33), S(12, 77), S(0, 0),
    },
    // passer_king_lead
    {
        S(0, 0), S(0, -3), S(-11, 10), S(-10, 18), S(-20, 38), S(-3, 48), S(45, 43), S(0, 0),
    },
    // passer_unstoppable
    S(0, 200),
    // doubled_pawn
    S(2, -14),
    // isolated_pawn
    S(-8, -16),
    // backward_pawn
    S(2, -13),
    // pawn_islands
    {
        S(9, 9), S(34, -71), S(19, -56), S(11, -54), S(-1, -57),
    },
    // space
    {
        S(-6, -6), S(-5, -5), S(-3, -3), S(-22, 5), S(-21, 4), S(-8, -11), S(5, -19), S(12, -10), S(16, -7), S(19, -8), S(19, 3), S(5, 4), S(47, -19),
    },
    // shelter
    {
        S(16, 9), S(2, -8), S(16, -18), S(30, 8), S(-39, -7),
        S(-18, -29), S(2, 9), S(-58, -9), S(7, 90), S(-10, 61),
        S(-20, -43), S(-18, -47), S(-25, -29), S(2, -20), S(-102, 140),
    },
    // king_zone_near
    S(14, -6),
    // king_zone_far
    S(5, -2),
    // bishop_pair
    S(34, 31),
    // rook_open_file
    S(51, -15),
    // rook_half_open_file
    S(31, 3),
    // pawn_threat
    S(61, 55),
    // tempo
    S(11, 0),
};

const WeightGroup weight_groups[] = {
#define GROUP(member, row) {#member, int(offsetof(EvalWeights, member) / sizeof(Score)), \
                            int(sizeof(EvalWeights::member) / sizeof(Score)), row}
    GROUP(material, 5),             GROUP(piece_square, 8),         GROUP(knight_mobility_a, 8),
    GROUP(knight_mobility_b, 8),    GROUP(bishop_mobility_a, 8),    GROUP(bishop_mobility_b, 8),
    GROUP(rook_mobility_a, 8),      GROUP(rook_mobility_b, 8),      GROUP(queen_mobility_a, 8),
    GROUP(queen_mobility_b, 8),     GROUP(passer, 8),               GROUP(passer_pawns_only, 8),
    GROUP(passer_per_rank, 9),      GROUP(passer_free_path, 8),     GROUP(passer_supported, 8),
    GROUP(passer_king_lead, 8),     GROUP(passer_unstoppable, 1),   GROUP(doubled_pawn, 1),
    GROUP(isolated_pawn, 1),        GROUP(backward_pawn, 1),        GROUP(pawn_islands, 5),
    GROUP(space, 13),               GROUP(shelter, 5),              GROUP(king_zone_near, 1),
    GROUP(king_zone_far, 1),        GROUP(bishop_pair, 1),          GROUP(rook_open_file, 1),
    GROUP(rook_half_open_file, 1),  GROUP(pawn_threat, 1),          GROUP(tempo, 1),
#undef GROUP
};
const int weight_group_count = int(sizeof weight_groups / sizeof weight_groups[0]);

Score piece_square[12][64];

void init_piece_square_tables() {
    for (int kind = PAWN; kind <= KING; kind++)
        for (int s = 0; s < 64; s++) {
            piece_square[make_piece(kind, WHITE)][s] = eval_weights.piece_square[kind][s ^ 56];
            piece_square[make_piece(kind, BLACK)][s] = eval_weights.piece_square[kind][s];
        }
}

int knight_proximity[64][64];
int bishop_proximity[64][64];
int rook_proximity[64][64];
int queen_proximity[64][64];

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

// ---- End games ---------------------------------------------------------------

constexpr U64 DARK_SQUARES = 0xAA55AA55AA55AA55ULL;

static int non_pawn_material(const BoardState& board, int side) {
    return board.material[side] - piece_value[W_PAWN] * popcount(board.pieces[make_piece(PAWN, side)]);
}

// How much of its score the side ahead keeps, out of SCALE_NORMAL.
static int endgame_scale(const BoardState& board, int strong) {
    const U64* p = board.pieces;
    int weak = strong ^ 1;
    int strong_pieces = non_pawn_material(board, strong), weak_pieces = non_pawn_material(board, weak);
    if (!p[make_piece(PAWN, strong)]) {
        // A lone minor, or two knights, cannot force mate.
        if (strong_pieces <= piece_value[W_BISHOP]) return 0;
        if (p[make_piece(KNIGHT, strong)] && strong_pieces == 2 * piece_value[W_KNIGHT] &&
            popcount(p[make_piece(KNIGHT, strong)]) == 2 && !p[make_piece(PAWN, weak)])
            return 0;
        if (strong_pieces - weak_pieces < DRAWISH_MARGIN) return SCALE_DRAWISH;
    }
    // Bishops of opposite colours and pawns: the defender blockades on his colour.
    // With more pieces the attacker's bishop often decides, so no scaling.
    U64 wb = p[W_BISHOP], bb = p[B_BISHOP];
    if (strong_pieces == piece_value[W_BISHOP] && weak_pieces == piece_value[W_BISHOP] && wb && bb &&
        bool(wb & DARK_SQUARES) != bool(bb & DARK_SQUARES))
        return SCALE_OPPOSITE_BISHOPS;
    return SCALE_NORMAL;
}

// Steps from the centre: 0 on d4-e5, 6 in a corner.
static int centre_distance(int sq) {
    int f = file_of(sq), r = rank_of(sq);
    return (f < 4 ? 3 - f : f - 4) + (r < 4 ? 3 - r : r - 4);
}

// Bonus for the side mating without pawns, its own view.
static int mop_up(const BoardState& board, int strong) {
    const U64* p = board.pieces;
    int weak_king = lowest_square(p[make_piece(KING, strong ^ 1)]);
    int strong_king = lowest_square(p[make_piece(KING, strong)]);
    int bonus = MOPUP_EDGE * centre_distance(weak_king) + MOPUP_KINGS * (7 - distance(weak_king, strong_king));
    U64 bishops = p[make_piece(BISHOP, strong)];
    if (bishops && !p[make_piece(QUEEN, strong)] && !p[make_piece(ROOK, strong)]) {
        // Only a corner of the bishop's colour can be mated in.
        bool dark = bishops & DARK_SQUARES;
        int corner_a = dark ? 0 : 7, corner_b = dark ? 63 : 56;  // a1 and h8 are dark
        int d = distance(weak_king, corner_a) < distance(weak_king, corner_b) ? distance(weak_king, corner_a)
                                                                               : distance(weak_king, corner_b);
        bonus += MOPUP_CORNER * (7 - d);
    }
    return bonus;
}

// With no pawns on the board, the side with enough to mate and a clear lead
// in pieces (a bare king to mate, or queen against rook): that side, or -1.
static int mating_side(const BoardState& board) {
    const U64* p = board.pieces;
    if (p[W_PAWN] | p[B_PAWN]) return -1;  // the pawn terms already lead the way
    for (int strong : {WHITE, BLACK})
        if (endgame_scale(board, strong) == SCALE_NORMAL) return strong;
    return -1;
}

// ---- Terms -----------------------------------------------------------------

static inline U64 flip(U64 b) { return __builtin_bswap64(b); }

// Adds count times a weight for one side (from that side's view); a traced
// evaluation also counts the weight.
template <bool Trace>
static inline void add(Score& s, const Score& weight, int side, EvalTrace* trace, int count = 1) {
    s += count * weight;
    if constexpr (Trace) trace->coefficient[&weight - weights_array()][side] += int16_t(count);
}

// White's rules; Black's are scored on the flipped board. Positive is good
// for the king's owner.
template <bool Trace>
static Score king_shelter(int side, int k, U64 pawns, U64 occ, bool enemy_queen, bool has_short, bool has_long,
                          EvalTrace* trace) {
    const Score* w = eval_weights.shelter;
    auto pawn_on = [pawns](int sq) { return (pawns & bit(sq)) != 0; };
    Score s = 0;
    auto rule = [&](int r, int count = 1) { add<Trace>(s, w[r], side, trace, count); };
    if (k == E1) {
        if (!pawn_on(F2)) rule(SHELTER_E1_NO_F2_PAWN);
        rule(SHELTER_E1_BACK_RANK, popcount(occ & (bit(B1) | bit(C1) | bit(D1) | bit(F1) | bit(G1))));
        if (enemy_queen) rule(SHELTER_E1_ENEMY_QUEEN);
    }
    if ((k == A1 || k == B1 || k == C1) && (pawn_on(A2) || pawn_on(B2))) rule(SHELTER_CORNER_PAWN);
    if ((k == G1 || k == H1) && (pawn_on(G2) || pawn_on(H2))) rule(SHELTER_CORNER_PAWN);
    if (enemy_queen) {
        if (!(bit(k) & SAFE_KING_SQUARES)) {
            if (!has_short) rule(SHELTER_NO_SHORT_RIGHT);
            if (!has_long) rule(SHELTER_NO_LONG_RIGHT);
        }
        // The three files in front of the castled corner on the king's wing.
        bool short_wing = file_of(k) >= 3;
        int bishop_file = short_wing ? 5 : 2, knight_file = short_wing ? 6 : 1, rook_file = short_wing ? 7 : 0;
        int rook_corner = short_wing ? H1 : A1;
        auto pawn_rule = [&](int file, int pushed, int gone) {
            if (pawn_on(A2 + file)) return;
            rule(pawn_on(A3 + file) ? pushed : gone);
        };
        pawn_rule(knight_file, SHELTER_KNIGHT_PAWN_PUSHED, SHELTER_KNIGHT_PAWN_GONE);
        pawn_rule(rook_file, SHELTER_ROOK_PAWN_PUSHED, SHELTER_ROOK_PAWN_GONE);
        pawn_rule(bishop_file, SHELTER_BISHOP_PAWN_PUSHED, SHELTER_BISHOP_PAWN_GONE);
        if (!(pawns & file_mask[bishop_file]) && k != rook_corner) rule(SHELTER_OPEN_BISHOP_FILE);
        if (!(pawns & file_mask[knight_file])) rule(SHELTER_OPEN_KNIGHT_FILE);
        if (!(pawns & file_mask[rook_file]) && k == rook_corner) rule(SHELTER_OPEN_ROOK_FILE);
    }
    return s;
}

// The terms of one side's pawns that depend on the pawns alone, in White's
// orientation (own pawns move up); sets *passers to its passed pawns.
template <bool Trace>
static Score pawn_structure(int side, U64 own, U64 enemy, U64* passers, EvalTrace* trace) {
    const EvalWeights& w = eval_weights;
    U64 enemy_attacks = ((enemy & NOT_FILE_A) >> 9) | ((enemy & NOT_FILE_H) >> 7);
    Score s = 0;
    *passers = 0;
    for (U64 b = own; b;) {
        int sq = pop_lowest(b);
        int f = file_of(sq), r = rank_of(sq);
        add<Trace>(s, w.piece_square[PAWN][sq ^ 56], side, trace);
        if (own & file_front[sq]) add<Trace>(s, w.doubled_pawn, side, trace);
        if (!(own & adjacent_files[f])) add<Trace>(s, w.isolated_pawn, side, trace);
        else if (!(own & level_or_behind[sq]) && r < 7 && (enemy_attacks & bit(sq + 8)))
            add<Trace>(s, w.backward_pawn, side, trace);
        if (!(enemy & passed_span[sq]) && !(own & file_front[sq]) && r < 7) *passers |= bit(sq);
    }
    if (own) {
        int files = 0;
        for (int f = 0; f < 8; f++)
            if (own & file_mask[f]) files |= 1 << f;
        int islands = popcount(U64(files & ~(files << 1)));
        add<Trace>(s, w.pawn_islands[islands < 4 ? islands : 4], side, trace);
    }
    add<Trace>(s, w.space[popcount(SPACE_AREA & ~own & ~enemy_attacks)], side, trace);
    return s;
}

// Passed pawns, in White's orientation: what they are worth depends on the
// kings, the pieces left and what stands in their way.
template <bool Trace>
static Score passer_terms(int side, U64 passers, U64 own, U64 occ, int own_king, int enemy_king, int enemy_pieces,
                          bool own_move, EvalTrace* trace) {
    const EvalWeights& w = eval_weights;
    U64 own_attacks = ((own & NOT_FILE_A) << 7) | ((own & NOT_FILE_H) << 9);
    Score s = 0;
    for (U64 b = passers; b;) {
        int sq = pop_lowest(b);
        int f = file_of(sq), r = rank_of(sq);
        add<Trace>(s, enemy_pieces ? w.passer[r] : w.passer_pawns_only[r], side, trace);
        add<Trace>(s, w.passer_per_rank[enemy_pieces < 8 ? enemy_pieces : 8], side, trace, r);
        if (!(occ & file_front[sq])) add<Trace>(s, w.passer_free_path[r], side, trace);
        U64 beside = adjacent_files[f] & (0xFFULL << (8 * r));
        if ((own_attacks & bit(sq)) || (own & beside)) add<Trace>(s, w.passer_supported[r], side, trace);
        int lead = distance(enemy_king, sq + 8) - distance(own_king, sq + 8);
        if (lead > PASSER_KING_STEPS) lead = PASSER_KING_STEPS;
        if (lead < -PASSER_KING_STEPS) lead = -PASSER_KING_STEPS;
        if (lead) add<Trace>(s, w.passer_king_lead[r], side, trace, lead);
        // The rule of the square: a free pawn the enemy king cannot catch.
        if (!enemy_pieces && !(occ & file_front[sq])) {
            int steps = 7 - r - (r == 1), queening = make_square(f, 7);
            if (distance(enemy_king, queening) - (own_move ? 0 : 1) > steps)
                add<Trace>(s, w.passer_unstoppable, side, trace);
        }
    }
    return s;
}

void clear_pawn_table(PawnTable& table) { memset(&table, 0, sizeof table); }

// The cached entry, or `scratch` filled afresh when there is no table.
// Traced evaluations count every weight, so they never read the cache.
template <bool Trace>
static const PawnEntry& pawn_entry(const BoardState& board, const PlyRecord* rec, PawnTable* table,
                                   PawnEntry& scratch, EvalTrace* trace) {
    PawnEntry& e = Trace || !table ? scratch : table->entries[rec->pawn_key & (PAWN_TABLE_ENTRIES - 1)];
    if (&e != &scratch && e.key == rec->pawn_key && e.key) return e;
    const U64* p = board.pieces;
    e.key = rec->pawn_key;
    e.score = pawn_structure<Trace>(WHITE, p[W_PAWN], p[B_PAWN], &e.passers[WHITE], trace) -
              pawn_structure<Trace>(BLACK, flip(p[B_PAWN]), flip(p[W_PAWN]), &e.passers[BLACK], trace);
    return e;
}

struct PieceTables {
    const int (*proximity)[64];
    const Score* mobility_a;
    const Score* mobility_b;
    int max_index;
};

// Pieces of one kind and colour, from the owner's view; the proximity terms
// go to *fixed.
template <bool Trace>
static Score piece_terms(const BoardState& board, int kind, int side, U64 occ, U64 area, int enemy_king, bool attack_terms, int* fixed,
                         EvalTrace* trace) {
    const EvalWeights& w = eval_weights;
    static const PieceTables tables[5] = {
        {nullptr, nullptr, nullptr, 0},
        {knight_proximity, w.knight_mobility_a, w.knight_mobility_b, 4},
        {bishop_proximity, w.bishop_mobility_a, w.bishop_mobility_b, 14},
        {rook_proximity, w.rook_mobility_a, w.rook_mobility_b, 14},
        {queen_proximity, w.queen_mobility_a, w.queen_mobility_b, 14},
    };
    const PieceTables& t = tables[kind];
    Score s = 0;
    for (U64 b = board.pieces[make_piece(kind, side)]; b;) {
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
        add<Trace>(s, w.piece_square[kind][side == WHITE ? sq ^ 56 : sq], side, trace);
        *fixed += t.proximity[enemy_king][sq];
        add<Trace>(s, t.mobility_a[fwd < t.max_index ? fwd : t.max_index], side, trace);
        add<Trace>(s, t.mobility_b[back < t.max_index ? back : t.max_index], side, trace);
        if (attack_terms) {
            add<Trace>(s, w.king_zone_near, side, trace, popcount(att & king_attacks[enemy_king]));
            add<Trace>(s, w.king_zone_far, side, trace, popcount(att & king_ring_far[enemy_king]));
        }
    }
    return s;
}

template <bool Trace>
static int evaluate_terms(const Position& pos, const PlyRecord* rec, PawnTable* table, EvalTrace* trace) {
    const EvalWeights& w = eval_weights;
    const BoardState& board = pos.board;
    const U64* p = board.pieces;
    U64 occ = board.occupancy[0] | board.occupancy[1];
    int wk = lowest_square(p[W_KING]), bk = lowest_square(p[B_KING]);
    bool white_queen = p[W_QUEEN] != 0, black_queen = p[B_QUEEN] != 0;
    Score white = 0, black = 0;
    int white_fixed = 0, black_fixed = 0;

    // 1. Material; the kings' piece-square values.
    for (int kind = PAWN; kind <= QUEEN; kind++) {
        add<Trace>(white, w.material[kind], WHITE, trace, popcount(p[make_piece(kind, WHITE)]));
        add<Trace>(black, w.material[kind], BLACK, trace, popcount(p[make_piece(kind, BLACK)]));
    }
    add<Trace>(white, w.piece_square[KING][wk ^ 56], WHITE, trace);
    add<Trace>(black, w.piece_square[KING][bk], BLACK, trace);

    // 2. King shelter.
    white += king_shelter<Trace>(WHITE, wk, p[W_PAWN], occ, black_queen, rec->castling & WHITE_SHORT,
                                 rec->castling & WHITE_LONG, trace);
    black += king_shelter<Trace>(BLACK, bk ^ 56, flip(p[B_PAWN]), flip(occ), white_queen, rec->castling & BLACK_SHORT,
                                 rec->castling & BLACK_LONG, trace);

    // 3. Pawns.
    PawnEntry scratch;
    const PawnEntry& pawns = pawn_entry<Trace>(board, rec, table, scratch, trace);
    white += pawns.score;
    int white_pieces = popcount(board.occupancy[WHITE] & ~p[W_PAWN] & ~p[W_KING]);
    int black_pieces = popcount(board.occupancy[BLACK] & ~p[B_PAWN] & ~p[B_KING]);
    white += passer_terms<Trace>(WHITE, pawns.passers[WHITE], p[W_PAWN], occ, wk, bk, black_pieces,
                                 board.side == WHITE, trace);
    black += passer_terms<Trace>(BLACK, pawns.passers[BLACK], flip(p[B_PAWN]), flip(occ), bk ^ 56, wk ^ 56,
                                 white_pieces, board.side == BLACK, trace);

    // 4. Pieces.
    U64 black_pawn_attacks = ((p[B_PAWN] & NOT_FILE_A) >> 9) | ((p[B_PAWN] & NOT_FILE_H) >> 7);
    U64 white_pawn_attacks = ((p[W_PAWN] & NOT_FILE_A) << 7) | ((p[W_PAWN] & NOT_FILE_H) << 9);
    U64 white_area = ~board.occupancy[WHITE] & ~black_pawn_attacks;
    U64 black_area = ~board.occupancy[BLACK] & ~white_pawn_attacks;
    bool white_attacks = !black_queen || (bit(wk) & SAFE_KING_SQUARES);
    bool black_attacks = !white_queen || (bit(bk ^ 56) & SAFE_KING_SQUARES);
    for (int kind = KNIGHT; kind <= QUEEN; kind++) {
        white += piece_terms<Trace>(board, kind, WHITE, occ, white_area, bk, white_attacks, &white_fixed, trace);
        black += piece_terms<Trace>(board, kind, BLACK, occ, black_area, wk, black_attacks, &black_fixed, trace);
    }
    if (popcount(p[W_BISHOP]) >= 2) add<Trace>(white, w.bishop_pair, WHITE, trace);
    if (popcount(p[B_BISHOP]) >= 2) add<Trace>(black, w.bishop_pair, BLACK, trace);
    for (int side : {WHITE, BLACK}) {
        Score& s = side == WHITE ? white : black;
        U64 own_pawns = p[make_piece(PAWN, side)], all_pawns = p[W_PAWN] | p[B_PAWN];
        for (U64 b = p[make_piece(ROOK, side)]; b;) {
            U64 file = file_mask[file_of(pop_lowest(b))];
            if (!(file & all_pawns)) add<Trace>(s, w.rook_open_file, side, trace);
            else if (!(file & own_pawns)) add<Trace>(s, w.rook_half_open_file, side, trace);
        }
        U64 pawn_attacks = side == WHITE ? white_pawn_attacks : black_pawn_attacks;
        U64 targets = board.occupancy[side ^ 1] & ~p[make_piece(PAWN, side ^ 1)] & ~p[make_piece(KING, side ^ 1)];
        add<Trace>(s, w.pawn_threat, side, trace, popcount(pawn_attacks & targets));
    }

    // 5. Tempo.
    if (board.side == WHITE) add<Trace>(white, w.tempo, WHITE, trace);
    else add<Trace>(black, w.tempo, BLACK, trace);

    // 6. End games: scale the score of the side ahead toward a draw where the
    // material cannot win; help the attacker of a bare king to mate it.
    Score total = white - black;
    int phase = game_phase(board);
    int fixed = white_fixed - black_fixed;
    // Truncation toward zero keeps the colours symmetric.
    int blended = (mg_value(total) * phase + eg_value(total) * (PHASE_MAX - phase)) / PHASE_MAX + fixed;
    int scale = blended > 0 ? endgame_scale(board, WHITE) : blended < 0 ? endgame_scale(board, BLACK) : SCALE_NORMAL;
    // Mating without pawns is driven by the king squares alone: the material
    // settles who wins, and the other terms only blur the way there.
    int mating = mating_side(board), mopup = 0;
    if (mating != -1) {
        scale = 0;
        mopup = board.material[WHITE] - board.material[BLACK] +
                (mating == WHITE ? mop_up(board, WHITE) : -mop_up(board, BLACK));
    }
    int score = blended * scale / SCALE_NORMAL + mopup;
    if constexpr (Trace) {
        trace->fixed = fixed;
        trace->phase = phase;
        trace->scale = scale;
        trace->mop_up = mopup;
        trace->fifty = pos.info.halfmove_clock < 100 ? pos.info.halfmove_clock : 100;
    }
    return board.side == WHITE ? score : -score;
}

int evaluate_board(const Position& pos, const PlyRecord* rec, PawnTable* pawns) {
    return evaluate_terms<false>(pos, rec, pawns, nullptr);
}

int evaluate(const Position& pos, const PlyRecord* rec, PawnTable* pawns) {
    return fifty_move_scaled(evaluate_terms<false>(pos, rec, pawns, nullptr), pos.info.halfmove_clock);
}

int evaluate_traced(const Position& pos, const PlyRecord* rec, EvalTrace* trace) {
    memset(trace, 0, sizeof *trace);
    return fifty_move_scaled(evaluate_terms<true>(pos, rec, nullptr, trace), pos.info.halfmove_clock);
}

// ---- Win, draw and loss ------------------------------------------------------------

void eval_wdl_chances(double score, double phase, const WdlModel& model, double chances[3]) {
    const double share = phase / PHASE_MAX;
    const double centre = model.centre[0] + (model.centre[1] - model.centre[0]) * share;
    const double width = model.width[0] + (model.width[1] - model.width[0]) * share;
    chances[0] = 1 / (1 + std::exp((centre - score) / width));
    chances[2] = 1 / (1 + std::exp((centre + score) / width));
    chances[1] = 1 - chances[0] - chances[2];
    if (chances[1] < 0) chances[1] = 0;  // a centre below zero: no room for a draw
}

Wdl eval_wdl(int score, int phase, const WdlModel& model) {
    double chances[3];
    eval_wdl_chances(score, phase, model, chances);
    Wdl wdl;
    wdl.win = int(std::lround(1000 * chances[0]));
    wdl.loss = int(std::lround(1000 * chances[2]));
    if (wdl.win + wdl.loss > 1000) wdl.loss = 1000 - wdl.win;
    wdl.draw = 1000 - wdl.win - wdl.loss;
    return wdl;
}
