// Static evaluation: the proximity tables, the linear form the tuner reads,
// the king shelter and castling terms, the bishop pair, the side to move and
// colour symmetry.
//
// The weights are tuned, so most checks look at which weights a detail makes
// count (the traced coefficients) rather than at amounts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "attacks.h"
#include "eval.h"
#include "test_support.h"

namespace {

// The position the tests set up and play on.
Position& pos = test_pos();

constexpr int square(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

int evaluate_fen(const std::string& fen) {
    PlyRecord* root = setup_position(fen.c_str());
    return evaluate(pos, root);
}

// The reader drops rights that the placement cannot support; these set the
// record's rights afterwards, to see what the evaluation does with them alone.
int evaluate_with_rights(const std::string& fen, int rights) {
    PlyRecord* root = setup_position(fen.c_str());
    root->castling = rights;
    return evaluate(pos, root);
}

using Placement = std::vector<std::pair<char, const char*>>;

// FEN of a placement ("Ke1", ...), with the given side to move and rights.
std::string fen_of(const Placement& pieces, const char* side = "w", const char* rights = "-") {
    char cells[64];
    std::fill(cells, cells + 64, ' ');
    for (const auto& [letter, name] : pieces) cells[square(name)] = letter;
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            char c = cells[rank * 8 + file];
            if (c == ' ') {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    return fen + " " + side + " " + rights + " - 0 1";
}

Placement with(Placement base, const Placement& extra) {
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
}

std::vector<std::string> fen_fields(const std::string& fen) {
    std::istringstream in(fen);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    while (fields.size() < 6) fields.push_back(fields.size() == 4 ? "0" : fields.size() == 5 ? "1" : "-");
    return fields;
}

std::string swap_case(std::string text) {
    for (char& c : text)
        c = std::isupper(static_cast<unsigned char>(c)) ? char(std::tolower(c)) : char(std::toupper(c));
    return text;
}

// The same position with the colours exchanged: ranks mirrored, pieces and
// castling rights change colour, the en-passant square is mirrored and the
// other side moves.
std::string flip_colours(const std::string& fen) {
    std::vector<std::string> f = fen_fields(fen);
    std::vector<std::string> ranks;
    std::istringstream placement(f[0]);
    for (std::string rank; std::getline(placement, rank, '/');) ranks.push_back(swap_case(rank));
    std::reverse(ranks.begin(), ranks.end());
    std::string board_text;
    for (size_t i = 0; i < ranks.size(); i++) board_text += (i ? "/" : "") + ranks[i];

    std::string rights;
    for (char c : std::string("KQkq"))
        if (f[2].find(char(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c))) !=
            std::string::npos)
            rights += c;
    if (rights.empty()) rights = "-";

    std::string ep = f[3];
    if (ep != "-") ep[1] = char('1' + ('8' - ep[1]));

    return board_text + " " + (f[1] == "w" ? "b" : "w") + " " + rights + " " + ep + " " + f[4] + " " + f[5];
}

std::string with_side(const std::string& fen, const char* side) {
    std::vector<std::string> f = fen_fields(fen);
    // An en-passant square belongs to one side to move only.
    return f[0] + " " + side + " " + f[2] + " - " + f[4] + " " + f[5];
}

// Hand-picked positions: openings, middle games with castled and uncastled
// kings, queenless middle games, endings with passed pawns, castling rights
// and en-passant squares.
const char* const varied_positions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2",
    "r1bqkbnr/pppp1ppp/2n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 3 3",
    "rnbqkb1r/pp2pppp/3p1n2/8/3NP3/8/PPP2PPP/RNBQKB1R w KQkq - 1 5",
    "rnbqkbnr/ppp1pppp/8/3p4/2PP4/8/PP2PPPP/RNBQKBNR b KQkq c3 0 2",
    "rnbqkbnr/pp1ppppp/8/2pP4/8/8/PPP1PPPP/RNBQKBNR w KQkq c6 0 2",
    "rnbqkbnr/ppp2ppp/4p3/3pP3/3P4/8/PPP2PPP/RNBQKBNR b KQkq - 0 3",
    "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/2N2N2/PPPP1PPP/R1BQK2R w KQkq - 6 5",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r2q1rk1/pp2bppp/2n1bn2/3p4/3P4/2NBBN2/PP3PPP/R2Q1RK1 w - - 4 11",
    "2kr1b1r/pppq1ppp/2n1bn2/4p3/4P3/2N1BN2/PPPQ1PPP/R3KB1R w KQ - 4 8",
    "r1b2rk1/pp1nqppp/2p1p3/3p4/2PPn3/2NBPN2/PPQ2PPP/R4RK1 w - - 0 10",
    "r1bq1b1r/ppppkppp/2n2n2/4p3/4P3/2N2N2/PPPPKPPP/R1BQ1B1R w - - 6 5",
    "r4rk1/pp3pp1/2n1bn1p/8/8/2NB4/PPP2PP1/R4R1K w - - 0 15",
    "1k1r3r/ppp1qppp/2n5/8/8/5N2/PPP1QPPP/2KR3R b - - 5 14",
    "r1b1k2r/ppp2ppp/2n2n2/2b5/2B5/2N2N2/PPP2PPP/R1B1K2R w KQkq - 0 8",
    "2r2rk1/pp3ppp/2n1bn2/8/3N4/2N1B3/PP3PPP/2R2RK1 b - - 3 15",
    "r3k2r/1pp2ppp/p1pb4/4P3/5B2/2N5/PPP2PPP/R3K2R b KQkq - 0 11",
    "r4rk1/pp3ppp/2n1bn2/8/8/2BB4/PPP2PPP/R4RK1 w - - 0 14",
    "8/5pk1/6p1/1P6/8/6P1/5PK1/8 w - - 0 40",
    "8/8/4k3/3p4/3P4/4K3/8/8 w - - 0 1",
    "8/1P6/8/8/8/k7/6p1/K7 w - - 0 1",
    "6k1/5ppp/8/8/1p6/8/5PPP/R5K1 w - - 0 30",
    "8/3k4/3P4/3K4/8/8/8/8 b - - 0 1",
    "2r3k1/5pp1/7p/1pP5/1P6/6P1/5PKP/2R5 b - - 0 35",
    "8/p4kpp/1p6/2p5/2P5/1P3K2/P5PP/8 w - - 0 35",
    "8/5k2/3b4/3P4/2B2K2/8/8/8 w - - 0 50",
    "6k1/5p1p/6p1/8/3Q4/8/q4PPP/6K1 w - - 0 40",
    "2bbk3/8/8/8/8/8/8/1BBBK3 w - - 0 1",
    "3qk3/8/8/8/3PP3/8/8/3QK3 w - - 0 1",
    "4k3/2P5/8/8/8/8/5p2/4K3 b - - 0 60",
    "r3k3/8/8/8/8/8/8/4K2R w Kq - 0 1",
};

std::vector<std::string> recorded_positions() {
    std::vector<std::string> fens;
    std::ifstream in(BRIK_TEST_DATA "/eval_positions.txt");
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') fens.push_back(line);
    return fens;
}

}  // namespace

