// Move generation, make/unmake with the game history, repetition, the legal
// root list, the move list of a "position" command and perft's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "attacks.h"
#include "board.h"
#include "uci.h"
#include "movegen.h"
#include "test_support.h"

namespace {

const char* const KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

int square(const char* text) { return make_square(text[0] - 'a', text[1] - '1'); }

// A generated-looking word from "e2e4" text, a piece code and flags.
Move word(const char* text, int piece, Move flags) {
    return make_move_word(square(text), square(text + 2), piece, flags);
}

std::vector<Move> move_list(const PlyRecord* rec) { return {rec->moves, rec->moves + rec->move_count}; }

std::string describe(const std::vector<Move>& moves) {
    std::string text;
    char buf[32];
    for (Move m : moves) {
        snprintf(buf, sizeof buf, "%s/%c/%02x ", move_to_text(test_pos(), m).c_str(), PIECE_LETTERS[move_piece(m) % 12],
                 m & 0xFF);
        text += buf;
    }
    return text;
}

// Index of the generated move with the text's squares (and promotion, when
// the text names one), or -1.
int find_generated(const PlyRecord* rec, const char* text) {
    Move m = parse_move_text(text);
    Move mask = (m & MOVE_PROMOTION) ? 0xFFFF13u : 0xFFFF00u;
    for (int i = 0; i < rec->move_count; i++)
        if ((rec->moves[i] & mask) == (m & mask)) return i;
    return -1;
}

// ---- Snapshots of everything make and unmake may touch --------------------

struct RecordFields {
    int check_count, checker_square, castling, ep_square;
    U64 key, base_key;
    int captured;
};

RecordFields fields_of(const PlyRecord* r) {
    return {r->check_count, r->checker_square, r->castling, r->ep_square, r->key, r->base_key, r->captured};
}

std::string record_difference(const RecordFields& a, const RecordFields& b, const char* which) {
    std::string w = which;
    if (a.check_count != b.check_count) return w + " check count";
    if (a.checker_square != b.checker_square) return w + " checker square";
    if (a.castling != b.castling) return w + " castling";
    if (a.ep_square != b.ep_square) return w + " ep square";
    if (a.key != b.key) return w + " key";
    if (a.base_key != b.base_key) return w + " base key";
    if (a.captured != b.captured) return w + " captured";
    return "";
}

struct Snapshot {
    BoardState board;
    RecordFields cur, next;
    std::vector<Move> cur_moves;
    int ply, history_count, irreversible_index, halfmove_clock;
    std::vector<HistoryEntry> history;  // entries 0 .. history_entries - 1
};

Snapshot take_snapshot(const Position& pos, const PlyRecord* cur, const PlyRecord* next, int history_entries) {
    Snapshot s;
    s.board = pos.board;
    s.cur = fields_of(cur);
    s.next = fields_of(next);
    s.cur_moves = move_list(cur);
    s.ply = pos.info.ply;
    s.history_count = pos.info.history_count;
    s.irreversible_index = pos.info.irreversible_index;
    s.halfmove_clock = pos.info.halfmove_clock;
    s.history.assign(pos.history, pos.history + std::min(history_entries, HISTORY_SIZE));
    return s;
}

// Names the first thing that differs, "" when the snapshots agree.
std::string snapshot_difference(const Snapshot& a, const Snapshot& b, bool compare_next) {
    for (int p = 0; p < 12; p++)
        if (a.board.pieces[p] != b.board.pieces[p]) return "bitboard of " + std::string(1, PIECE_LETTERS[p]);
    for (int c = 0; c < 2; c++) {
        if (a.board.occupancy[c] != b.board.occupancy[c]) return "occupancy";
        if (a.board.material[c] != b.board.material[c]) return "material";
    }
    if (a.board.side != b.board.side) return "side to move";
    for (int sq = 0; sq < 64; sq++)
        if (a.board.mailbox[sq] != b.board.mailbox[sq]) return "mailbox square " + std::to_string(sq);
    std::string d = record_difference(a.cur, b.cur, "current record");
    if (!d.empty()) return d;
    if (compare_next && !(d = record_difference(a.next, b.next, "next record")).empty()) return d;
    if (a.cur_moves != b.cur_moves) return "current move list";
    if (a.ply != b.ply) return "ply";
    if (a.history_count != b.history_count) return "history count";
    if (a.irreversible_index != b.irreversible_index) return "irreversible index";
    if (a.halfmove_clock != b.halfmove_clock) return "halfmove clock";
    for (size_t i = 0; i < a.history.size() && i < b.history.size(); i++)
        if (a.history[i].key != b.history[i].key || a.history[i].irreversible_index != b.history[i].irreversible_index)
            return "history entry " + std::to_string(i);
    return "";
}

U64 fresh_key(const Position& pos, const PlyRecord* rec, U64* base = nullptr) {
    PlyRecord copy = *rec;
    U64 key = compute_full_key(pos, &copy);
    if (base) *base = copy.base_key;
    return key;
}

// ---- The perft table (shared with the deep test) --------------------------


}  // namespace

// ---- Generation ---------------------------------------------------------------

TEST(Generation, StartPositionOrderForBothSides) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position(START_FEN);
    generate_moves(pos, root);
    std::vector<Move> white = {word("b1a3", W_KNIGHT, 0), word("b1c3", W_KNIGHT, 0), word("g1f3", W_KNIGHT, 0),
                               word("g1h3", W_KNIGHT, 0)};
    for (char f = 'a'; f <= 'h'; f++) white.push_back(word((std::string(1, f) + "2" + f + "3").c_str(), W_PAWN, 0));
    for (char f = 'a'; f <= 'h'; f++)
        white.push_back(word((std::string(1, f) + "2" + f + "4").c_str(), W_PAWN, MOVE_DOUBLE_STEP));
    EXPECT_EQ(describe(move_list(root)), describe(white));
    EXPECT_EQ(root->target_mask, ~0ULL);
    EXPECT_EQ(root->captured, NO_PIECE);

    setup_position("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1");
    generate_moves(pos, root);
    std::vector<Move> black = {word("b8a6", B_KNIGHT, 0), word("b8c6", B_KNIGHT, 0), word("g8f6", B_KNIGHT, 0),
                               word("g8h6", B_KNIGHT, 0)};
    for (char f = 'a'; f <= 'h'; f++) black.push_back(word((std::string(1, f) + "7" + f + "6").c_str(), B_PAWN, 0));
    for (char f = 'a'; f <= 'h'; f++)
        black.push_back(word((std::string(1, f) + "7" + f + "5").c_str(), B_PAWN, MOVE_DOUBLE_STEP));
    EXPECT_EQ(describe(move_list(root)), describe(black));
}

