// Static evaluation: a tapered sum of weighted terms, and the tables it reads.
#pragma once

#include <cstdint>

#include "attacks.h"
#include "board.h"

// A middle-game and an end-game value packed in one int (end game in the upper
// half), so that sums and integer multiples add both halves at once.
using Score = int;
constexpr Score S(int mg, int eg) { return int(unsigned(eg) << 16) + mg; }
constexpr int mg_value(Score s) { return int16_t(uint16_t(unsigned(s))); }
constexpr int eg_value(Score s) { return int16_t(uint16_t(unsigned(s + 0x8000) >> 16)); }

// Game phase from the material on the board: minor 1, rook 2, queen 4, at
// most PHASE_MAX (the opening); 0 is a pawn ending.
constexpr int PHASE_MAX = 24;

// The king-shelter rules, each one weight.
enum ShelterRule : int {
    SHELTER_E1_NO_F2_PAWN,      // king on e1 without a pawn on f2
    SHELTER_E1_BACK_RANK,       // king on e1: per piece on b1, c1, d1, f1, g1
    SHELTER_E1_ENEMY_QUEEN,     // king on e1 facing a queen
    SHELTER_CORNER_PAWN,        // castled king beside an own a/b (g/h) pawn on the second rank
    SHELTER_NO_SHORT_RIGHT,     // uncastled king that gave up the short right
    SHELTER_NO_LONG_RIGHT,      // ... the long right
    SHELTER_KNIGHT_PAWN_PUSHED, // g (b) pawn one step up
    SHELTER_KNIGHT_PAWN_GONE,   // g (b) pawn further up or gone
    SHELTER_ROOK_PAWN_PUSHED,   // h (a) pawn
    SHELTER_ROOK_PAWN_GONE,
    SHELTER_BISHOP_PAWN_PUSHED, // f (c) pawn
    SHELTER_BISHOP_PAWN_GONE,
    SHELTER_OPEN_BISHOP_FILE,   // no own pawn on the f (c) file
    SHELTER_OPEN_KNIGHT_FILE,
    SHELTER_OPEN_ROOK_FILE,
    SHELTER_RULES
};

// Every weight of the evaluation. The record is a plain array of Scores in
// disguise, so that the tuner can address weight i as weights_array()[i].
struct EvalWeights {
    Score material[5];                  // pawn, knight, bishop, rook, queen
    Score piece_square[6][64];          // by kind, White's view, entry 0 = a8 ... 63 = h1
    Score knight_mobility_a[5], knight_mobility_b[5];  // squares ahead of / behind the piece
    Score bishop_mobility_a[15], bishop_mobility_b[15];
    Score rook_mobility_a[15], rook_mobility_b[15];
    Score queen_mobility_a[15], queen_mobility_b[15];
    Score passer[8];                    // passed pawn by rank
    Score passer_pawns_only[8];         // ... once the enemy has only pawns
    Score passer_per_rank[9];           // times the rank, by the enemy's piece count
    Score passer_free_path[8];          // nothing on the squares ahead
    Score passer_supported[8];          // defended by or beside an own pawn
    Score passer_king_lead[8];          // per step the own king is nearer the stop square
    Score passer_unstoppable;           // the enemy has only pawns and its king is outside the square
    Score doubled_pawn, isolated_pawn, backward_pawn;
    Score pawn_islands[5];              // by the number of islands, at most 4
    Score space[13];                    // safe squares in c2-f4
    Score shelter[SHELTER_RULES];
    Score king_zone_near, king_zone_far;  // per attacked square next to / two steps from the enemy king
    Score bishop_pair;
    Score rook_open_file, rook_half_open_file;  // no pawn on the file / no own pawn
    Score pawn_threat;                  // per enemy piece (not pawn or king) an own pawn attacks
    Score tempo;                        // to the side to move
};
constexpr int WEIGHT_COUNT = int(sizeof(EvalWeights) / sizeof(Score));
extern EvalWeights eval_weights;
inline Score* weights_array() { return reinterpret_cast<Score*>(&eval_weights); }

// Named slices of the weights, for the tuner's printout.
struct WeightGroup {
    const char* name;
    int first, count;
    int row;  // values per printed row
};
extern const WeightGroup weight_groups[];
extern const int weight_group_count;

