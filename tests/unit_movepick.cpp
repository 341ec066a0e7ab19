// Move ordering: the bands (hash move, good captures by victim and attacker,
// killers, counter move, quiet moves by history, losing captures), the
// history and killer updates, and their ageing between searches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movegen.h"
#include "movepick.h"
#include "search.h"
#include "test_support.h"

namespace {

int square(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

// The tables the tests fill: history and counter moves, and the killers of
// every ply as the search's stack keeps them.
MoveHistory ordering;
Move killers[STACK_SIZE][2];

PlyRecord* prepare(const char* fen) {
    PlyRecord* root = setup_position(fen);
    clear_move_ordering(ordering);
    memset(killers, 0, sizeof killers);
    generate_moves(test_pos(), root);
    return root;
}

Move find_move(const PlyRecord* rec, const std::string& text) {
    for (int i = 0; i < rec->move_count; i++) {
        std::string t = move_to_text(test_pos(), rec->moves[i]);
        if (t == text || (text.size() == 4 && t == text + "q")) return rec->moves[i];
    }
    return 0;
}

// The moves' texts in the order the picker hands them out.
std::vector<std::string> picked_order(PlyRecord* rec, Move hash_move, int ply = 0, Move previous = 0) {
    int scores[MAX_MOVES];
    score_moves(test_pos().board, ordering, rec, scores, hash_move, killers[ply], previous);
    std::vector<std::string> order;
    for (int i = 0; i < rec->move_count; i++) {
        pick_move(rec, scores, i);
        order.push_back(move_to_text(test_pos(), rec->moves[i]));
    }
    return order;
}

int position_of(const std::vector<std::string>& order, const std::string& text) {
    for (size_t i = 0; i < order.size(); i++)
        if (order[i] == text || order[i] == text + "q") return int(i);
    return -1;
}

}  // namespace

TEST(Ordering, BandsFromHashMoveToLosingCaptures) {
    // b7b8 promotes; Nf6xd7 wins an undefended rook; Nf6xh7 and Qd1xd6 lose
    // material; the rest are quiet. g1h1 is the hash move, g1g2 a killer,
    // g1f2 the counter move, g1f1 has history.
    PlyRecord* root = prepare("7k/1P1r3p/3p1N2/8/8/8/8/3Q2K1 w - - 0 1");
    Move previous = make_move_word(square("h7"), square("h6"), B_PAWN, 0);
    killers[3][0] = find_move(root, "g1g2");
    ordering.counter_moves[B_PAWN][square("h6")] = find_move(root, "g1f2");
    ordering.history[WHITE][square("g1")][square("f1")] = 5000;
    std::vector<std::string> order = picked_order(root, find_move(root, "g1h1"), 3, previous);
    ASSERT_GE(order.size(), 12u);
    EXPECT_EQ(order[0], "g1h1");
    EXPECT_EQ(order[1], "b7b8q");  // promotion to a queen counts as winning one
    EXPECT_EQ(order[2], "f6d7");
    EXPECT_EQ(order[3], "g1g2");
    EXPECT_EQ(order[4], "g1f2");
    EXPECT_EQ(order[5], "g1f1");
    // Losing captures and under-promotions come last.
    int first_bad = position_of(order, "f6h7");
    EXPECT_GT(first_bad, position_of(order, "d1a4"));
    EXPECT_GT(position_of(order, "d1d6"), position_of(order, "d1a4"));
    EXPECT_GT(position_of(order, "b7b8n"), position_of(order, "d1a4"));
}

TEST(Ordering, CapturesByVictimThenAttacker) {
    // The queen on d5 can be taken by the pawn and the rook; the rook on a5
    // by the knight: queen first, by the pawn before the rook.
    PlyRecord* root = prepare("4k3/8/8/r2q4/2P5/1N6/8/3RK3 w - - 0 1");
    std::vector<std::string> order = picked_order(root, 0);
    EXPECT_EQ(order[0], "c4d5");
    EXPECT_EQ(order[1], "d1d5");
    EXPECT_EQ(order[2], "b3a5");
}

TEST(Ordering, CutoffRewardsTheMoveAndPunishesTheOthers) {
    PlyRecord* root = prepare(START_FEN);
    Move best = find_move(root, "g1f3"), tried[2] = {find_move(root, "a2a3"), find_move(root, "g1f3")};
    Move previous = make_move_word(square("e7"), square("e5"), B_PAWN, MOVE_DOUBLE_STEP);
    update_quiet_stats(ordering, killers[4], best, tried, 2, 5, previous);
    EXPECT_GT(ordering.history[WHITE][square("g1")][square("f3")], 0);
    EXPECT_LT(ordering.history[WHITE][square("a2")][square("a3")], 0);
    EXPECT_EQ(killers[4][0], best);
    EXPECT_EQ(ordering.counter_moves[B_PAWN][square("e5")], best);
    // A second killer pushes the first one down; the same one twice does not.
    Move other = find_move(root, "b1c3");
    update_quiet_stats(ordering, killers[4], other, nullptr, 0, 5, 0);
    update_quiet_stats(ordering, killers[4], other, nullptr, 0, 5, 0);
    EXPECT_EQ(killers[4][0], other);
    EXPECT_EQ(killers[4][1], best);
}

// Between searches: the search thread's history ages, its killers are gone.
TEST(Ordering, HistoryStaysBoundedAndAges) {
    PlyRecord* root = prepare(START_FEN);
    SearchThread& t = search_prepare(test_pool(), default_limits(), test_pos());
    clear_move_ordering(t.ordering);
    Move m = find_move(root, "e2e4");
    for (int i = 0; i < 10000; i++) update_quiet_stats(t.ordering, stack_at(t, 1)->killers, m, nullptr, 0, 40, 0);
    int h = t.ordering.history[WHITE][square("e2")][square("e4")];
    EXPECT_GT(h, 0);
    EXPECT_LE(h, 16384);
    ASSERT_EQ(stack_at(t, 1)->killers[0], m);
    search_prepare(test_pool(), default_limits(), test_pos());  // the next search
    EXPECT_EQ(t.ordering.history[WHITE][square("e2")][square("e4")], h / 2);
    EXPECT_EQ(stack_at(t, 1)->killers[0], 0u);
}