TEST(Generation, ExactListsInCheckAndForPromotions) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        const char* fen;
        bool captures_only;
        std::vector<Move> expected;
        int check_count;
    };
    const Move CAP_PROMO = MOVE_CAPTURE | MOVE_PROMOTION;
    std::vector<Case> cases = {
        // Rook on the e-file and knight on d3: only the king may move, castling is not even listed.
        {"double check", "4r1k1/8/8/8/8/3n4/8/R3K2R w KQ - 0 1", false,
         {word("e1d1", W_KING, 0), word("e1f1", W_KING, 0), word("e1d2", W_KING, 0), word("e1e2", W_KING, 0),
          word("e1f2", W_KING, 0)},
         2},
        // A knight check has no line to block: other pieces may only take it; castling is listed
        // (make refuses it) and king steps are not narrowed.
        {"single knight check", "r3k2r/8/8/5B2/8/3n4/8/R3K2R w KQkq - 0 1", false,
         {word("e1d1", W_KING, 0), word("e1f1", W_KING, 0), word("e1d2", W_KING, 0), word("e1e2", W_KING, 0),
          word("e1f2", W_KING, 0), word("e1g1", W_KING, MOVE_CASTLE), word("e1c1", W_KING, MOVE_CASTLE),
          word("f5d3", W_BISHOP, MOVE_CAPTURE)},
         1},
        {"white promotions, all generators", "n1r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", true,
         {word("b7c8", W_PAWN, CAP_PROMO | 0), word("b7c8", W_PAWN, CAP_PROMO | 1), word("b7c8", W_PAWN, CAP_PROMO | 2),
          word("b7c8", W_PAWN, CAP_PROMO | 3), word("b7a8", W_PAWN, CAP_PROMO | 0), word("b7a8", W_PAWN, CAP_PROMO | 1),
          word("b7a8", W_PAWN, CAP_PROMO | 2), word("b7a8", W_PAWN, CAP_PROMO | 3),
          word("b7b8", W_PAWN, MOVE_PROMOTION | 0), word("b7b8", W_PAWN, MOVE_PROMOTION | 1),
          word("b7b8", W_PAWN, MOVE_PROMOTION | 2), word("b7b8", W_PAWN, MOVE_PROMOTION | 3)},
         0},
        {"black promotions, h-file side first", "4k3/8/8/8/8/K7/6p1/5R1N b - - 0 1", true,
         {word("g2h1", B_PAWN, CAP_PROMO | 0), word("g2h1", B_PAWN, CAP_PROMO | 1), word("g2h1", B_PAWN, CAP_PROMO | 2),
          word("g2h1", B_PAWN, CAP_PROMO | 3), word("g2f1", B_PAWN, CAP_PROMO | 0), word("g2f1", B_PAWN, CAP_PROMO | 1),
          word("g2f1", B_PAWN, CAP_PROMO | 2), word("g2f1", B_PAWN, CAP_PROMO | 3),
          word("g2g1", B_PAWN, MOVE_PROMOTION | 0), word("g2g1", B_PAWN, MOVE_PROMOTION | 1),
          word("g2g1", B_PAWN, MOVE_PROMOTION | 2), word("g2g1", B_PAWN, MOVE_PROMOTION | 3)},
         0},
        {"tactical subset of the start position", START_FEN, true, {}, 0},
        {"white step to the seventh", "k7/8/4P3/8/8/8/8/4K3 w - - 0 1", true, {word("e6e7", W_PAWN, 0)}, 0},
        {"black step to the second", "4k3/8/8/8/8/3p4/8/K7 b - - 0 1", true, {word("d3d2", B_PAWN, 0)}, 0},
        // En passant is never narrowed to the check line: the rook check stays, so make refuses it.
        {"en passant listed while a rook checks", "r3k3/8/8/3pP3/8/8/8/K7 w - d6 0 1", false,
         {word("a1b1", W_KING, 0), word("a1a2", W_KING, 0), word("a1b2", W_KING, 0),
          word("e5d6", W_PAWN, MOVE_EN_PASSANT)},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlyRecord* root = setup_position(c.fen);
        root->second_mask = 12345;
        std::vector<Move> got;
        if (c.captures_only) {
            generate_captures(pos, root);
            got = move_list(root);
            EXPECT_EQ(root->second_mask, 0u);
        } else {
            generate_moves(pos, root);
            got = move_list(root);
        }
        EXPECT_EQ(describe(got), describe(c.expected));
        EXPECT_EQ(root->check_count, c.check_count);
        EXPECT_EQ(root->captured, NO_PIECE);
        if (c.captures_only && !c.expected.empty() && (c.expected[0] & MOVE_PROMOTION)) {
            // The full list has king steps first; the same pawn words close it.
            generate_moves(pos, root);
            std::vector<Move> all = move_list(root);
            ASSERT_GE(all.size(), c.expected.size());
            std::vector<Move> tail(all.end() - c.expected.size(), all.end());
            EXPECT_EQ(describe(tail), describe(c.expected));
        }
    }
}

TEST(Generation, CheckInfoAndTargetMask) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position("r3k2r/8/8/5B2/8/3n4/8/R3K2R w KQkq - 0 1");
    generate_moves(pos, root);
    EXPECT_EQ(root->check_count, 1);
    EXPECT_EQ(root->checker_square, square("d3"));
    EXPECT_EQ(root->target_mask, bit(square("d3")));

    // A bishop check: the line between king and checker plus the checker.
    setup_position("4k3/8/8/8/1b6/8/8/4K3 w - - 0 1");
    generate_moves(pos, root);
    EXPECT_EQ(root->check_count, 1);
    EXPECT_EQ(root->checker_square, square("b4"));
    EXPECT_EQ(root->target_mask, bit(square("b4")) | bit(square("c3")) | bit(square("d2")));

    for (const char* text : {"e1g1", "e1c1"}) {
        setup_position("r3k2r/8/8/5B2/8/3n4/8/R3K2R w KQkq - 0 1");
        generate_moves(pos, root);
        int i = find_generated(root, text);
        ASSERT_GE(i, 0) << text;
        EXPECT_EQ(make_move(pos, i, root, root->next), 0u) << text << " castles out of check";
    }
}

TEST(Generation, EnPassantAgainstTheCheckingPawnIsMade) {
    // The pawn that just stepped gives the check; taking it en passant answers it.
    PlyRecord* root = setup_position("4k3/8/8/3pP3/4K3/8/8/8 w - d6 0 1");
    Position& pos = test_pos();
    generate_moves(pos, root);
    EXPECT_EQ(root->check_count, 1);
    int i = find_generated(root, "e5d6");
    ASSERT_GE(i, 0);
    EXPECT_EQ(root->moves[i], word("e5d6", W_PAWN, MOVE_EN_PASSANT));
    EXPECT_EQ(make_move(pos, i, root, root->next), root->moves[i]);
    EXPECT_EQ(pos.board.mailbox[square("d5")], NO_PIECE);
    EXPECT_EQ(pos.board.mailbox[square("d6")], W_PAWN);
    EXPECT_EQ(root->captured, B_PAWN);
    EXPECT_TRUE(board_is_consistent(pos, root->next));
    unmake_move(pos, i, root);
    EXPECT_TRUE(board_is_consistent(pos, root));
}