// How each weight entered one evaluation: coefficient[i][colour] counts the
// weight for that side (White's terms add, Black's subtract). From White's
// view, with mg and eg the weighted sums, the score is
//   (((mg * phase + eg * (PHASE_MAX - phase)) / PHASE_MAX + fixed) * scale / 64 + mop_up)
//       * (200 - fifty) / 200
struct EvalTrace {
    int16_t coefficient[WEIGHT_COUNT][2];
    int fixed;   // the proximity terms, the same in both phases
    int phase;   // 0 .. PHASE_MAX
    int scale;   // share the side ahead keeps, out of 64
    int mop_up;  // driving a bare king to the edge
    int fifty;   // fifty-move counter, at most 100
};

// Piece-square values by piece code and square, built from the weights.
extern Score piece_square[12][64];
// Rebuild the tables derived from the weights (after the tuner changes them).
void init_piece_square_tables();

extern int knight_proximity[64][64];
extern int bishop_proximity[64][64];
extern int rook_proximity[64][64];
extern int queen_proximity[64][64];

// Kind: 1 knight, 2 bishop, 3 rook, 4 queen. Needs the leaper and magic tables.
void build_proximity_table(int sq, int kind);
void build_proximity_tables();
// Per-square pawn masks the evaluation reads.
void init_eval_masks();

inline int game_phase(const BoardState& board) {
    const U64* p = board.pieces;
    int phase = popcount(p[W_KNIGHT] | p[B_KNIGHT] | p[W_BISHOP] | p[B_BISHOP]) +
                2 * popcount(p[W_ROOK] | p[B_ROOK]) + 4 * popcount(p[W_QUEEN] | p[B_QUEEN]);
    return phase < PHASE_MAX ? phase : PHASE_MAX;
}

constexpr int PAWN_TABLE_ENTRIES = 1 << 14;  // a power of two

// The pawn-only terms of both sides, cached by the pawn key.
struct PawnEntry {
    U64 key;
    Score score;       // White's minus Black's
    U64 passers[2];    // each in its owner's orientation (Black's flipped)
};
// One per search thread.
struct PawnTable {
    PawnEntry entries[PAWN_TABLE_ENTRIES];
};

// Forgets the cached pawn structures (after the weights change).
void clear_pawn_table(PawnTable& table);

// Win, draw and loss chances of a score (side to move's view): a logistic
// curve each, win 1 / (1 + e^((centre - score) / width)) and loss the same
// for -score, the draw what is left. Centre and width run linearly from a
// pawn ending (phase 0) to the opening (PHASE_MAX); brik-tuner --fit-wdl fits
// them on self-play results.
struct WdlModel {
    double centre[2];  // at phase 0 and at PHASE_MAX
    double width[2];
};
extern const WdlModel WDL_MODEL;
struct Wdl {
    int win, draw, loss;  // per mille, adding up to 1000
};
Wdl eval_wdl(int score, int phase, const WdlModel& model = WDL_MODEL);
// The chances as fractions (win, draw, loss).
void eval_wdl_chances(double score, double phase, const WdlModel& model, double chances[3]);

// The score shrinks toward zero as the fifty-move counter runs: progress (a
// pawn move or a capture) is worth making while ahead.
constexpr int FIFTY_MOVE_DIVISOR = 200;
inline int fifty_move_scaled(int score, int halfmove_clock) {
    int fifty = halfmove_clock < 100 ? halfmove_clock : 100;
    return score * (FIFTY_MOVE_DIVISOR - fifty) / FIFTY_MOVE_DIVISOR;  // toward zero for both colours
}

// Score of the board position for the side to move, in centipawns. Without
// a pawn table the pawn terms are computed afresh.
int evaluate(const Position& pos, const PlyRecord* rec, PawnTable* pawns = nullptr);
// The same score, with every weight's coefficients written to *trace.
int evaluate_traced(const Position& pos, const PlyRecord* rec, EvalTrace* trace);
// evaluate's score before fifty_move_scaled: what the hash table keeps, since
// its key does not know the counter.
int evaluate_board(const Position& pos, const PlyRecord* rec, PawnTable* pawns = nullptr);
