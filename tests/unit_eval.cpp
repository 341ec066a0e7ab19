// Static evaluation: the proximity tables, the king shelter and castling
// terms, the bishop pair, the side-to-move sign and colour symmetry.
//
// Most checks compare evaluations of positions that differ in one detail, so
// that every term the detail does not touch cancels; where a term still moves
// with the detail, the expected amount is taken from the engine's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "attacks.h"
#include "eval.h"
#include "test_support.h"

namespace {

constexpr int square(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

int evaluate_fen(const std::string& fen) {
    PlyRecord* root = setup_position(fen.c_str());
    return evaluate(root);
}

// The reader drops rights that the placement cannot support; these set the
// record's rights afterwards, to see what the evaluation does with them alone.
int evaluate_with_rights(const std::string& fen, int rights) {
    PlyRecord* root = setup_position(fen.c_str());
    root->castling = rights;
    return evaluate(root);
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

// ---- King shelter and castling rights ----------------------------------------

// While the enemy queen is on the board, a king that has left the castled
// squares loses 10 per castling right already given up. Nothing else reads
// the rights, so changing them alone moves the score by exactly that much.
TEST(KingShelter, LostCastlingRightsCostTenEach) {
    const std::string base = "r2qk2r/8/8/8/8/8/8/R2QK2R w ";
    const int all = evaluate_fen(base + "KQkq - 0 1");
    struct Case {
        const char* rights;
        int change;  // White's view
    };
    const Case cases[] = {
        {"KQkq", 0}, {"Qkq", -10}, {"Kkq", -10}, {"kq", -20}, {"KQq", 10},
        {"KQk", 10}, {"KQ", 20},   {"-", 0},     {"Kq", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(evaluate_fen(base + c.rights + " - 0 1") - all, c.change) << c.rights;
}

TEST(KingShelter, CastlingRightsIgnoredWithoutEnemyQueenOrOnCastledSquare) {
    // Black has no queen: White's rights do not matter; White has one, so Black's do.
    const std::string no_black_queen = "r3k2r/8/8/8/8/8/8/R2QK2R w ";
    EXPECT_EQ(evaluate_fen(no_black_queen + "kq - 0 1"), evaluate_fen(no_black_queen + "KQkq - 0 1"));
    EXPECT_EQ(evaluate_fen(no_black_queen + "KQ - 0 1") - evaluate_fen(no_black_queen + "KQkq - 0 1"), 20);

    // Kings on castled squares: the rights (forced into the record) change nothing.
    const std::string castled = "2kr1q2/8/8/8/8/8/8/3Q1RK1 w - - 0 1";
    const int none = evaluate_with_rights(castled, 0);
    for (int rights = 1; rights < 16; rights++) EXPECT_EQ(evaluate_with_rights(castled, rights), none) << rights;
}

// A king on e1 pays 3 for every piece, of either colour, on b1, c1, d1, f1 or g1.
// The same pieces are added beside a king on e4 too: the difference between
// the two additions leaves only that charge (and, for Black's knights, their
// proximity to the white king, which moves with it).
TEST(KingShelter, KingOnE1PaysForCrowdedBackRank) {
    // Both kings off the castled squares and both queens on: no attack terms.
    const Placement base = {{'k', "f8"}, {'q', "h8"}, {'Q', "a5"}};
    auto added_by = [&](const char* king, const Placement& extra) {
        Placement kings = with(base, {{'K', king}});
        return evaluate_fen(fen_of(with(kings, extra))) - evaluate_fen(fen_of(kings));
    };
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
        int proximity_shift = 0;
        for (const auto& [letter, name] : c.extra)
            if (letter == 'n')
                proximity_shift -= knight_proximity[square("e1")][square(name)] -
                                   knight_proximity[square("e4")][square(name)];
        EXPECT_EQ(added_by("e1", c.extra) - added_by("e4", c.extra), -3 * c.occupied + proximity_shift)
            << fen_of(with(base, with({{'K', "e1"}}, c.extra)));
    }
}

// A pawn on f2 is worth 10 more to a king on e1 than to a king on e4; the
// rest of the pawn's terms do not depend on where its king stands (the
// king-distance part of a passed pawn is zero on the second rank).
TEST(KingShelter, KingOnE1WantsPawnOnF2) {
    const Placement base = {{'k', "f8"}, {'q', "h8"}, {'Q', "a5"}};
    auto pawn_worth = [&](const char* king) {
        Placement kings = with(base, {{'K', king}});
        return evaluate_fen(fen_of(with(kings, {{'P', "f2"}}))) - evaluate_fen(fen_of(kings));
    };
    EXPECT_EQ(pawn_worth("e1") - pawn_worth("e4"), 10);
}

// The enemy queen costs a king on e1 a further 15 compared with a king on d1,
// beyond what the queen's own terms and the switch of king table account for.
TEST(KingShelter, EnemyQueenCostsKingOnE1Fifteen) {
    const Placement base = {{'k', "f8"}, {'Q', "a5"}};
    auto queen_effect = [&](const char* king) {
        Placement kings = with(base, {{'K', king}});
        return evaluate_fen(fen_of(with(kings, {{'q', "h8"}}))) - evaluate_fen(fen_of(kings));
    };
    auto table_switch = [](const char* king) {
        int i = square(king) ^ 56;
        return king_table_middle[i] - king_table_end[i];
    };
    const int h8 = square("h8");
    int expected = -15 + table_switch("e1") - table_switch("d1") -
                   (queen_proximity[square("e1")][h8] - queen_proximity[square("d1")][h8]);
    EXPECT_EQ(queen_effect("e1") - queen_effect("d1"), expected);
}

// With the king on h1 a missing f-pawn costs nothing and a missing h-pawn
// costs 10; on g1 it is the other way round. The g-file counts for both.
TEST(KingShelter, CornerKingFileExceptions) {
    const Placement base = {{'k', "g8"}, {'q', "d8"}};
    auto pawn_worth = [&](const char* king, const char* pawn) {
        Placement kings = with(base, {{'K', king}});
        return evaluate_fen(fen_of(with(kings, {{'P', pawn}}))) - evaluate_fen(fen_of(kings));
    };
    struct Case {
        const char* pawn;
        int g1_minus_h1;
    };
    const Case cases[] = {{"f2", 10}, {"f4", 10}, {"g2", 0}, {"g3", 0}, {"h2", -10}, {"h4", -10}};
    for (const Case& c : cases) EXPECT_EQ(pawn_worth("g1", c.pawn) - pawn_worth("h1", c.pawn), c.g1_minus_h1) << c.pawn;
}

// Without an enemy queen none of the shelter rules apply (no pawns here, which
// would otherwise cost well over 100 on g1) and the king follows king_table_end.
TEST(KingShelter, EndgameKingTableWithoutEnemyQueen) {
    const int reference_square = square("d4");
    const int reference = evaluate_fen(fen_of({{'k', "a8"}, {'K', "d4"}}));
    const char* squares[] = {"a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "g2", "h2", "h3",
                             "e4", "c5", "h5", "f6", "e8", "h8", "a3", "b4", "f2"};
    for (const char* name : squares) {
        int s = square(name);
        int expected = king_table_end[s ^ 56] - king_table_end[reference_square ^ 56];
        if (s == square("e1")) expected -= 10;  // still no pawn on f2
        EXPECT_EQ(evaluate_fen(fen_of({{'k', "a8"}, {'K', name}})) - reference, expected) << name;
    }
}

// ---- Bishop pair -----------------------------------------------------------

// Bishops placed so that none stands on another's lines or next to a king
// score independently; what remains after removing each one's own worth is
// the pair bonus.
TEST(BishopPair, FifteenOnceForTwoOrMore) {
    const Placement kings = {{'K', "h1"}, {'k', "a8"}};
    struct Case {
        std::vector<const char*> bishops;
        int bonus;
    };
    const Case cases[] = {
        {{"c4", "f4"}, 15},        // light and dark
        {{"c4", "b1"}, 15},        // both light (after a promotion)
        {{"c4", "f4", "b1"}, 15},  // three still earn it once
    };
    for (bool black : {false, true}) {
        for (const Case& c : cases) {
            auto position = [&](const std::vector<const char*>& bishops) {
                Placement p = kings;
                for (const char* b : bishops) p.push_back({'B', b});
                std::string fen = fen_of(p);
                return evaluate_fen(black ? with_side(flip_colours(fen), "w") : fen);
            };
            int together = position(c.bishops);
            int alone = 0;
            for (const char* b : c.bishops) alone += position({b}) - position({});
            EXPECT_EQ(together - position({}) - alone, black ? -c.bonus : c.bonus)
                << (black ? "black " : "white ") << c.bishops.size() << " bishops, first " << c.bishops[0];
        }
    }
}

TEST(BishopPair, SingleBishopHasNoBonus) {
    // A bishop on b1 facing a king on a8: seven free squares ahead, none
    // behind, none near the enemy king.
    const int lone = evaluate_fen(fen_of({{'K', "h1"}, {'k', "a8"}, {'B', "b1"}}));
    const int none = evaluate_fen(fen_of({{'K', "h1"}, {'k', "a8"}}));
    const int b1 = square("b1");
    EXPECT_EQ(lone - none, 325 + piece_square[W_BISHOP][b1] + bishop_proximity[square("a8")][b1] +
                               bishop_mobility_a[7] + bishop_mobility_b[0]);
}

// ---- Side to move and colour symmetry ----------------------------------------

TEST(EvaluateSymmetry, SideToMoveOnlyFlipsSign) {
    std::vector<std::string> fens(std::begin(varied_positions), std::end(varied_positions));
    for (const std::string& fen : recorded_positions()) fens.push_back(fen);
    for (const std::string& fen : fens) {
        int white = evaluate_fen(with_side(fen, "w"));
        int black = evaluate_fen(with_side(fen, "b"));
        EXPECT_EQ(white, -black) << fen;
    }
}

// Exchanging the colours gives the same score from the other side's view,
// apart from the 15 White always receives: 30 between the two.
TEST(EvaluateSymmetry, ColourFlipChangesOnlyWhiteBonus) {
    for (const char* fen : varied_positions) {
        std::string flipped = flip_colours(fen);
        EXPECT_EQ(flip_colours(flipped), fen);
        int original = evaluate_fen(fen);
        int mirror = evaluate_fen(flipped);
        if (fen_fields(fen)[1] == "w")
            EXPECT_EQ(original, mirror + 30) << fen << "  |  " << flipped;
        else
            EXPECT_EQ(original, mirror - 30) << fen << "  |  " << flipped;
    }
}

TEST(EvaluateSymmetry, ColourFlipOnRecordedGames) {
    const std::vector<std::string> fens = recorded_positions();
    ASSERT_GE(fens.size(), 100u);
    for (const std::string& fen : fens) {
        for (const char* side : {"w", "b"}) {
            std::string p = with_side(fen, side);
            std::string flipped = flip_colours(p);
            int original = evaluate_fen(p);
            int mirror = evaluate_fen(flipped);
            EXPECT_EQ(original, mirror + (side[0] == 'w' ? 30 : -30)) << p << "  |  " << flipped;
        }
    }
}

TEST(EvaluateSymmetry, FlipHelperMirrorsEverything) {
    EXPECT_EQ(flip_colours("rnbqkbnr/pp1ppppp/8/2pP4/8/8/PPP1PPPP/RNBQKBNR w KQq c6 0 2"),
              "rnbqkbnr/ppp1pppp/8/8/2Pp4/8/PP1PPPPP/RNBQKBNR b Qkq c3 0 2");
}