TEST(Generation, CapturesAreTheTacticalPartOfTheFullListInOrder) {
    Position& pos = test_pos();
    const char* fens[] = {START_FEN,
                          KIWIPETE,
                          "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                          "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
                          "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
                          "4k3/8/8/PpP5/8/8/8/4K3 w - b6 0 1",
                          "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"};
    for (const char* fen : fens) {
        SCOPED_TRACE(fen);
        PlyRecord* root = setup_position(fen);
        generate_moves(pos, root);
        std::vector<Move> expected;
        for (Move m : move_list(root)) {
            bool pawn = kind_of(move_piece(m)) == PAWN;
            int to_rank = rank_of(move_to(m));
            bool to_seventh = pawn && move_kind(m) == 0 && to_rank == (pos.board.side == WHITE ? 6 : 1);
            if ((m & (MOVE_CAPTURE | MOVE_EN_PASSANT | MOVE_PROMOTION)) || to_seventh) expected.push_back(m);
        }
        generate_captures(pos, root);
        EXPECT_EQ(describe(move_list(root)), describe(expected));
    }
}

// ---- Make and unmake --------------------------------------------------------------

TEST(MakeMove, RefusedMovesChangeNothing) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        const char* fen;
        const char* move;
    };
    const Case cases[] = {
        {"short castling out of check", "4k3/8/8/8/8/8/4r3/R3K2R w KQ - 3 20", "e1g1"},
        {"long castling out of check", "4k3/8/8/8/8/8/4r3/R3K2R w KQ - 3 20", "e1c1"},
        {"short castling through f1", "4kr2/8/8/8/8/8/8/R3K2R w KQ - 5 30", "e1g1"},
        {"long castling through d1", "3rk3/8/8/8/8/8/8/R3K2R w KQ - 5 30", "e1c1"},
        {"short castling into g1", "4k1r1/8/8/8/8/8/8/R3K2R w KQ - 5 30", "e1g1"},
        {"long castling into c1", "2r1k3/8/8/8/8/8/8/R3K2R w KQ - 5 30", "e1c1"},
        {"black short castling into g8", "r3k2r/8/8/8/8/8/8/4K1R1 b kq - 9 40", "e8g8"},
        {"black long castling through d8", "r3k2r/8/8/8/8/8/8/3RK3 b kq - 9 40", "e8c8"},
        {"pinned knight step", "4k3/4r3/8/8/8/8/4N3/4K3 w - - 2 9", "e2c3"},
        {"pinned knight capture", "4k3/4r3/8/8/3p4/8/4N3/4K3 w - - 4 9", "e2d4"},
        {"pinned pawn capture-promotion", "nr2k3/1P6/8/8/8/8/8/1K6 w - - 0 1", "b7a8q"},
        {"en passant exposing the king on a rank", "8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1", "b5c6"},
        {"en passant leaving a rook check", "r3k3/8/8/3pP3/8/8/8/K7 w - d6 0 1", "e5d6"},
        {"king steps onto an attacked square", "4k3/8/8/8/8/8/3r4/4K3 w - - 6 12", "e1f2"},
        {"king takes a defended rook", "4k3/8/8/8/8/4p3/3r4/4K3 w - - 6 12", "e1d2"},
    };
    for (const Case& c : cases) {
        for (bool same_record : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (same_record ? " (one record)" : " (two records)"));
            PlyRecord* root = setup_position(c.fen);
            pos.info.ply = 7;
            generate_moves(pos, root);
            int i = find_generated(root, c.move);
            ASSERT_GE(i, 0) << "not generated";
            PlyRecord* next = root;
            if (!same_record) {
                next = root->next;
                next->check_count = 3;  // stale values a refused make must leave as they were
                next->checker_square = 42;
                next->ep_square = 44;
            }
            Snapshot before = take_snapshot(pos, root, next, HISTORY_SIZE);
            EXPECT_EQ(make_move(pos, i, root, next), 0u);
            EXPECT_EQ(snapshot_difference(before, take_snapshot(pos, root, next, HISTORY_SIZE), true), "");
            EXPECT_TRUE(board_is_consistent(pos, root));
        }
    }
}

TEST(MakeMove, LongCastlingPastAnAttackedB1IsMade) {
    // Only the king's squares matter: the rook may cross an attacked b1.
    PlyRecord* root = setup_position("1r2k3/8/8/8/8/8/8/R3K2R w KQ - 0 1");
    Position& pos = test_pos();
    generate_moves(pos, root);
    int i = find_generated(root, "e1c1");
    ASSERT_GE(i, 0);
    ASSERT_NE(make_move(pos, i, root, root->next), 0u);
    EXPECT_EQ(pos.board.mailbox[square("c1")], W_KING);
    EXPECT_EQ(pos.board.mailbox[square("d1")], W_ROOK);
    EXPECT_EQ(pos.board.mailbox[square("a1")], NO_PIECE);
    EXPECT_EQ(pos.board.mailbox[square("e1")], NO_PIECE);
    EXPECT_EQ(root->next->castling, 0);
    EXPECT_TRUE(board_is_consistent(pos, root->next));
}