// ---- Proximity tables ------------------------------------------------------

TEST(ProximityTables, KnownEntries) {
    setup_position(START_FEN);
    struct Case {
        int (*table)[64];
        const char* name;
        const char* from;
        const char* to;
        int expected;
    };
    const Case cases[] = {
        {knight_proximity, "knight", "a1", "h8", 0},   // six jumps
        {knight_proximity, "knight", "a1", "b3", 10},  // one jump
        {knight_proximity, "knight", "a1", "a2", 5},   // three jumps
        {knight_proximity, "knight", "a1", "c2", 10},
        {knight_proximity, "knight", "a1", "d2", 8},   // two jumps
        {knight_proximity, "knight", "a1", "c3", 2},   // four jumps out of the corner
        {bishop_proximity, "bishop", "a1", "h8", 7},   // one move, 14 steps apart
        {bishop_proximity, "bishop", "a1", "a2", 0},   // other colour: never reached
        {bishop_proximity, "bishop", "a1", "c1", 4},   // two moves
        {bishop_proximity, "bishop", "a1", "b2", 10},
        {rook_proximity, "rook", "a1", "a8", 5},
        {rook_proximity, "rook", "a1", "h8", 0},
        {rook_proximity, "rook", "a1", "a2", 8},
        {rook_proximity, "rook", "a1", "b2", 6},
        {queen_proximity, "queen", "a1", "b3", 2},
        {queen_proximity, "queen", "a1", "g8", -1},
        {queen_proximity, "queen", "a1", "h8", 4},
        {queen_proximity, "queen", "a1", "b1", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.table[square(c.from)][square(c.to)], c.expected)
            << c.name << "_proximity[" << c.from << "][" << c.to << "]";
}

TEST(ProximityTables, ZeroDiagonalAndSymmetric) {
    setup_position(START_FEN);
    struct Table {
        int (*table)[64];
        const char* name;
    };
    const Table tables[] = {{knight_proximity, "knight"},
                            {bishop_proximity, "bishop"},
                            {rook_proximity, "rook"},
                            {queen_proximity, "queen"}};
    for (const Table& t : tables) {
        for (int a = 0; a < 64; a++) {
            EXPECT_EQ(t.table[a][a], 0) << t.name << " square " << a;
            for (int b = a + 1; b < 64; b++)
                ASSERT_EQ(t.table[a][b], t.table[b][a]) << t.name << " squares " << a << ", " << b;
        }
    }
}

// ---- The weights and their coefficients --------------------------------------

namespace {

EvalTrace trace_of(const std::string& fen, int rights = -1) {
    PlyRecord* root = setup_position(fen.c_str());
    if (rights >= 0) root->castling = rights;
    EvalTrace trace;
    evaluate_traced(pos, root, &trace);
    return trace;
}

int index_of(const Score& weight) { return int(&weight - weights_array()); }

// How often a weight counted for one side.
int count_of(const EvalTrace& t, const Score& weight, int side) { return t.coefficient[index_of(weight)][side]; }

// Coefficients that differ between two traces, as "index/colour" words.
std::vector<std::string> differences(const EvalTrace& a, const EvalTrace& b) {
    std::vector<std::string> out;
    for (int i = 0; i < WEIGHT_COUNT; i++)
        for (int side : {BLACK, WHITE})
            if (a.coefficient[i][side] != b.coefficient[i][side])
                out.push_back(std::to_string(i) + (side == WHITE ? "w" : "b"));
    return out;
}

std::string word(const Score& weight, int side) { return std::to_string(index_of(weight)) + (side == WHITE ? "w" : "b"); }

const Score* shelter = eval_weights.shelter;

}  // namespace

// The evaluation is linear in its weights: the score rebuilt from the traced
// coefficients, the phase and the fixed part is exactly what evaluate returns.
// The tuner relies on this.
TEST(EvalTrace, CoefficientsRebuildTheScore) {
    std::vector<std::string> fens(std::begin(varied_positions), std::end(varied_positions));
    for (const std::string& fen : recorded_positions()) fens.push_back(fen);
    auto pawns = std::make_unique<PawnTable>();
    clear_pawn_table(*pawns);
    for (const std::string& fen : fens) {
        PlyRecord* root = setup_position(fen.c_str());
        const int plain = evaluate(pos, root);
        EvalTrace t;
        ASSERT_EQ(evaluate_traced(pos, root, &t), plain) << fen;
        long long mg = 0, eg = 0;
        for (int i = 0; i < WEIGHT_COUNT; i++) {
            int c = t.coefficient[i][WHITE] - t.coefficient[i][BLACK];
            mg += (long long)c * mg_value(weights_array()[i]);
            eg += (long long)c * eg_value(weights_array()[i]);
        }
        ASSERT_GE(t.phase, 0);
        ASSERT_LE(t.phase, PHASE_MAX);
        ASSERT_GE(t.scale, 0);
        ASSERT_LE(t.scale, 64);
        long long blended = (mg * t.phase + eg * (PHASE_MAX - t.phase)) / PHASE_MAX + t.fixed;
        int white_view = int((blended * t.scale / 64 + t.mop_up) * (200 - t.fifty) / 200);
        EXPECT_EQ(pos.board.side == WHITE ? white_view : -white_view, plain) << fen;
        // A pawn table changes nothing, whether it fills an entry or reads it back.
        EXPECT_EQ(evaluate(pos, root, pawns.get()), plain) << fen;
        EXPECT_EQ(evaluate(pos, root, pawns.get()), plain) << fen;
    }
}

TEST(EvalTrace, ScorePacking) {
    const int values[] = {0, 1, -1, 100, -100, 975, -975, 12000, -12000};
    for (int mg : values)
        for (int eg : values) {
            EXPECT_EQ(mg_value(S(mg, eg)), mg);
            EXPECT_EQ(eg_value(S(mg, eg)), eg);
            if (abs(mg) > 5000 || abs(eg) > 5000) continue;  // sums stay within a half's 16 bits
            EXPECT_EQ(mg_value(3 * S(mg, eg) - S(eg, mg)), 3 * mg - eg);
            EXPECT_EQ(eg_value(3 * S(mg, eg) - S(eg, mg)), 3 * eg - mg);
        }
}

TEST(GamePhase, CountsMinorsRooksQueensUpToTheOpening) {
    struct Case {
        const char* fen;
        int phase;
    };
    const Case cases[] = {
        {START_FEN, 24},
        {"4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - - 0 1", 0},
        {"4k3/8/8/8/8/8/8/1NB1K3 w - - 0 1", 2},
        {"r3k3/8/8/8/8/8/8/3QK3 w - - 0 1", 6},
        {"qqqqkqqq/8/8/8/8/8/8/4K3 w - - 0 1", 24},  // capped
    };
    for (const Case& c : cases) {
        setup_position(c.fen);
        EXPECT_EQ(game_phase(pos.board), c.phase) << c.fen;
    }
}

// ---- King shelter and castling rights ----------------------------------------

// While the enemy queen is on the board, a king that has left the castled
// squares pays once for each castling right already given up. Nothing else
// reads the rights.
TEST(KingShelter, GivenUpCastlingRightsCountOnlyForThemselves) {
    const std::string base = "r2qk2r/8/8/8/8/8/8/R2QK2R w ";
    const EvalTrace all = trace_of(base + "KQkq - 0 1");
    struct Case {
        const char* rights;
        std::vector<std::string> changed;
    };
    const std::string ws = word(shelter[SHELTER_NO_SHORT_RIGHT], WHITE), wl = word(shelter[SHELTER_NO_LONG_RIGHT], WHITE);
    const std::string bs = word(shelter[SHELTER_NO_SHORT_RIGHT], BLACK), bl = word(shelter[SHELTER_NO_LONG_RIGHT], BLACK);
    const Case cases[] = {
        {"KQkq", {}}, {"Qkq", {ws}}, {"Kkq", {wl}}, {"kq", {wl, ws}}, {"KQq", {bs}},
        {"KQk", {bl}}, {"KQ", {bl, bs}}, {"Kq", {wl, bs}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got = differences(trace_of(base + c.rights + " - 0 1"), all);
        std::vector<std::string> want = c.changed;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.rights;
    }
    const EvalTrace none = trace_of(base + "- - 0 1");
    for (int side : {BLACK, WHITE}) {
        EXPECT_EQ(count_of(none, shelter[SHELTER_NO_SHORT_RIGHT], side), 1);
        EXPECT_EQ(count_of(none, shelter[SHELTER_NO_LONG_RIGHT], side), 1);
    }
}

TEST(KingShelter, CastlingRightsIgnoredWithoutEnemyQueenOrOnCastledSquare) {
    // Black has no queen: White's rights do not matter; White has one, so Black's do.
    const std::string no_black_queen = "r3k2r/8/8/8/8/8/8/R2QK2R w ";
    EXPECT_TRUE(differences(trace_of(no_black_queen + "kq - 0 1"), trace_of(no_black_queen + "KQkq - 0 1")).empty());
    EXPECT_EQ(differences(trace_of(no_black_queen + "KQ - 0 1"), trace_of(no_black_queen + "KQkq - 0 1")).size(), 2u);

    // Kings on castled squares: the rights (forced into the record) change nothing.
    const std::string castled = "2kr1q2/8/8/8/8/8/8/3Q1RK1 w - - 0 1";
    const int none = evaluate_with_rights(castled, 0);
    for (int rights = 1; rights < 16; rights++) EXPECT_EQ(evaluate_with_rights(castled, rights), none) << rights;
}

// A king on e1 pays for every piece, of either colour, on b1, c1, d1, f1 or g1.
TEST(KingShelter, KingOnE1PaysForCrowdedBackRank) {
    const Placement base = {{'k', "f8"}, {'q', "h8"}, {'Q', "a5"}, {'K', "e1"}};
    struct Case {
        Placement extra;
        int occupied;
    };
    const Case cases[] = {
        {{{'N', "b1"}}, 1},
        {{{'N', "c1"}}, 1},
        {{{'N', "d1"}}, 1},
        {{{'N', "f1"}}, 1},
        {{{'N', "g1"}}, 1},
        {{{'N', "b1"}, {'N', "c1"}, {'N', "d1"}}, 3},
        {{{'n', "d1"}}, 1},
        {{{'n', "b1"}, {'N', "g1"}}, 2},
        {{{'N', "h1"}}, 0},
        {{{'N', "e2"}}, 0},
    };
    for (const Case& c : cases) {
        std::string fen = fen_of(with(base, c.extra));
        EXPECT_EQ(count_of(trace_of(fen), shelter[SHELTER_E1_BACK_RANK], WHITE), c.occupied) << fen;
    }
    // The same pieces beside a king on e4 cost nothing.
    EXPECT_EQ(count_of(trace_of(fen_of({{'k', "f8"}, {'K', "e4"}, {'N', "b1"}, {'N', "f1"}})),
                       shelter[SHELTER_E1_BACK_RANK], WHITE), 0);
}

// The e1 rules: a missing f2 pawn, and an enemy queen.
TEST(KingShelter, KingOnE1WantsPawnOnF2AndFearsTheQueen) {
    struct Case {
        Placement pieces;
        int no_f2_pawn, enemy_queen;
    };
    const Case cases[] = {
        {{{'K', "e1"}, {'k', "f8"}}, 1, 0},
        {{{'K', "e1"}, {'k', "f8"}, {'P', "f2"}}, 0, 0},
        {{{'K', "e1"}, {'k', "f8"}, {'P', "f3"}}, 1, 0},
        {{{'K', "e1"}, {'k', "f8"}, {'q', "h8"}}, 1, 1},
        {{{'K', "e1"}, {'k', "f8"}, {'q', "h8"}, {'P', "f2"}}, 0, 1},
        {{{'K', "d1"}, {'k', "f8"}, {'q', "h8"}}, 0, 0},
    };
    for (const Case& c : cases) {
        EvalTrace t = trace_of(fen_of(c.pieces));
        EXPECT_EQ(count_of(t, shelter[SHELTER_E1_NO_F2_PAWN], WHITE), c.no_f2_pawn) << fen_of(c.pieces);
        EXPECT_EQ(count_of(t, shelter[SHELTER_E1_ENEMY_QUEEN], WHITE), c.enemy_queen) << fen_of(c.pieces);
    }
}

// With the king on h1 a missing f-pawn costs nothing and a missing h-pawn
// costs; on g1 it is the other way round. The g-file counts for both.
TEST(KingShelter, CornerKingFileExceptions) {
    struct Case {
        const char* king;
        const char* pawn;  // the only white pawn
        int open_bishop_file, open_knight_file, open_rook_file;
    };
    const Case cases[] = {
        {"g1", "f2", 0, 1, 0}, {"h1", "f2", 0, 1, 1}, {"g1", "h2", 1, 1, 0},
        {"h1", "h2", 0, 1, 0}, {"g1", "g3", 1, 0, 0}, {"h1", "g3", 0, 0, 1},
    };
    for (const Case& c : cases) {
        EvalTrace t = trace_of(fen_of({{'k', "g8"}, {'q', "d8"}, {'K', c.king}, {'P', c.pawn}}));
        EXPECT_EQ(count_of(t, shelter[SHELTER_OPEN_BISHOP_FILE], WHITE), c.open_bishop_file) << c.king << c.pawn;
        EXPECT_EQ(count_of(t, shelter[SHELTER_OPEN_KNIGHT_FILE], WHITE), c.open_knight_file) << c.king << c.pawn;
        EXPECT_EQ(count_of(t, shelter[SHELTER_OPEN_ROOK_FILE], WHITE), c.open_rook_file) << c.king << c.pawn;
    }
}

// Kings and blocked rook pawns are a pawn ending (phase 0): the king's
// end-game table decides, and none of the queen-dependent shelter rules apply.
TEST(KingShelter, EndgameKingTableWithoutPieces) {
    const Placement pawns = {{'k', "a8"}, {'P', "a4"}, {'p', "a5"}};
    const int reference_square = square("d4");
    const int reference = evaluate_fen(fen_of(with(pawns, {{'K', "d4"}})));
    const char* squares[] = {"a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "g2", "h2", "h3",
                             "e4", "c5", "h5", "f6", "e8", "h8", "a3", "b4", "f2"};
    auto king_eg = [](int s) { return eg_value(eval_weights.piece_square[KING][s ^ 56]); };
    for (const char* name : squares) {
        int s = square(name);
        int expected = king_eg(s) - king_eg(reference_square);
        if (s == square("e1")) expected += eg_value(shelter[SHELTER_E1_NO_F2_PAWN]);
        EXPECT_EQ(evaluate_fen(fen_of(with(pawns, {{'K', name}}))) - reference, expected) << name;
    }
}

// ---- Bishop pair -----------------------------------------------------------

TEST(BishopPair, OnceForTwoOrMore) {
    const Placement kings = {{'K', "h1"}, {'k', "a8"}};
    struct Case {
        std::vector<const char*> bishops;
        int pair;
    };
    const Case cases[] = {
        {{"c4"}, 0},
        {{"c4", "f4"}, 1},        // light and dark
        {{"c4", "b1"}, 1},        // both light (after a promotion)
        {{"c4", "f4", "b1"}, 1},  // three still earn it once
    };
    for (bool black : {false, true}) {
        for (const Case& c : cases) {
            Placement p = kings;
            for (const char* b : c.bishops) p.push_back({'B', b});
            std::string fen = fen_of(p);
            EvalTrace t = trace_of(black ? flip_colours(fen) : fen);
            EXPECT_EQ(count_of(t, eval_weights.bishop_pair, black ? BLACK : WHITE), c.pair)
                << (black ? "black " : "white ") << c.bishops.size() << " bishops";
            EXPECT_EQ(count_of(t, eval_weights.bishop_pair, black ? WHITE : BLACK), 0);
        }
    }
}

// ---- Side to move and colour symmetry ----------------------------------------

// The side to move changes nothing but the tempo, which goes to that side,
// and the race of a free passed pawn against the enemy king.
TEST(EvaluateSymmetry, SideToMoveOnlyMovesTheTempoAndPawnRaces) {
    std::vector<std::string> fens(std::begin(varied_positions), std::end(varied_positions));
    for (const std::string& fen : recorded_positions()) fens.push_back(fen);
    const std::string tempo_w = word(eval_weights.tempo, WHITE), tempo_b = word(eval_weights.tempo, BLACK);
    const std::string race_w = word(eval_weights.passer_unstoppable, WHITE);
    const std::string race_b = word(eval_weights.passer_unstoppable, BLACK);
    for (const std::string& fen : fens) {
        std::vector<std::string> got = differences(trace_of(with_side(fen, "w")), trace_of(with_side(fen, "b")));
        EXPECT_NE(std::find(got.begin(), got.end(), tempo_w), got.end()) << fen;
        EXPECT_NE(std::find(got.begin(), got.end(), tempo_b), got.end()) << fen;
        for (const std::string& w : got) EXPECT_TRUE(w == tempo_w || w == tempo_b || w == race_w || w == race_b) << fen;
    }
}

// A free passed pawn against a bare king counts as unstoppable when the king
// is outside its square, with the side to move deciding the close cases.
TEST(PassedPawns, RuleOfTheSquare) {
    struct Case {
        const char* fen;
        int white_unstoppable, black_unstoppable;
    };
    const Case cases[] = {
        {"8/8/8/8/P7/8/8/4K2k w - - 0 1", 1, 0},   // a4: four steps to a8; the king on h1 needs seven
        {"8/8/5k2/8/P7/8/8/K7 w - - 0 1", 1, 0},   // the king on f6 needs five: one too many
        {"8/8/5k2/8/P7/8/8/K7 b - - 0 1", 0, 0},   // ... unless it moves first
        {"7k/8/8/8/8/8/P7/K7 w - - 0 1", 1, 0},    // a2, with the double step: five steps; h8 needs seven
        {"8/8/8/8/P7/8/8/K2nk3 w - - 0 1", 0, 0},  // the enemy has a piece
        {"1k6/8/8/8/P7/8/8/K7 w - - 0 1", 0, 0},   // the king inside the square
        {"K7/8/8/8/8/p7/8/7k b - - 0 1", 0, 1},    // the same for Black
    };
    for (const Case& c : cases) {
        EvalTrace t = trace_of(c.fen);
        EXPECT_EQ(count_of(t, eval_weights.passer_unstoppable, WHITE), c.white_unstoppable) << c.fen;
        EXPECT_EQ(count_of(t, eval_weights.passer_unstoppable, BLACK), c.black_unstoppable) << c.fen;
    }
}

// Exchanging the colours (and the side to move) gives exactly the same score
// for the side to move.
TEST(EvaluateSymmetry, ColourFlipKeepsTheScore) {
    for (const char* fen : varied_positions) {
        std::string flipped = flip_colours(fen);
        EXPECT_EQ(flip_colours(flipped), fen);
        EXPECT_EQ(evaluate_fen(fen), evaluate_fen(flipped)) << fen << "  |  " << flipped;
    }
}

TEST(EvaluateSymmetry, ColourFlipOnRecordedGames) {
    const std::vector<std::string> fens = recorded_positions();
    ASSERT_GE(fens.size(), 100u);
    for (const std::string& fen : fens) {
        for (const char* side : {"w", "b"}) {
            std::string p = with_side(fen, side);
            std::string flipped = flip_colours(p);
            EXPECT_EQ(evaluate_fen(p), evaluate_fen(flipped)) << p << "  |  " << flipped;
        }
    }
}

TEST(EvaluateSymmetry, FlipHelperMirrorsEverything) {
    EXPECT_EQ(flip_colours("rnbqkbnr/pp1ppppp/8/2pP4/8/8/PPP1PPPP/RNBQKBNR w KQq c6 0 2"),
              "rnbqkbnr/ppp1pppp/8/8/2Pp4/8/PP1PPPPP/RNBQKBNR b Qkq c3 0 2");
}

// ---- End games ---------------------------------------------------------------

// Material that cannot win scores near a draw; winning material keeps its
// score. Scores are for the side to move.
TEST(Endgames, ScoresWithinExpectedRanges) {
    struct Case {
        const char* fen;
        int low, high;
        const char* why;
    };
    const Case cases[] = {
        {"8/8/4k3/8/8/2N5/3R4/4K2r w - - 0 1", 1, 80, "rook and knight against rook"},
        {"8/8/4k3/8/3b4/8/3R4/4K3 w - - 0 1", 1, 60, "rook against bishop"},
        {"8/8/4k3/8/3n4/8/3R4/4K3 w - - 0 1", 1, 60, "rook against knight"},
        {"8/8/4k3/8/8/2N5/8/4K3 w - - 0 1", 0, 0, "a lone knight"},
        {"8/8/4k3/8/8/2B5/8/4K3 b - - 0 1", 0, 0, "a lone bishop"},
        {"8/8/4k3/8/8/2NN4/8/4K3 w - - 0 1", 0, 0, "two knights"},
        {"8/4k3/8/8/8/8/3R4/4K3 w - - 0 1", 400, 2000, "rook against a bare king"},
        {"1k6/8/8/8/8/8/8/4K2Q b - - 0 1", -3000, -700, "queen against a bare king"},
        {"8/8/1K6/p7/2P5/rP6/8/6k1 b - - 3 55", 150, 1000, "rook and pawn against two pawns"},
        {"8/4k3/8/3P4/8/8/8/4K3 w - - 0 1", 30, 400, "a pawn up, kings only"},
        {"8/4k1b1/8/2PP4/8/8/4B3/4K3 w - - 0 1", 1, 250, "bishops of opposite colours"},
        {"8/4k3/8/8/8/8/3R4/4K2q w - - 0 1", -2000, -300, "queen against rook"},
    };
    for (const Case& c : cases) {
        int score = evaluate_fen(c.fen);
        EXPECT_GE(score, c.low) << c.why << ": " << c.fen;
        EXPECT_LE(score, c.high) << c.why << ": " << c.fen;
    }
}

// The side ahead prefers positions that make progress: the bare king on the
// edge (in a corner of the bishop's colour with bishop and knight), opposite
// bishops drawish against same-coloured ones, a fresh fifty-move counter.
TEST(Endgames, ProgressScoresHigher) {
    struct Case {
        const char* better;
        const char* worse;
    };
    const Case cases[] = {
        {"1k6/8/8/8/8/8/8/4K2Q w - - 0 1", "8/8/8/4k3/8/8/8/4K2Q w - - 0 1"},
        {"8/8/8/8/8/8/3R4/1k2K3 w - - 0 1", "8/8/8/4k3/8/8/3R4/4K3 w - - 0 1"},
        {"7k/8/8/8/8/8/8/2B1KN2 w - - 0 1", "k7/8/8/8/8/8/8/2B1KN2 w - - 0 1"},
        {"8/4kb2/8/2PP4/8/8/4B3/4K3 w - - 0 1", "8/4k1b1/8/2PP4/8/8/4B3/4K3 w - - 0 1"},
        {"8/4k3/8/3P4/8/8/8/4K3 w - - 0 1", "8/4k3/8/3P4/8/8/8/4K3 w - - 60 1"},
    };
    for (const Case& c : cases) EXPECT_GT(evaluate_fen(c.better), evaluate_fen(c.worse)) << c.better << " | " << c.worse;
}

// Win, draw and loss per mille add up to 1000 at every score and phase; the
// win share grows with the score, and a score and its negation swap win and
// loss.
TEST(Eval, WinDrawLossAddUpAndFollowTheScore) {
    for (int phase : {0, 12, PHASE_MAX}) {
        int last_win = -1;
        for (int score : {-3000, -600, -200, -50, 0, 50, 200, 600, 3000}) {
            Wdl wdl = eval_wdl(score, phase), mirrored = eval_wdl(-score, phase);
            EXPECT_EQ(wdl.win + wdl.draw + wdl.loss, 1000) << score;
            EXPECT_GE(wdl.draw, 0) << score;
            EXPECT_EQ(wdl.win, mirrored.loss) << score;
            EXPECT_EQ(wdl.draw, mirrored.draw) << score;
            EXPECT_GE(wdl.win, last_win) << score;
            last_win = wdl.win;
        }
        EXPECT_GT(eval_wdl(600, phase).win, eval_wdl(50, phase).win);
        EXPECT_EQ(eval_wdl(3000, phase).win, 1000);
    }
}
