// Attack tables: leaper and between tables, piece-square values, magic
// sliding attacks against a plain ray walk, the bit helpers, random64, SEE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "attacks.h"
#include "board.h"
#include "eval.h"
#include "movegen.h"
#include "movepick.h"
#include "test_support.h"

namespace {

// The position the tests set up and play on.
Position& pos = test_pos();

int sq(const char* name) { return make_square(name[0] - 'a', name[1] - '1'); }

// Bitboard of a list of square names like "b3 c2".
U64 squares(const char* names) {
    U64 b = 0;
    for (const char* p = names; *p;) {
        while (*p == ' ') p++;
        if (!*p) break;
        b |= bit(sq(p));
        p += 2;
    }
    return b;
}

// Target set of a leaper built from (file, rank) offsets, off-board steps dropped.
U64 offsets_from(int s, const int (*steps)[2], int count) {
    U64 b = 0;
    for (int i = 0; i < count; i++) {
        int f = file_of(s) + steps[i][0], r = rank_of(s) + steps[i][1];
        if (f >= 0 && f < 8 && r >= 0 && r < 8) b |= bit(make_square(f, r));
    }
    return b;
}

// Ray walk that stops at the first blocker, for a list of directions.
U64 walk(int s, U64 occ, const int (*dirs)[2]) {
    U64 b = 0;
    for (int d = 0; d < 4; d++)
        for (int f = file_of(s) + dirs[d][0], r = rank_of(s) + dirs[d][1]; f >= 0 && f < 8 && r >= 0 && r < 8;
             f += dirs[d][0], r += dirs[d][1]) {
            b |= bit(make_square(f, r));
            if (occ & bit(make_square(f, r))) break;
        }
    return b;
}
const int ROOK_DIRS[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
const int BISHOP_DIRS[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// The capture of the position's move list that goes from `from` to `to`.
Move generated_move(PlyRecord* rec, int from, int to) {
    generate_moves(pos, rec);
    for (int i = 0; i < rec->move_count; i++)
        if (move_from(rec->moves[i]) == from && move_to(rec->moves[i]) == to) return rec->moves[i];
    return 0;
}

class AttackTables : public ::testing::Test {
protected:
    void SetUp() override { setup_position(START_FEN); }
};

}  // namespace

// ---- Leaper and between tables -----------------------------------------------------

TEST_F(AttackTables, LeapersMatchTheirOffsets) {
    const int knight_steps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    const int king_steps[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    const int white_pawn_steps[2][2] = {{-1, 1}, {1, 1}};
    const int black_pawn_steps[2][2] = {{-1, -1}, {1, -1}};
    for (int s = 0; s < 64; s++) {
        EXPECT_EQ(knight_attacks[s], offsets_from(s, knight_steps, 8)) << s;
        EXPECT_EQ(king_attacks[s], offsets_from(s, king_steps, 8)) << s;
        EXPECT_EQ(pawn_attacks[0][s], offsets_from(s, white_pawn_steps, 2)) << s;
        EXPECT_EQ(pawn_attacks[1][s], offsets_from(s, black_pawn_steps, 2)) << s;
    }
}

TEST_F(AttackTables, LeaperEdgeCases) {
    struct Case {
        const U64* table;
        const char* square;
        const char* expected;
    };
    const Case cases[] = {
        {knight_attacks, "a1", "b3 c2"},
        {knight_attacks, "h8", "g6 f7"},
        {knight_attacks, "b1", "a3 c3 d2"},
        {knight_attacks, "h4", "g2 f3 f5 g6"},
        {knight_attacks, "d4", "c2 e2 b3 f3 b5 f5 c6 e6"},
        {king_attacks, "a1", "a2 b1 b2"},
        {king_attacks, "h8", "g8 g7 h7"},
        {king_attacks, "h4", "h3 g3 g4 g5 h5"},
        {pawn_attacks[0], "a2", "b3"},
        {pawn_attacks[0], "h2", "g3"},
        {pawn_attacks[0], "e4", "d5 f5"},
        {pawn_attacks[1], "h7", "g6"},
        {pawn_attacks[1], "a7", "b6"},
        {pawn_attacks[1], "e5", "d4 f4"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.table[sq(c.square)], squares(c.expected)) << c.square;

    const U64 file_a = 0x0101010101010101ULL, file_h = file_a << 7;
    for (int rank = 0; rank < 8; rank++) {
        EXPECT_EQ(king_attacks[make_square(7, rank)] & file_a, 0u) << rank;
        EXPECT_EQ(king_attacks[make_square(0, rank)] & file_h, 0u) << rank;
        EXPECT_EQ(knight_attacks[make_square(7, rank)] & file_a, 0u) << rank;
        EXPECT_EQ(knight_attacks[make_square(6, rank)] & file_a, 0u) << rank;
        EXPECT_EQ(pawn_attacks[0][make_square(7, rank)] & file_a, 0u) << rank;
        EXPECT_EQ(pawn_attacks[1][make_square(0, rank)] & file_h, 0u) << rank;
    }
    // A white pawn on the eighth rank and a black pawn on the first attack nothing.
    for (int file = 0; file < 8; file++) {
        EXPECT_EQ(pawn_attacks[0][make_square(file, 7)], 0u) << file;
        EXPECT_EQ(pawn_attacks[1][make_square(file, 0)], 0u) << file;
    }
}

TEST_F(AttackTables, BetweenCases) {
    struct Case {
        const char* a;
        const char* c;
        const char* expected;
    };
    const Case cases[] = {
        {"a1", "h8", "b2 c3 d4 e5 f6 g7"},
        {"h1", "a8", "g2 f3 e4 d5 c6 b7"},
        {"a1", "a8", "a2 a3 a4 a5 a6 a7"},
        {"a1", "h1", "b1 c1 d1 e1 f1 g1"},
        {"e4", "e7", "e5 e6"},
        {"e4", "b1", "d3 c2"},
        {"a1", "b3", ""},  // a knight's step
        {"e4", "e5", ""},  // neighbours
        {"e4", "f5", ""},
        {"e4", "e4", ""},
        {"a1", "h2", ""},
        {"h1", "a2", ""},  // no wrap along squares 7 apart
        {"a2", "h8", ""},
        {"h2", "a3", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(between[sq(c.a)][sq(c.c)], squares(c.expected)) << c.a << "-" << c.c;
        EXPECT_EQ(between[sq(c.c)][sq(c.a)], squares(c.expected)) << c.c << "-" << c.a;
    }
}

TEST_F(AttackTables, BetweenIsTheQueenRayUpToTheOtherSquare) {
    const int dirs[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    for (int a = 0; a < 64; a++) {
        U64 expected[64] = {};
        for (const auto& d : dirs) {
            U64 passed = 0;
            for (int f = file_of(a) + d[0], r = rank_of(a) + d[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
                 f += d[0], r += d[1]) {
                expected[make_square(f, r)] = passed;
                passed |= bit(make_square(f, r));
            }
        }
        for (int c = 0; c < 64; c++) ASSERT_EQ(between[a][c], expected[c]) << a << " " << c;
    }
}

// The weights list each piece's squares from White's side, a8 first; the
// tables index by square, White's from a1 up and Black's mirrored.
TEST_F(AttackTables, PieceSquareValues) {
    struct Case {
        int piece;
        const char* square;
        int entry;  // in the weights' listing
    };
    const Case cases[] = {
        {W_KNIGHT, "a1", 56}, {B_KNIGHT, "a8", 56}, {W_PAWN, "e2", 52},  {B_PAWN, "e7", 52},
        {W_ROOK, "b7", 9},    {B_ROOK, "b2", 9},    {W_QUEEN, "h4", 39}, {B_QUEEN, "h5", 39},
        {W_KING, "g1", 62},   {B_KING, "g8", 62},   {W_BISHOP, "c8", 2}, {B_BISHOP, "c1", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(piece_square[c.piece][sq(c.square)], eval_weights.piece_square[kind_of(c.piece)][c.entry])
            << PIECE_LETTERS[c.piece] << " " << c.square;
    // Black's rows are White's seen from the other side of the board.
    for (int piece = W_PAWN; piece < 12; piece += 2)
        for (int s = 0; s < 64; s++)
            EXPECT_EQ(piece_square[piece - 1][s], piece_square[piece][s ^ 56]) << piece << " " << s;
}

// ---- Masks and sliding attacks ------------------------------------------------

TEST_F(AttackTables, RelevantMasks) {
    EXPECT_EQ(rook_mask(sq("a1")), squares("a2 a3 a4 a5 a6 a7 b1 c1 d1 e1 f1 g1"));
    EXPECT_EQ(rook_mask(sq("d4")), squares("d2 d3 d5 d6 d7 b4 c4 e4 f4 g4"));
    EXPECT_EQ(bishop_mask(sq("a1")), squares("b2 c3 d4 e5 f6 g7"));
    EXPECT_EQ(bishop_mask(sq("d4")), squares("c3 b2 e5 f6 g7 c5 b6 e3 f2"));
    EXPECT_EQ(bishop_mask(sq("h8")), squares("g7 f6 e5 d4 c3 b2"));
    EXPECT_EQ(rook_mask(sq("e8")), squares("e2 e3 e4 e5 e6 e7 b8 c8 d8 f8 g8"));
    const U64 border = 0xFF818181818181FFULL;
    U64 rook_slots = 0, bishop_slots = 0;
    for (int s = 0; s < 64; s++) {
        U64 rm = rook_mask(s), bm = bishop_mask(s);
        bool inner_file = file_of(s) >= 1 && file_of(s) <= 6, inner_rank = rank_of(s) >= 1 && rank_of(s) <= 6;
        EXPECT_EQ(popcount(rm), (inner_rank ? 5 : 6) + (inner_file ? 5 : 6)) << s;
        EXPECT_GE(popcount(bm), 5) << s;
        EXPECT_LE(popcount(bm), 9) << s;
        EXPECT_EQ(rm & bit(s), 0u) << s;
        EXPECT_EQ(bm & bit(s), 0u) << s;
        // A bishop mask is the empty-board attack set without the border.
        EXPECT_EQ(bm, walk(s, 0, BISHOP_DIRS) & ~border) << s;
        // A rook mask is the empty-board attack set without the last square of each ray.
        EXPECT_EQ(rm & ~walk(s, 0, ROOK_DIRS), 0u) << s;
        rook_slots += 1ULL << popcount(rm);
        bishop_slots += 1ULL << popcount(bm);
    }
    // The well-known sizes of tightly packed magic tables.
    EXPECT_EQ(rook_slots, 102400u);
    EXPECT_EQ(bishop_slots, 5248u);
}

TEST_F(AttackTables, SlowAttacksAreTheRayWalk) {
    std::mt19937_64 rng(7);
    for (int s = 0; s < 64; s++)
        for (int i = 0; i < 200; i++) {
            U64 occ = rng() & rng();
            ASSERT_EQ(rook_attacks_slow(s, occ), walk(s, occ, ROOK_DIRS)) << s;
            ASSERT_EQ(bishop_attacks_slow(s, occ), walk(s, occ, BISHOP_DIRS)) << s;
        }
}

TEST_F(AttackTables, EveryMaskSubsetLooksUpItsRayWalk) {
    for (int s = 0; s < 64; s++) {
        U64 mask = rook_magic[s].mask;
        ASSERT_EQ(mask, rook_mask(s)) << s;
        for (int i = 0; i < (1 << popcount(mask)); i++) {
            U64 occ = index_to_occupancy(i, mask);
            ASSERT_EQ(rook_attacks(s, occ), walk(s, occ, ROOK_DIRS)) << "rook " << s << " index " << i;
        }
        mask = bishop_magic[s].mask;
        ASSERT_EQ(mask, bishop_mask(s)) << s;
        for (int i = 0; i < (1 << popcount(mask)); i++) {
            U64 occ = index_to_occupancy(i, mask);
            ASSERT_EQ(bishop_attacks(s, occ), walk(s, occ, BISHOP_DIRS)) << "bishop " << s << " index " << i;
        }
    }
}

TEST_F(AttackTables, OccupancyOutsideTheMaskChangesNothing) {
    std::mt19937_64 rng(11);
    for (int s = 0; s < 64; s++)
        for (int i = 0; i < 300; i++) {
            U64 occ = rng() & rng();
            U64 outside = rng();
            U64 rm = rook_mask(s), bm = bishop_mask(s);
            ASSERT_EQ(rook_attacks(s, occ), rook_attacks(s, occ & rm)) << s;
            ASSERT_EQ(rook_attacks(s, (occ & rm) | (outside & ~rm)), rook_attacks(s, occ & rm)) << s;
            ASSERT_EQ(rook_attacks(s, occ), walk(s, occ, ROOK_DIRS)) << s;
            ASSERT_EQ(bishop_attacks(s, occ), bishop_attacks(s, occ & bm)) << s;
            ASSERT_EQ(bishop_attacks(s, (occ & bm) | (outside & ~bm)), bishop_attacks(s, occ & bm)) << s;
            ASSERT_EQ(bishop_attacks(s, occ), walk(s, occ, BISHOP_DIRS)) << s;
            ASSERT_EQ(queen_attacks(s, occ), walk(s, occ, ROOK_DIRS) | walk(s, occ, BISHOP_DIRS)) << s;
        }
    // Full occupancy: every ray stops at the neighbour.
    for (int s = 0; s < 64; s++) {
        EXPECT_EQ(queen_attacks(s, ~0ULL), king_attacks[s]) << s;
    }
}

TEST_F(AttackTables, SlidingCasesByHand) {
    EXPECT_EQ(rook_attacks(sq("a1"), 0), squares("a2 a3 a4 a5 a6 a7 a8 b1 c1 d1 e1 f1 g1 h1"));
    U64 d4 = rook_attacks(sq("d4"), squares("d6 f4"));
    EXPECT_EQ(d4, squares("d5 d6 e4 f4 d3 d2 d1 c4 b4 a4"));
    EXPECT_EQ(d4 & squares("d7 g4"), 0u);
    EXPECT_EQ(bishop_attacks(sq("c1"), squares("e3")), squares("b2 a3 d2 e3"));
    EXPECT_EQ(bishop_attacks(sq("h8"), 0), squares("g7 f6 e5 d4 c3 b2 a1"));
    // Blockers on the edge are themselves attacked.
    EXPECT_EQ(rook_attacks(sq("e4"), squares("e8 e1 a4 h4")), rook_attacks(sq("e4"), 0));
    EXPECT_EQ(rook_attacks(sq("e4"), squares("e5 e3 d4 f4")), squares("e5 e3 d4 f4"));
}

TEST_F(AttackTables, IndexToOccupancy) {
    const U64 mask = squares("d1 c2 e5 h6");  // bits 3, 10, 36, 47 in that order
    EXPECT_EQ(index_to_occupancy(0, mask), 0u);
    EXPECT_EQ(index_to_occupancy(1, mask), squares("d1"));
    EXPECT_EQ(index_to_occupancy(2, mask), squares("c2"));
    EXPECT_EQ(index_to_occupancy(5, mask), squares("d1 e5"));
    EXPECT_EQ(index_to_occupancy(8, mask), squares("h6"));
    EXPECT_EQ(index_to_occupancy(15, mask), mask);
    EXPECT_EQ(index_to_occupancy(0, 0), 0u);
    // Every index of a full rook mask gives a different subset with as many bits as the index.
    U64 rm = rook_mask(sq("a1"));
    std::vector<bool> seen(1 << 12);
    for (int i = 0; i < (1 << 12); i++) {
        U64 occ = index_to_occupancy(i, rm);
        ASSERT_EQ(occ & ~rm, 0u) << i;
        ASSERT_EQ(popcount(occ), popcount(U64(i))) << i;
        // The subset's rank inside the mask reads back as the index.
        int back = 0, j = 0;
        for (U64 m = rm; m; m &= m - 1, j++)
            if (occ & (m & (0 - m))) back |= 1 << j;
        ASSERT_EQ(back, i);
    }
}

// ---- Bit helpers and the random generator ----------------------------------------

TEST(BitHelpers, LowestSquareAgreesWithTheDeBruijnTable) {
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(lowest_square(bit(i)), i);
        EXPECT_EQ(lowest_square_by_table(bit(i)), i);
        EXPECT_EQ(lowest_square_by_table(~0ULL << i), i);
    }
    std::mt19937_64 rng(3);
    for (int i = 0; i < 100000; i++) {
        U64 b = rng() >> (i % 64);
        if (!b) continue;
        ASSERT_EQ(lowest_square(b), lowest_square_by_table(b)) << std::hex << b;
    }
    // Each square appears exactly once in the table.
    std::vector<int> hits(64, 0);
    for (int v : bit_index_table) hits.at(v)++;
    for (int i = 0; i < 64; i++) EXPECT_EQ(hits[i], 1) << i;
}

// popcount is the instruction or the portable code depending on the target;
// both are checked here whatever the build.
TEST(BitHelpers, PopcountAndPopLowest) {
    for (U64 b : {0ULL, ~0ULL, 0x8000000000000001ULL, 0xFFULL << 56, 0x5555555555555555ULL, 0xFFFFFFFFULL}) {
        int count = 0;
        for (int s = 0; s < 64; s++) count += (b >> s) & 1;
        EXPECT_EQ(popcount(b), count) << std::hex << b;
        EXPECT_EQ(popcount_portable(b), count) << std::hex << b;
    }
    std::mt19937_64 rng(5);
    for (int i = 0; i < 10000; i++) {
        U64 b = rng() & rng();
        int count = 0, previous = -1;
        for (U64 c = b; c;) {
            int s = pop_lowest(c);
            ASSERT_GT(s, previous);
            ASSERT_TRUE(b & bit(s));
            previous = s;
            count++;
        }
        ASSERT_EQ(popcount(b), count);
        ASSERT_EQ(popcount_portable(b), count);
    }
}

// random64 keeps only the low 16 bits of each rand() call, lowest part first.
TEST(Random64, BuiltFromFourRandCalls) {
    for (unsigned seed : {1u, 1502314u, 42u, 0xDEADBEEFu}) {
        srand(seed);
        U64 expected[8];
        for (U64& e : expected) {
            U64 r1 = U64(rand()), r2 = U64(rand()), r3 = U64(rand()), r4 = U64(rand());
            e = (r1 & 0xFFFF) | (r2 & 0xFFFF) << 16 | (r3 & 0xFFFF) << 32 | (r4 & 0xFFFF) << 48;
        }
        srand(seed);
        for (U64 e : expected) EXPECT_EQ(random64(), e) << seed;

        srand(seed);
        U64 a = random64(), b = random64(), c = random64();
        srand(seed);
        EXPECT_EQ(random64_sparse(), a & b & c) << seed;
    }
}

// ---- Attackers and static exchange evaluation -----------------------------------

TEST(AttackersTo, BothColoursAndTheGivenOccupancy) {
    setup_position(START_FEN);
    U64 occ = pos.board.occupancy[0] | pos.board.occupancy[1];
    EXPECT_EQ(attackers_to(pos.board, occ, sq("f3")), squares("e2 g2 g1"));
    EXPECT_EQ(attackers_to(pos.board, occ, sq("c6")), squares("b7 d7 b8"));
    EXPECT_EQ(attackers_to(pos.board, occ, sq("e4")), 0u);
    EXPECT_EQ(attackers_to(pos.board, occ, sq("d2")), squares("b1 c1 d1 e1"));

    setup_position("3r2k1/8/8/3n4/4P3/2N5/3R4/3RK3 w - - 0 1");
    occ = pos.board.occupancy[0] | pos.board.occupancy[1];
    EXPECT_EQ(attackers_to(pos.board, occ, sq("d5")), squares("e4 c3 d2 d8"));
    // With d2 taken away the rook behind it sees through.
    EXPECT_EQ(attackers_to(pos.board, occ & ~squares("d2"), sq("d5")), squares("e4 c3 d2 d1 d8"));
    EXPECT_EQ(attackers_to(pos.board, occ, sq("e2")), squares("d2 c3 e1"));
}

TEST(Exchange, SeeCases) {
    struct Case {
        const char* fen;
        const char* from;
        const char* to;
        int value;
    };
    const Case cases[] = {
        // Rook takes an undefended knight.
        {"4k3/8/8/3n4/8/8/8/3RK3 w - - 0 1", "d1", "d5", 325},
        // Pawn takes a defended knight: the gain is certain at once.
        {"4k3/8/2p5/3n4/4P3/8/8/4K3 w - - 0 1", "e4", "d5", 325},
        // Queen takes a pawn defended by a pawn.
        {"4k3/8/4p3/3p4/8/8/8/3QK3 w - - 0 1", "d1", "d5", 100 - 975},
        // Knight takes a knight defended once by a pawn.
        {"4k3/8/2p5/3n4/8/2N5/8/4K3 w - - 0 1", "c3", "d5", 0},
        // The rook behind the capturing rook joins the exchange: RxN, RxR, RxR.
        {"3r2k1/8/8/3n4/8/8/3R4/3RK3 w - - 0 1", "d2", "d5", 325},
        // Without that second rook the capture loses the exchange.
        {"3r2k1/8/8/3n4/8/8/3R4/4K3 w - - 0 1", "d2", "d5", 325 - 500},
        // A queen behind a rook backs it up as well.
        {"3r2k1/8/8/3n4/8/8/3R4/3QK3 w - - 0 1", "d2", "d5", 325},
        // A bishop behind a capturing bishop: BxN, PxB, BxP.
        {"6k1/8/4p3/3n4/8/1B6/B7/4K3 w - - 0 1", "b3", "d5", 325 - 325 + 100},
        {"6k1/8/4p3/3n4/8/1B6/8/4K3 w - - 0 1", "b3", "d5", 0},
        // Black's captures are scored for Black.
        {"3qk3/8/8/3N4/2P5/8/8/4K3 b - - 0 1", "d8", "d5", 325 - 975},
        {"4k3/8/2n5/8/3P4/8/8/4K3 b - - 0 1", "c6", "d4", 100},
        // The king may take only when nothing recaptures.
        {"4k3/8/8/8/8/8/3p4/4K3 w - - 0 1", "e1", "d2", 100},
        {"3rk3/8/8/8/8/8/3p4/4K3 w - - 0 1", "e1", "d2", 100 - 10000},
        // A bishop behind the capturing queen on the diagonal recaptures too:
        // QxP, NxQ, BxN.
        {"4k3/8/2n5/4p3/3Q4/8/1B6/4K3 w - - 0 1", "d4", "e5", 100 - 975 + 325},
        // Queen takes a rook defended by a knight: rook for queen.
        {"4k3/8/2n5/4r3/8/8/8/4QK2 w - - 0 1", "e1", "e5", 500 - 975},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        Move m = generated_move(root, sq(c.from), sq(c.to));
        ASSERT_NE(m, 0u) << c.fen << " " << c.from << c.to;
        ASSERT_TRUE(m & MOVE_CAPTURE) << c.fen;
        EXPECT_EQ(see(pos.board, m), c.value) << c.fen << " " << c.from << c.to;
        // SEE only looks: the board is as it was.
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

// En passant and promotion change what the first capture wins: the victim of
// e.p. is not on the target square, and a promoting pawn becomes the piece
// the opponent may take back.
TEST(Exchange, SeeEnPassantAndPromotion) {
    struct Case {
        const char* fen;
        const char* move;
        int value;
    };
    const Case cases[] = {
        // An undefended e.p. capture wins the pawn; a defended one trades pawns.
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", 100},
        {"4k3/2p5/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", 0},
        {"4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1", "e4d3", 100},
        // Taking e.p. opens the file for a rook behind the victim.
        {"4k3/8/8/3pP3/8/8/8/3RK3 w - d6 0 1", "e5d6", 100},
        {"3rk3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", 0},
        // A quiet promotion gains the queen less the pawn, unless taken back.
        {"4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", 975 - 100},
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", 975 - 100 - 975},
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7b8q", 500 + 975 - 100},
        // An under-promotion counts the piece it makes.
        {"4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8n", 325 - 100},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        Move word = parse_move_text(c.move);
        generate_moves(pos, root);
        Move m = 0;
        for (int i = 0; i < root->move_count; i++)
            if (text_names_move(pos, root->moves[i], word, true)) m = root->moves[i];
        ASSERT_NE(m, 0u) << c.fen << " " << c.move;
        EXPECT_EQ(see(pos.board, m), c.value) << c.fen << " " << c.move;
        EXPECT_TRUE(board_is_consistent(pos, root)) << c.fen;
    }
}

// The magics file's hex reader, sixteen digits at once, against the
// C library: every byte value at every position of a value, in both cases.
TEST(MagicsFile, HexDigitsAreReadAsTheCLibraryReadsThem) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 64; round++) {
        char text[17];
        U64 expected = random();
        snprintf(text, sizeof text, round % 2 ? "%016llX" : "%016llx", (unsigned long long)expected);
        U64 value = 0;
        ASSERT_TRUE(parse_hex16(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
        for (int at = 0; at < 16; at++) {
            const char kept = text[at];
            for (int c = 0; c < 256; c++) {
                text[at] = char(c);
                const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
                value = 0;
                ASSERT_EQ(parse_hex16(text, value), hex) << "byte " << c << " at " << at;
                if (hex) {
                    ASSERT_EQ(value, strtoull(std::string(text, 16).c_str(), nullptr, 16)) << text;
                }
            }
            text[at] = kept;
        }
    }
}