TEST(MakeMove, CastlingRightsFollowTheMask) {
    Position& pos = test_pos();
    struct Case {
        const char* fen;
        const char* move;
        int rights;
    };
    const char* white = "r3k2r/8/8/8/8/8/1B6/R3K2R w KQkq - 0 1";
    const char* black = "r3k2r/1b6/8/8/8/8/8/R3K2R b KQkq - 0 1";
    const Case cases[] = {
        {white, "b2h8", WHITE_SHORT | WHITE_LONG | BLACK_LONG},  // the h8 rook is taken
        {white, "e1f1", BLACK_SHORT | BLACK_LONG},
        {white, "e1d2", BLACK_SHORT | BLACK_LONG},
        {white, "e1g1", BLACK_SHORT | BLACK_LONG},
        {white, "e1c1", BLACK_SHORT | BLACK_LONG},
        {white, "h1h7", WHITE_LONG | BLACK_SHORT | BLACK_LONG},
        {white, "a1a8", WHITE_SHORT | BLACK_SHORT},  // both long rights go
        {white, "b2c3", 15},
        {black, "b7h1", WHITE_LONG | BLACK_SHORT | BLACK_LONG},
        {black, "e8g8", WHITE_SHORT | WHITE_LONG},
        {black, "e8c8", WHITE_SHORT | WHITE_LONG},
        {black, "h8h1", WHITE_LONG | BLACK_LONG},
        {black, "a8a1", WHITE_SHORT | BLACK_SHORT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        PlyRecord* root = setup_position(c.fen);
        generate_moves(pos, root);
        int i = find_generated(root, c.move);
        ASSERT_GE(i, 0);
        ASSERT_NE(make_move(pos, i, root, root->next), 0u);
        EXPECT_EQ(root->next->castling, c.rights);
        EXPECT_EQ(root->next->key, fresh_key(pos, root->next));
        EXPECT_TRUE(board_is_consistent(pos, root->next));
    }
}

TEST(MakeMove, DoubleStepSetsTheEnPassantSquareAndKey) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position(START_FEN);
    generate_moves(pos, root);
    int i = find_generated(root, "e2e4");
    ASSERT_NE(make_move(pos, i, root, root->next), 0u);
    PlyRecord* next = root->next;
    EXPECT_EQ(next->ep_square, 20);
    EXPECT_NE(ep_keys[20], 0u);
    // No black pawn can take on e3: the square is kept but not keyed.
    EXPECT_EQ(next->key, next->base_key ^ castle_keys[15]);
    EXPECT_EQ(next->key, fresh_key(pos, next));
    EXPECT_EQ(pos.history[1].key, next->key);

    // Black's answer d7d5 sets d6; a quiet move after it clears the square again.
    generate_moves(pos, next);
    int j = find_generated(next, "d7d5");
    ASSERT_NE(make_move(pos, j, next, next->next), 0u);
    EXPECT_EQ(next->next->ep_square, 43);
    EXPECT_EQ(next->next->key, fresh_key(pos, next->next));
    PlyRecord* third = next->next;
    generate_moves(pos, third);
    int k = find_generated(third, "g1f3");
    ASSERT_NE(make_move(pos, k, third, third->next), 0u);
    EXPECT_EQ(third->next->ep_square, 0);
    EXPECT_EQ(third->next->key, fresh_key(pos, third->next));

    // A double step next to an enemy pawn puts the square in the key.
    root = setup_position("rnbqkbnr/pppppppp/8/4P3/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
    generate_moves(pos, root);
    int d = find_generated(root, "d7d5");
    ASSERT_NE(make_move(pos, d, root, root->next), 0u);
    EXPECT_EQ(root->next->ep_square, 43);
    EXPECT_EQ(root->next->key, root->next->base_key ^ ep_keys[43] ^ castle_keys[15]);
    EXPECT_EQ(root->next->key, fresh_key(pos, root->next));
}

TEST(MakeMove, CountersAfterMakeAndUnmake) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        const char* move;
        bool irreversible;
    };
    // Three game moves first, so that the history count and irreversible index are not zero.
    const char* fen = "r3k2r/8/8/3p4/4P3/8/8/R3K1NR w KQkq - 7 30";
    const Case cases[] = {
        {"pawn step", "e4e5", true},     {"pawn capture", "e4d5", true}, {"knight move", "g1f3", false},
        {"rook capture", "a1a8", true},  {"castling", "e1c1", false},    {"king step", "e1d1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlyRecord* root = setup_position(fen);
        apply_move_list(pos, "h1h2 h8h7 h2h1 h7h8", root);
        ASSERT_EQ(pos.info.history_count, 4);
        ASSERT_EQ(pos.info.halfmove_clock, 11);
        generate_moves(pos, root);
        int i = find_generated(root, c.move);
        ASSERT_GE(i, 0);
        Snapshot before = take_snapshot(pos, root, root->next, HISTORY_SIZE);
        ASSERT_NE(make_move(pos, i, root, root->next), 0u);
        EXPECT_EQ(pos.info.history_count, 5);
        EXPECT_EQ(pos.info.ply, before.ply + 1);
        if (c.irreversible) {
            EXPECT_EQ(pos.info.halfmove_clock, 0);
            EXPECT_EQ(pos.info.irreversible_index, 4);
        } else {
            EXPECT_EQ(pos.info.halfmove_clock, 12);
            EXPECT_EQ(pos.info.irreversible_index, before.irreversible_index);
        }
        EXPECT_EQ(pos.history[5].key, root->next->key);
        EXPECT_EQ(pos.history[5].irreversible_index, pos.info.irreversible_index);
        unmake_move(pos, i, root);
        EXPECT_EQ(snapshot_difference(before, take_snapshot(pos, root, root->next, HISTORY_SIZE), false), "");
    }
}

TEST(MakeMove, PromotionSelectors) {
    Position& pos = test_pos();
    struct Case {
        const char* move;
        int piece;
        int captured;
    };
    const Case cases[] = {
        {"b7b8n", W_KNIGHT, NO_PIECE}, {"b7b8b", W_BISHOP, NO_PIECE}, {"b7b8r", W_ROOK, NO_PIECE},
        {"b7b8q", W_QUEEN, NO_PIECE},  {"b7c8n", W_KNIGHT, B_ROOK},   {"b7c8b", W_BISHOP, B_ROOK},
        {"b7c8r", W_ROOK, B_ROOK},     {"b7c8q", W_QUEEN, B_ROOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.move);
        PlyRecord* root = setup_position("2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1");
        generate_moves(pos, root);
        int i = find_generated(root, c.move);
        ASSERT_GE(i, 0);
        EXPECT_EQ(move_promotion_kind(root->moves[i]), kind_of(c.piece));
        Snapshot before = take_snapshot(pos, root, root->next, 4);
        ASSERT_NE(make_move(pos, i, root, root->next), 0u);
        int to = move_to(root->moves[i]);
        EXPECT_EQ(pos.board.mailbox[to], c.piece);
        EXPECT_EQ(pos.board.pieces[c.piece], bit(to));
        EXPECT_EQ(pos.board.pieces[W_PAWN], 0u);
        EXPECT_EQ(pos.board.mailbox[square("b7")], NO_PIECE);
        EXPECT_EQ(pos.board.material[WHITE], 100 - 100 + piece_value[c.piece]);
        EXPECT_EQ(pos.board.material[BLACK], c.captured == NO_PIECE ? 500 : 0);
        EXPECT_EQ(root->captured, c.captured);
        EXPECT_TRUE(board_is_consistent(pos, root->next));
        unmake_move(pos, i, root);
        EXPECT_EQ(snapshot_difference(before, take_snapshot(pos, root, root->next, 4), false), "");
    }
}

TEST(MakeMove, NullMoveFlipsSideKeyAndClearsEnPassant) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position("rnbqkbnr/pppppppp/8/4P3/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
    apply_move_list(pos, "d7d5", root);  // root now has ep square d6 (e5 can take) and white to move
    ASSERT_EQ(root->ep_square, 43);
    pos.info.halfmove_clock = 5;
    PlyRecord* next = root->next;
    Snapshot before = take_snapshot(pos, root, next, 8);
    make_null_move(pos, root, next);
    EXPECT_EQ(next->key, root->key ^ side_key ^ ep_keys[43]);
    EXPECT_EQ(next->ep_square, 0);
    EXPECT_EQ(next->castling, root->castling);
    EXPECT_EQ(pos.board.side, BLACK);
    EXPECT_EQ(next->key, fresh_key(pos, next));
    EXPECT_EQ(pos.info.ply, before.ply + 1);
    EXPECT_EQ(pos.info.halfmove_clock, 6);
    EXPECT_EQ(pos.info.history_count, 2);
    EXPECT_EQ(pos.history[2].key, next->key);
    EXPECT_TRUE(board_is_consistent(pos, next));
    unmake_null_move(pos, root);
    EXPECT_EQ(snapshot_difference(before, take_snapshot(pos, root, next, 8), false), "");
}

namespace {

struct WalkReport {
    const Position* pos = nullptr;  // the position walked, named in the failure
    uint64_t leaves = 0;
    int failures = 0;
    std::string first_failure;
};

void note(WalkReport& report, bool ok, const char* what, Move m) {
    if (ok) return;
    if (report.failures++ == 0)
        report.first_failure = std::string(what) + " after " + move_to_text(*report.pos, m) + " in " +
                               position_to_fen(*report.pos, &report.pos->records[0]);
}

// Makes every move of the tree, checking each made position against a
// recomputation and each unmake against the state before the make.
void walk(Position& pos, int depth, PlyRecord* rec, WalkReport& report) {
    if (depth == 0) {
        report.leaves++;
        return;
    }
    generate_moves(pos, rec);
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        int count = pos.info.history_count;
        Snapshot before = take_snapshot(pos, rec, next, count + 2);
        if (!make_move(pos, i, rec, next)) {
            note(report, snapshot_difference(before, take_snapshot(pos, rec, next, count + 2), true).empty(),
                 "refused make changed state", m);
            continue;
        }
        int from = move_from(m), to = move_to(m), mover = before.board.side;
        bool irreversible = kind_of(move_piece(m)) == PAWN || (m & MOVE_CAPTURE);
        U64 base;
        note(report, next->key == fresh_key(pos, next, &base) && next->base_key == base, "key differs from a fresh one",
             m);
        note(report, board_is_consistent(pos, next), "board inconsistent", m);
        note(report, pos.board.side == (mover ^ 1), "side not flipped", m);
        int king = lowest_square(pos.board.pieces[make_piece(KING, mover)]);
        note(report, !square_attacked(pos.board, king, mover ^ 1), "mover's king left attacked", m);
        const int* kept = pos.castling_rules.rights_kept;
        note(report, next->castling == (before.cur.castling & kept[from] & kept[to]), "castling rights", m);
        note(report, next->ep_square == ((m & MOVE_DOUBLE_STEP) ? (from + to) / 2 : 0), "ep square", m);
        note(report, next->check_count == before.next.check_count && next->checker_square == before.next.checker_square,
             "check info of the next record not put back", m);
        note(report, pos.info.ply == before.ply + 1 && pos.info.history_count == count + 1, "counters", m);
        note(report, pos.history[count + 1].key == next->key &&
                         pos.history[count + 1].irreversible_index == pos.info.irreversible_index,
             "history entry", m);
        if (irreversible)
            note(report, pos.info.halfmove_clock == 0 && pos.info.irreversible_index == count,
                 "irreversible move counters", m);
        else
            note(report, pos.info.halfmove_clock == before.halfmove_clock + 1 &&
                             pos.info.irreversible_index == before.irreversible_index,
                 "reversible move counters", m);
        if (m & MOVE_CAPTURE) note(report, rec->captured == before.board.mailbox[to], "captured piece", m);
        if (m & MOVE_EN_PASSANT) note(report, rec->captured == (move_piece(m) ^ 1), "captured pawn", m);

        walk(pos, depth - 1, next, report);
        unmake_move(pos, i, rec);
        note(report, snapshot_difference(before, take_snapshot(pos, rec, next, count + 2), false).empty(),
             "unmake did not restore", m);
    }
}

}  // namespace

TEST(MakeMove, TreeWalkKeepsEverythingExact) {
    Position& pos = test_pos();
    struct Case {
        const char* fen;
        int depth;
        uint64_t leaves;
    };
    const Case cases[] = {
        {START_FEN, 3, 8902},
        {KIWIPETE, 3, 97862},
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4, 43238},
        {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3, 9467},
        {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 3, 62379},
        {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", 3, 9483},
        {"4k3/8/8/PpP5/8/8/8/4K3 w - b6 0 1", 4, 2840},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        PlyRecord* root = setup_position(c.fen);
        ASSERT_TRUE(board_is_consistent(pos, root));
        WalkReport report;
        report.pos = &pos;
        walk(pos, c.depth, root, report);
        EXPECT_EQ(report.failures, 0) << report.first_failure;
        EXPECT_EQ(report.leaves, c.leaves);
    }
}

// Every move two plies deep from each Chess960 table position: keys, rights
// and the board stay exact through castling of every shape, and make's own
// legality test counts what the table counts.
TEST(MakeMove, Chess960TreeWalkKeepsEverythingExact) {
    Position& pos = test_pos();
    for (const PerftCase& c : load_perft960_table()) {
        SCOPED_TRACE(c.name + ": " + c.fen);
        ASSERT_GE(c.nodes.size(), 2u);
        PlyRecord* root = setup_position(c.fen.c_str(), true);
        ASSERT_TRUE(board_is_consistent(pos, root));
        WalkReport report;
        report.pos = &pos;
        walk(pos, 2, root, report);
        EXPECT_EQ(report.failures, 0) << report.first_failure;
        EXPECT_EQ(report.leaves, c.nodes[1]);
    }
}

TEST(BoardConsistency, NoticesCorruption) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        void (*corrupt)(BoardState& board);
    };
    const Case cases[] = {
        {"stale code on an empty square", [](BoardState& board) { board.mailbox[square("e4")] = W_PAWN; }},
        {"wrong code on an occupied square", [](BoardState& board) { board.mailbox[square("e2")] = W_KNIGHT; }},
        {"material", [](BoardState& board) { board.material[WHITE] += 1; }},
        {"occupancy", [](BoardState& board) { board.occupancy[BLACK] ^= bit(square("e4")); }},
        {"side to move", [](BoardState& board) { board.side ^= 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlyRecord* root = setup_position(START_FEN);
        ASSERT_TRUE(board_is_consistent(pos, root));
        c.corrupt(pos.board);
        EXPECT_FALSE(board_is_consistent(pos, root));
    }
}

// ---- Repetition ----------------------------------------------------------------------

TEST(Repetition, KnightShuffleFromTheStart) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position(START_FEN);
    apply_move_list(pos, "g1f3 g8f6 f3g1 f6g8", root);
    ASSERT_EQ(pos.info.history_count, 4);
    EXPECT_EQ(is_repetition(pos, root), 1) << "the set-up position counts too";
    apply_move_list(pos, "g1f3", root);
    EXPECT_EQ(is_repetition(pos, root), 1);
    apply_move_list(pos, "g8f6", root);
    EXPECT_EQ(is_repetition(pos, root), 1);
}

TEST(Repetition, PawnMoveSetsTheBoundary) {
    // Positions from the pawn move on count, the one right after a double
    // step too: nobody can take en passant there, so its key has no square.
    PlyRecord* root = setup_position(START_FEN);
    Position& pos = test_pos();
    apply_move_list(pos, "e2e4 g8f6 g1f3 f6g8 f3g1", root);
    EXPECT_EQ(is_repetition(pos, root), 1);
    apply_move_list(pos, "g8f6", root);
    EXPECT_EQ(is_repetition(pos, root), 1);

    // Plant the current key into older entries: only those after the pawn move count.
    setup_position(START_FEN);
    apply_move_list(pos, "g1f3 g8f6 f3g1 f6g8 e2e4 g8f6 g1f3 f6g8", root);
    ASSERT_EQ(pos.info.history_count, 8);
    ASSERT_EQ(pos.info.irreversible_index, 4);
    ASSERT_EQ(is_repetition(pos, root), 0);
    struct Case {
        int entry;
        int expected;
    };
    // Entry 4 is the position just before the pawn move: it is compared, but
    // in a real game no later position can equal it.
    for (Case c : {Case{6, 1}, Case{4, 1}, Case{2, 0}, Case{0, 0}, Case{7, 0}}) {
        HistoryEntry saved = pos.history[c.entry];
        pos.history[c.entry].key = root->key;
        EXPECT_EQ(is_repetition(pos, root), c.expected) << "entry " << c.entry;
        pos.history[c.entry] = saved;
    }
}

// Castling is a reversible move, and the rights are part of the position.
TEST(Repetition, Chess960CastlingRightsTakePart) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position("1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1", true);
    apply_move_list(pos, "b1a1 b8a8 a1b1 a8b8", root);
    ASSERT_EQ(pos.info.history_count, 4);
    EXPECT_EQ(is_repetition(pos, root), 0) << "the long rights are gone";
    apply_move_list(pos, "b1a1 b8a8 a1b1 a8b8", root);
    EXPECT_EQ(is_repetition(pos, root), 1);
    apply_move_list(pos, "g1h1", root);
    EXPECT_EQ(pos.info.halfmove_clock, 9);
    EXPECT_EQ(pos.info.irreversible_index, 0);
}

// ---- The legal list and its sort ---------------------------------------------------------

TEST(LegalMoves, LegalMovesFirstAndCountedLikePerft) {
    Position& pos = test_pos();
    struct Case {
        const char* fen;
        int legal;
    };
    const Case cases[] = {
        {START_FEN, 20},
        {KIWIPETE, 48},
        {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 6},
        {"8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1", 4},
        {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", 0},  // mated
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0},                                  // stalemated
        {"6rk/5Npp/8/8/8/8/8/6K1 b - - 0 1", 0},                                // smothered: nothing generated
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        PlyRecord* root = setup_position(c.fen);
        ASSERT_EQ(perft_count(pos, 1, root), uint64_t(c.legal));
        generate_moves(pos, root);
        std::vector<Move> accepted;
        for (int i = 0; i < root->move_count; i++)
            if (make_move(pos, i, root, root->next)) {
                accepted.push_back(root->moves[i]);
                unmake_move(pos, i, root);
            }
        Snapshot before = take_snapshot(pos, root, root->next, 4);
        EXPECT_EQ(generate_legal_moves(pos, root), c.legal);
        EXPECT_EQ(root->move_count, c.legal);
        std::vector<Move> listed = move_list(root);
        std::sort(listed.begin(), listed.end());
        std::sort(accepted.begin(), accepted.end());
        EXPECT_EQ(listed, accepted);
        Snapshot after = take_snapshot(pos, root, root->next, 4);
        after.cur_moves = before.cur_moves;  // the list is expected to change
        EXPECT_EQ(snapshot_difference(before, after, false), "");
    }
}

TEST(SortByScore, DescendingAndPairsKept) {
    std::mt19937 rng(2024);
    for (int count = 0; count <= 40; count++) {
        for (int round = 0; round < 20; round++) {
            std::vector<int> scores(count);
            std::vector<Move> moves(count);
            for (int i = 0; i < count; i++) {
                scores[i] = int(rng() % 7) - 3;  // many ties
                if (round % 2) scores[i] = int(rng() % 100000) - 50000;
                moves[i] = Move(i + 1) << 8 | Move(scores[i] & 0xFF);
            }
            std::vector<std::pair<int, Move>> pairs;
            for (int i = 0; i < count; i++) pairs.push_back({scores[i], moves[i]});
            sort_by_score(scores.data(), moves.data(), count);
            SCOPED_TRACE("count " + std::to_string(count));
            EXPECT_TRUE(std::is_sorted(scores.begin(), scores.end(), std::greater<int>()));
            std::vector<std::pair<int, Move>> after;
            for (int i = 0; i < count; i++) after.push_back({scores[i], moves[i]});
            std::sort(pairs.begin(), pairs.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(after, pairs);
        }
    }
}

TEST(SortByScore, EqualAndOrderedListsStayPut) {
    // Elements move only past strictly lower scores.
    for (int count : {1, 2, 5, 9, 10, 23}) {
        std::vector<int> equal(count, 7), ordered(count);
        std::vector<Move> moves(count), moves2(count);
        for (int i = 0; i < count; i++) {
            moves[i] = moves2[i] = Move(100 + i);
            ordered[i] = 1000 - 3 * i;
        }
        std::vector<Move> original = moves;
        sort_by_score(equal.data(), moves.data(), count);
        EXPECT_EQ(moves, original) << count;
        sort_by_score(ordered.data(), moves2.data(), count);
        EXPECT_EQ(moves2, original) << count;
    }
    int one_score = -5;
    Move one = 0xABCD;
    sort_by_score(&one_score, &one, 1);
    EXPECT_EQ(one, 0xABCDu);
    EXPECT_EQ(one_score, -5);

    // Nine reversed elements: sorted by the small gaps alone.
    int scores[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Move list[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    sort_by_score(scores, list, 9);
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(scores[i], 9 - i);
        EXPECT_EQ(list[i], Move(9 - i));
    }
}

// ---- Moves of a "position" command -----------------------------------------------------

namespace {

struct ApplyCall {
    Position* pos;
    const char* text;
    PlyRecord* rec;
};

std::string apply_with_output(Position& pos, const char* text, PlyRecord* rec) {
    ApplyCall call{&pos, text, rec};
    return capture_output([](void* arg) {
        auto* c = static_cast<ApplyCall*>(arg);
        apply_move_list(*c->pos, c->text, c->rec);
    }, &call);
}

struct DiagramCall {
    const Position* pos;
    const PlyRecord* rec;
};

std::string diagram_of(const Position& pos, const PlyRecord* rec) {
    DiagramCall call{&pos, rec};
    return capture_output([](void* arg) {
        auto* c = static_cast<DiagramCall*>(arg);
        print_board(*c->pos, c->rec);
    }, &call);
}

}  // namespace

TEST(ApplyMoveList, FailingMovePrintsTheDiagramAndTheRestOfTheLine) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        const char* moves;
        int applied;
        const char* rest;
        const char* fen_after;
    };
    const Case cases[] = {
        {"blocked pawn", "e2e4 e7e5 e4e5 g1f3", 2, "e4e5 g1f3",
         "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 "},
        {"pinned knight", "d2d4 e7e6 b1c3 f8b4 c3e4 g8f6", 4, "c3e4 g8f6",
         "rnbqk1nr/pppp1ppp/4p3/8/1b1P4/2N5/PPP1PPPP/R1BQKBNR w KQkq - 2 3 "},
        {"castling through an attacked square", "e2e4 g8f6 g1f3 f6g4 f1c4 g4e3 e1g1", 6, "e1g1",
         "rnbqkb1r/pppppppp/8/8/2B1P3/4nN2/PPPP1PPP/RNBQK2R w KQkq - 5 4 "},
        {"king into check", "e2e4 e7e5 e1e2 d8g5 e2e3 b1c3", 4, "e2e3 b1c3",
         "rnb1kbnr/pppp1ppp/8/4p1q1/4P3/8/PPPPKPPP/RNBQ1BNR w kq - 2 3 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlyRecord* root = setup_position(START_FEN);
        std::string out = apply_with_output(pos, c.moves, root);
        EXPECT_EQ(pos.info.history_count, c.applied);
        EXPECT_EQ(position_to_fen(pos, root), c.fen_after);
        EXPECT_TRUE(board_is_consistent(pos, root));
        generate_moves(pos, root);  // the diagram shows the check state of the position
        std::string expected = "info string Can't understand move line\n" + diagram_of(pos, root) + c.rest + "\n";
        EXPECT_EQ(out, expected);
    }
}

TEST(ApplyMoveList, ExactDiagramOfAFailedLine) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position(START_FEN);
    std::string out = apply_with_output(pos, "e2e4 e7e5 e4e5", root);
    EXPECT_EQ(out,
              "info string Can't understand move line\n"
              "\nrnbqkbnr\npppp.ppp\n........\n....p...\n....P...\n........\nPPPP.PPP\nRNBQKBNR\n"
              "\ncastling: qkQK\n"
              "e4e5\n");
}

TEST(ApplyMoveList, BadTextEndsTheListSilently) {
    Position& pos = test_pos();
    const char* lines[] = {"e2e4 e9e5 g1f3", "e2e4 i7i5 g1f3", "e2e4 e7", "e2e4 x7e5", "e2e4 E7E5", "e2e4 0000"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        PlyRecord* root = setup_position(START_FEN);
        EXPECT_EQ(apply_with_output(pos, line, root), "");
        EXPECT_EQ(pos.info.history_count, 1);
        EXPECT_EQ(pos.board.mailbox[square("e4")], W_PAWN);
    }
}

TEST(ApplyMoveList, PromotionLetters) {
    Position& pos = test_pos();
    struct Case {
        const char* moves;
        int piece;
    };
    const Case cases[] = {{"a7a8n", W_KNIGHT}, {"a7a8b", W_BISHOP}, {"a7a8r", W_ROOK}, {"a7a8q", W_QUEEN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moves);
        PlyRecord* root = setup_position("4k3/P7/8/8/8/8/8/4K3 w - - 0 1");
        EXPECT_EQ(apply_with_output(pos, c.moves, root), "");
        EXPECT_EQ(pos.board.mailbox[square("a8")], c.piece);
        EXPECT_TRUE(board_is_consistent(pos, root));
    }
}

TEST(ApplyMoveList, GameHistoryEndRefusesFurtherMoves) {
    Position& pos = test_pos();
    const int limit = HISTORY_SIZE - HISTORY_SEARCH_RESERVE;
    std::string line;
    for (int i = 0; i < limit + 40; i += 4) line += "g1f3 g8f6 f3g1 f6g8 ";
    PlyRecord* root = setup_position(START_FEN);
    std::string out = apply_with_output(pos, line.c_str(), root);
    EXPECT_EQ(pos.info.history_count, limit);
    EXPECT_EQ(out.rfind("info string ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_TRUE(board_is_consistent(pos, root));

    out = apply_with_output(pos, "e2e4", root);
    EXPECT_EQ(pos.info.history_count, limit);
    EXPECT_EQ(out.rfind("info string ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

// ---- Position checks and the record ring ----------------------------------------------

TEST(PositionProblem, RejectsUnplayablePositions) {
    Position& pos = test_pos();
    struct Case {
        const char* fen;
        const char* problem;  // a word of the reason, "" when playable
    };
    const Case cases[] = {
        {START_FEN, ""},
        {"4k3/8/8/8/8/8/8/4r1K1 w - - 0 1", ""},  // the side to move may be in check
        {"4k3/8/8/8/PPPPPPP1/PPPPPPPP/8/4K3 w - - 0 1", ""},
        {"4k3/8/8/8/8/8/8/8 w - - 0 1", "king"},
        {"8/8/8/8/8/8/8/4K3 b - - 0 1", "king"},
        {"4k3/8/8/8/8/8/8/3KK3 w - - 0 1", "king"},
        {"4k3/8/8/8/PPPPPPPP/PPPPPPPP/8/4K3 w - - 0 1", "16"},
        {"4k3/pppppppp/pppppppp/p7/8/8/8/4K3 b - - 0 1", "16"},
        {"4k3/8/8/8/8/8/8/4R1K1 w - - 0 1", "check"},
        {"4k3/8/8/8/8/8/3p4/4K3 b - - 0 1", "check"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        setup_position(c.fen);
        std::string problem = position_problem(pos.board);
        if (!*c.problem)
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

TEST(PositionStack, RingOfRecords) {
    PlyRecord* root = setup_position(START_FEN);
    Position& pos = test_pos();
    // The game starts in the first record; the last one links back to it.
    EXPECT_EQ(root, &pos.records[0]);
    EXPECT_EQ(root_record(pos), &pos.records[0]);
    EXPECT_EQ(pos.records[STACK_SIZE - 1].next, &pos.records[0]);
    PlyRecord* r = &pos.records[0];
    for (int i = 0; i < STACK_SIZE; i++) {
        EXPECT_EQ(r, &pos.records[i]);
        r = r->next;
    }
    EXPECT_EQ(r, &pos.records[0]);
}

// ---- Perft -------------------------------------------------------------------------------

namespace {

struct DivideCall {
    Position* pos;
    int depth;
    PlyRecord* rec;
    uint64_t result;
};

std::string divide_output(DivideCall& call) {
    return capture_output([](void* arg) {
        auto* c = static_cast<DivideCall*>(arg);
        c->result = perft_divide(*c->pos, c->depth, c->rec);
    }, &call);
}

const std::regex TIME_LINES(" Generate time: (less than 1/1000 of second\n|[0-9]+\\.[0-9]{3} second\\(s\\)\n [0-9 ]*[0-9]+\\.[0-9]{3} knps\n\n)");

}  // namespace

TEST(PerftDivide, StartPositionDepthOne) {
    Position& pos = test_pos();
    PlyRecord* root = setup_position(START_FEN);
    DivideCall call{&pos, 1, root, 0};
    std::string out = divide_output(call);
    EXPECT_EQ(call.result, 20u);
    std::string expected =
        "\nrnbqkbnr\npppppppp\n........\n........\n........\n........\nPPPPPPPP\nRNBQKBNR\n"
        "\ncastling: qkQK\n\n"
        " Nb1a3  - 1\n Nb1c3  - 1\n Ng1f3  - 1\n Ng1h3  - 1\n";
    for (char f = 'a'; f <= 'h'; f++) expected += std::string(" P") + f + "2" + f + "3  - 1\n";
    for (char f = 'a'; f <= 'h'; f++) expected += std::string(" P") + f + "2" + f + "4  - 1\n";
    expected += "\n Totally 20 nodes\n";
    ASSERT_EQ(out.substr(0, expected.size()), expected);
    std::string tail = out.substr(expected.size());
    EXPECT_TRUE(std::regex_match(tail, TIME_LINES)) << tail;
    EXPECT_TRUE(board_is_consistent(pos, root));
}

TEST(PerftDivide, CaptureAndEnPassantLines) {
    Position& pos = test_pos();
    struct Case {
        const char* fen;
        const char* present;
        const char* absent;  // a refused move prints no line
    };
    const Case cases[] = {
        {"4k3/8/8/2pP4/8/8/8/4K3 w - c6 0 1", " Pd5d6  - 1\n Pd5xc6 ep - 1\n", "Pd5c6"},
        {"4k3/8/8/8/8/8/8/3rK3 w - - 0 1", " Ke1xd1 - 1\n", "Ke1d1"},
        {"4k3/8/8/2pP4/8/8/8/4K2r w - c6 0 1", " Ke1d2  - 1\n Ke1e2  - 1\n Ke1f2  - 1\n\n Totally 3 nodes\n", "xc6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        PlyRecord* root = setup_position(c.fen);
        DivideCall call{&pos, 1, root, 0};
        std::string out = divide_output(call);
        EXPECT_NE(out.find(c.present), std::string::npos) << out;
        EXPECT_EQ(out.find(c.absent), std::string::npos) << out;
    }
}

TEST(PerftDivide, NoLegalMoveGivesZero) {
    Position& pos = test_pos();
    struct Case {
        const char* name;
        const char* fen;
        bool generated;  // pseudo-legal moves exist, so the total line is printed
    };
    const Case cases[] = {
        {"mated", "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", true},
        {"stalemated", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", true},
        {"smothered, nothing generated", "6rk/5Npp/8/8/8/8/8/6K1 b - - 0 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlyRecord* root = setup_position(c.fen);
        std::string diagram = diagram_of(pos, root) + "\n";
        DivideCall call{&pos, 1, root, 99};
        std::string out = divide_output(call);
        EXPECT_EQ(call.result, 0u);
        ASSERT_EQ(out.substr(0, diagram.size()), diagram);
        std::string tail = out.substr(diagram.size());
        if (c.generated) {
            std::string total = "\n Totally 0 nodes\n";
            ASSERT_EQ(tail.substr(0, total.size()), total);
            EXPECT_TRUE(std::regex_match(tail.substr(total.size()), TIME_LINES)) << tail;
        } else {
            EXPECT_EQ(tail, "");
        }
    }
}

TEST(Perft, ShallowTable) {
    Position& pos = test_pos();
    std::vector<PerftCase> cases = load_perft_table();
    ASSERT_GE(cases.size(), 8u);
    for (const PerftCase& c : cases) {
        SCOPED_TRACE(c.name + ": " + c.fen);
        ASSERT_FALSE(c.nodes.empty());
        PlyRecord* root = setup_position(c.fen.c_str());
        for (int depth = 1; depth <= 3 && depth <= int(c.nodes.size()); depth++)
            EXPECT_EQ(perft_count(pos, depth, root), c.nodes[depth - 1]) << "depth " << depth;
        EXPECT_TRUE(board_is_consistent(pos, root));
    }
}

TEST(Perft, ShallowChess960Table) {
    Position& pos = test_pos();
    for (const PerftCase& c : load_perft960_table()) {
        SCOPED_TRACE(c.name + ": " + c.fen);
        ASSERT_FALSE(c.nodes.empty());
        PlyRecord* root = setup_position(c.fen.c_str(), true);
        for (int depth = 1; depth <= 3 && depth <= int(c.nodes.size()); depth++)
            EXPECT_EQ(perft_count(pos, depth, root), c.nodes[depth - 1]) << "depth " << depth;
        EXPECT_TRUE(board_is_consistent(pos, root));
    }
}

// The leaf count of perft, from attack sets alone, against making every
// generated move: at each node two plies deep from every table position
// (standard and Chess960), in check or not, with pins, en passant and castling.
namespace {
void compare_leaf_counts(Position& pos, PlyRecord* rec, int depth, const std::string& where) {
    int fast = count_legal_moves_fast(pos, rec);
    int made = 0;
    generate_moves(pos, rec);
    for (int i = 0; i < rec->move_count; i++)
        if (make_move(pos, i, rec, rec->next)) {
            made++;
            if (depth > 1) compare_leaf_counts(pos, rec->next, depth - 1, where);
            unmake_move(pos, i, rec);
        }
    ASSERT_EQ(fast, made) << where << " at " << position_to_fen(pos, rec);
}
}  // namespace

TEST(Perft, LeafCountMatchesMadeMoves) {
    Position& pos = test_pos();
    for (bool chess960 : {false, true})
        for (const PerftCase& c : chess960 ? load_perft960_table() : load_perft_table()) {
            PlyRecord* root = setup_position(c.fen.c_str(), chess960);
            compare_leaf_counts(pos, root, 2, c.name);
            EXPECT_TRUE(board_is_consistent(pos, root)) << c.name;
        }
    // A set-up position that no game reaches: two pawns give check at once,
    // so only the king may move (found by the fen fuzz target).
    PlyRecord* root = setup_position("rnbqkb1n/pppppppp/1RNBQKBN/8/8/8/8/8 w q - 0 1");
    compare_leaf_counts(pos, root, 1, "double pawn check");
}

// The key guessed before a move is made, for the early hash fetch: the key
// the move makes for every plain move and capture (castling rights lost
// included) of the table positions and their children, standard and Chess960.
namespace {
void compare_keys_after(Position& pos, PlyRecord* rec, int depth, int& exact) {
    generate_moves(pos, rec);
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        const U64 guess = key_after(pos, rec, m);
        const bool plain = (m & (MOVE_CASTLE | MOVE_PROMOTION | MOVE_EN_PASSANT | MOVE_DOUBLE_STEP)) == 0;
        if (!make_move(pos, i, rec, rec->next)) continue;
        if (plain) {
            EXPECT_EQ(guess, rec->next->key) << move_to_text(pos, m);
            exact++;
        }
        if (depth > 1) {
            update_check_info(pos, rec->next);
            compare_keys_after(pos, rec->next, depth - 1, exact);
        }
        unmake_move(pos, i, rec);
    }
}
}  // namespace

TEST(Perft, KeyGuessedBeforeAMoveIsTheKeyItMakes) {
    Position& pos = test_pos();
    for (bool chess960 : {false, true}) {
        for (const PerftCase& c : chess960 ? load_perft960_table() : load_perft_table()) {
            SCOPED_TRACE(c.name + ": " + c.fen);
            PlyRecord* root = setup_position(c.fen.c_str(), chess960);
            int exact = 0;
            compare_keys_after(pos, root, 2, exact);
            EXPECT_GT(exact, 0);
        }
    }
}
