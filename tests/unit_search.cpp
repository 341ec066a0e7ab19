// Search internals: the transposition table (sizes, mate-score adjustment,
// the depth and generation rules, replacement), static exchange as move
// ordering sees it, the ordering bands, quiescence and alpha-beta at their
// terminal nodes, and whole searches through think() with their output.
//
// Searches here stay tiny. Once a search passes 16384 nodes it polls the
// clock and standard input at every node, so standard input is replaced by a
// pipe nobody writes to (an empty, still open input: no command arrives, and
// no end of input makes the search quit), and the clock limits are switched off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "attacks.h"
#include "eval.h"
#include "movegen.h"
#include "search.h"
#include "test_support.h"

namespace {

constexpr int square(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

// Standard input becomes an open pipe that never delivers a byte.
void silence_standard_input() {
    static bool done = false;
    if (done) return;
    done = true;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    close(fds[0]);
    // fds[1] stays open for the life of the process: the pipe never ends.
}

// A position ready to be searched from ply 0, with clean search tables.
PlyRecord* prepare(const char* fen) {
    silence_standard_input();
    PlyRecord* root = setup_position(fen);
    reset_search_state();
    search_info.use_clock = 0;
    search_info.state = SEARCH_RUNNING;
    search_info.ply = 0;
    hash_clear();
    memset(history, 0, sizeof history);
    memset(killers, 0, sizeof killers);
    return root;
}

// The generated move with this coordinate text (promotions to a queen when
// the text has no letter), 0 when there is none.
Move find_move(PlyRecord* rec, const std::string& text) {
    for (int i = 0; i < rec->move_count; i++) {
        std::string t = move_to_text(rec->moves[i]);
        if (t == text || (text.size() == 4 && t == text + "q")) return rec->moves[i];
    }
    return 0;
}

int index_of(const PlyRecord* rec, Move m) {
    for (int i = 0; i < rec->move_count; i++)
        if (rec->moves[i] == m) return i;
    return -1;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct ThinkCall {
    int max_depth;
    PlyRecord* root;
};

std::string think_output(const char* fen, int max_depth) {
    ThinkCall call{max_depth, prepare(fen)};
    return capture_output([](void* arg) {
        auto* c = static_cast<ThinkCall*>(arg);
        think(c->max_depth, c->root);
    }, &call);
}

const char* const MATE_IN_TWO = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1";
// The same game after 1. Nf6+: Black's only move is gxf6, and Bxf7 mates.
const char* const ONLY_REPLY = "r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq - 2 1";
// Black has three knight moves, and after each Rc8 mates.
const char* const MATED_NEXT_MOVE = "k7/P7/1K6/8/8/8/7n/2R5 b - - 0 1";
// After 1. f3 e5 2. g4 Qh4: White is checkmated.
const char* const FOOLS_MATE = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
const char* const STALEMATE = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1";

}  // namespace

// ---- Transposition table -----------------------------------------------------------

TEST(HashTable, EntryCountIsTheLargestPowerOfTwoThatFits) {
    struct Case {
        int megabytes;
        size_t entries;
    };
    const Case cases[] = {{1, 32768}, {2, 65536}, {3, 131072}, {5, 262144}, {128, 4194304}, {512, 16777216}};
    for (const Case& c : cases) EXPECT_EQ(hash_entry_count(c.megabytes), c.entries) << c.megabytes << " MB";
}

TEST(HashTable, AllocateGivesAClearedTableOfThatSize) {
    setup_position(START_FEN);
    ASSERT_TRUE(hash_allocate(3));
    EXPECT_EQ(hash_table.count, 131072u);
    bool all_zero = true;
    for (size_t i = 0; i < hash_table.count; i++) {
        const HashEntry& e = hash_table.entries[i];
        if (e.key_low || e.key_high || e.generation || e.move || e.bound || e.depth || e.score) all_zero = false;
    }
    EXPECT_TRUE(all_zero);
    ASSERT_TRUE(hash_allocate(1));
    EXPECT_EQ(hash_table.count, 32768u);
}

// Mate scores are kept as distances from the stored node; a probe nearer the
// root turns them back into distances from its own ply.
TEST(HashTable, MateScoresMoveWithThePly) {
    struct Case {
        int stored;
        int probed;
    };
    const Case cases[] = {
        {MATE - 10, MATE - 10 + 2},      // winning: the mate is two plies nearer
        {-(MATE - 10), -(MATE - 10) - 2}, // losing: likewise, from the other side
        {MATE_BOUND, MATE_BOUND},         // ordinary scores are kept as they are
        {-MATE_BOUND, -MATE_BOUND},
        {123, 123},
        {0, 0},
    };
    for (const Case& c : cases) {
        PlyRecord* root = prepare(START_FEN);
        search_info.ply = 5;
        hash_store(0, c.stored, HASH_EXACT, 6, root);
        search_info.ply = 3;
        int alpha = -MATE, beta = MATE;
        Move m = 1;
        hash_probe(beta, alpha, m, 2, root);
        EXPECT_EQ(alpha, c.probed) << c.stored;
        EXPECT_EQ(beta, c.probed) << c.stored;
    }
}

TEST(HashTable, ProbeUsesTheScoreOnlyOfDeeperEntriesOfThisSearch) {
    PlyRecord* root = prepare(START_FEN);
    generate_moves(root);
    Move e2e4 = find_move(root, "e2e4");
    ASSERT_NE(e2e4, 0u);
    hash_store(e2e4, 50, HASH_EXACT, 4, root);

    struct Case {
        int depth;
        int generation_step;
        bool window_changes;
    };
    const Case cases[] = {{4, 0, false}, {5, 0, false}, {3, 0, true}, {0, 0, true}, {3, 1, false}};
    for (const Case& c : cases) {
        hash_generation += c.generation_step;
        int alpha = -100, beta = 100;
        Move m = 0;
        hash_probe(beta, alpha, m, c.depth, root);
        hash_generation -= c.generation_step;
        // The move is offered whatever the depth or the search that stored it.
        EXPECT_EQ(m, e2e4) << "depth " << c.depth;
        EXPECT_EQ(alpha, c.window_changes ? 50 : -100) << "depth " << c.depth << " step " << c.generation_step;
        EXPECT_EQ(beta, c.window_changes ? 50 : 100) << "depth " << c.depth << " step " << c.generation_step;
    }
}

TEST(HashTable, BoundsNarrowOneSideOfTheWindow) {
    struct Case {
        int bound;
        int score;
        int alpha_after;
        int beta_after;
    };
    const Case cases[] = {
        {HASH_UPPER, 30, -100, 30},   // score <= 30
        {HASH_UPPER, 200, -100, 100}, // an upper bound above beta says nothing
        {HASH_LOWER, 30, 30, 100},    // score >= 30
        {HASH_LOWER, -200, -100, 100},
        {HASH_EXACT, 30, 30, 30},
    };
    for (const Case& c : cases) {
        PlyRecord* root = prepare(START_FEN);
        hash_store(0, c.score, c.bound, 6, root);
        int alpha = -100, beta = 100;
        Move m = 0;
        hash_probe(beta, alpha, m, 3, root);
        EXPECT_EQ(alpha, c.alpha_after) << "bound " << c.bound << " score " << c.score;
        EXPECT_EQ(beta, c.beta_after) << "bound " << c.bound << " score " << c.score;
    }
}

TEST(HashTable, OtherPositionsFindNoMove) {
    PlyRecord* root = prepare(START_FEN);
    generate_moves(root);
    hash_store(find_move(root, "g1f3"), 10, HASH_EXACT, 8, root);
    // Same slot or not, a different key must not be taken for this one.
    root = setup_position("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
    int alpha = -100, beta = 100;
    Move m = 12345;
    hash_probe(beta, alpha, m, 1, root);
    EXPECT_EQ(m, 0u);
    EXPECT_EQ(alpha, -100);
    EXPECT_EQ(beta, 100);
    EXPECT_EQ(hash_lookup(root), nullptr);
}

TEST(HashTable, ShallowerStoreOfTheSameSearchKeepsTheDeeperEntry) {
    PlyRecord* root = prepare(START_FEN);
    generate_moves(root);
    Move deep_move = find_move(root, "e2e4"), shallow_move = find_move(root, "d2d4");

    hash_store(deep_move, 40, HASH_EXACT, 6, root);
    hash_store(shallow_move, -5, HASH_LOWER, 2, root);
    const HashEntry* e = hash_lookup(root);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->move, deep_move);
    EXPECT_EQ(e->depth, 6);
    EXPECT_EQ(e->score, 40);

    // Equal depth replaces (only a deeper entry is kept).
    hash_store(shallow_move, -5, HASH_LOWER, 6, root);
    EXPECT_EQ(hash_lookup(root)->move, shallow_move);

    // An entry of an earlier search gives way even to a shallower one.
    hash_store(deep_move, 40, HASH_EXACT, 9, root);
    hash_generation++;
    hash_store(shallow_move, 7, HASH_UPPER, 1, root);
    e = hash_lookup(root);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->move, shallow_move);
    EXPECT_EQ(e->depth, 1);
    EXPECT_EQ(e->score, 7);
    EXPECT_EQ(e->bound, HASH_UPPER);
    EXPECT_EQ(e->generation, hash_generation);
}

// ---- Static exchange, as the ordering uses it -----------------------------------------

TEST(Ordering, ExchangeValuesOfCaptures) {
    struct Case {
        const char* fen;
        const char* move;
        int value;
    };
    const Case cases[] = {
        {"4k3/8/8/3n4/8/8/8/3RK3 w - - 0 1", "d1d5", 325},            // undefended knight
        {"4k3/8/2p5/3n4/4P3/8/8/4K3 w - - 0 1", "e4d5", 325},         // pawn takes a defended knight
        {"4k3/8/4p3/3p4/8/8/8/3QK3 w - - 0 1", "d1d5", 100 - 975},    // queen takes a defended pawn
        {"4k3/8/2p5/3n4/8/2N5/8/4K3 w - - 0 1", "c3d5", 0},           // knight for knight
        {"3r2k1/8/8/3n4/8/8/3R4/3RK3 w - - 0 1", "d2d5", 325},        // the rook behind joins in
        {"3r2k1/8/8/3n4/8/8/3R4/4K3 w - - 0 1", "d2d5", 325 - 500},   // ... and without it
    };
    for (const Case& c : cases) {
        PlyRecord* root = prepare(c.fen);
        generate_moves(root);
        Move m = find_move(root, c.move);
        ASSERT_NE(m, 0u) << c.fen;
        ASSERT_TRUE(m & MOVE_CAPTURE) << c.fen;
        EXPECT_EQ(see(m), c.value) << c.fen << " " << c.move;
    }
}

// ---- Move ordering -----------------------------------------------------------------

TEST(Ordering, HashMoveOfThisSearchComesFirst) {
    PlyRecord* root = prepare(START_FEN);
    generate_moves(root);
    Move a2a3 = find_move(root, "a2a3");
    ASSERT_NE(a2a3, 0u);
    hash_store(a2a3, 0, HASH_EXACT, 3, root);
    order_moves(root);
    EXPECT_EQ(root->moves[0], a2a3);

    // An entry left by an earlier search gives no hash move.
    generate_moves(root);
    hash_generation++;
    order_moves(root);
    EXPECT_NE(root->moves[0], a2a3);
    // a2a3 attacks nothing and has no history: nothing sorts below it but
    // other such moves.
    EXPECT_GT(index_of(root, a2a3), 0);
}

TEST(Ordering, HashMoveBeatsPromotionsAndWinningCaptures) {
    // Nxd8 wins a queen; b7b8 promotes; the hash move is the quiet Kg1-h1.
    PlyRecord* root = prepare("3q3k/1P6/4N3/8/8/8/8/6K1 w - - 0 1");
    generate_moves(root);
    Move quiet = find_move(root, "g1h1");
    ASSERT_NE(quiet, 0u);
    hash_store(quiet, 0, HASH_LOWER, 2, root);
    order_moves(root);
    EXPECT_EQ(root->moves[0], quiet);
}

TEST(Ordering, BandsPromotionsThenWinningCapturesThenQuietThenLosingCaptures) {
    // b7b8 promotes (four moves); Nf6xd7 wins an undefended rook; Nf6xh7 and
    // Qd1xd6 lose material (the pawns are defended); the rest are quiet.
    PlyRecord* root = prepare("7k/1P1r3p/3p1N2/8/8/8/8/3Q2K1 w - - 0 1");
    // A well-tried quiet move still ranks below a winning capture.
    history[square("g1")][square("h1")] = 20000;
    generate_moves(root);
    order_moves(root);
    std::vector<std::string> order;
    for (int i = 0; i < root->move_count; i++) order.push_back(move_to_text(root->moves[i]));
    ASSERT_GE(order.size(), 8u);
    for (int i = 0; i < 4; i++) EXPECT_EQ(order[i].substr(0, 4), "b7b8") << i;
    EXPECT_EQ(order[4], "f6d7");
    EXPECT_EQ(order[5], "g1h1");
    Move losing_queen = find_move(root, "d1d6");
    Move losing_knight = find_move(root, "f6h7");
    ASSERT_NE(losing_queen, 0u);
    ASSERT_NE(losing_knight, 0u);
    ASSERT_LT(see(losing_queen), 0);
    ASSERT_LT(see(losing_knight), 0);
    // Losing captures sink below every quiet move (all histories are 0 here);
    // the queen loses more, so it sorts last.
    int n = root->move_count;
    EXPECT_EQ(root->moves[n - 1], losing_queen);
    EXPECT_EQ(root->moves[n - 2], losing_knight);
}

// A losing capture is pushed down by more than any history can grow, so
// every quiet move goes first; a capture that breaks even keeps its history.
TEST(Ordering, LosingCapturesSinkBelowEveryQuietMove) {
    PlyRecord* root = prepare("4k3/2p5/3p4/8/8/8/8/3QK3 w - - 0 1");
    generate_moves(root);
    Move losing = find_move(root, "d1d6"), quiet = find_move(root, "e1f1");
    ASSERT_NE(losing, 0u);
    ASSERT_NE(quiet, 0u);
    ASSERT_EQ(see(losing), 100 - 975);
    // Even the largest history a move can hold does not lift it.
    history[square("d1")][square("d6")] = 59999;
    order_moves(root);
    EXPECT_EQ(root->moves[root->move_count - 1], losing);
    EXPECT_LT(index_of(root, quiet), index_of(root, losing));

    // History ranks quiet moves among themselves.
    generate_moves(root);
    history[square("e1")][square("d2")] = 501;
    history[square("e1")][square("f1")] = 500;
    order_moves(root);
    EXPECT_LT(index_of(root, find_move(root, "e1d2")), index_of(root, find_move(root, "e1f1")));
}

TEST(Ordering, EvenCaptureKeepsJustItsHistory) {
    // Nc3xe4 trades knights (f5xe4 recaptures): no band, just the history.
    PlyRecord* root = prepare("4k3/8/8/5p2/4n3/2N5/8/4K3 w - - 0 1");
    generate_moves(root);
    Move even = find_move(root, "c3e4"), quiet = find_move(root, "e1f1");
    ASSERT_NE(even, 0u);
    ASSERT_EQ(see(even), 0);
    history[square("e1")][square("f1")] = 100;
    history[square("c3")][square("e4")] = 99;
    order_moves(root);
    EXPECT_LT(index_of(root, quiet), index_of(root, even));
    generate_moves(root);
    history[square("c3")][square("e4")] = 101;
    order_moves(root);
    EXPECT_LT(index_of(root, even), index_of(root, quiet));
}

// One attacked pawn is worth 3 + 8 history points.
TEST(Ordering, ThreatBonusAgainstHistory) {
    struct Case {
        int history_of_quiet_move;
        bool attacker_first;
    };
    const Case cases[] = {{0, true}, {10, true}, {12, false}};
    for (const Case& c : cases) {
        PlyRecord* root = prepare("4k3/8/8/3p4/8/8/8/1N2K3 w - - 0 1");
        generate_moves(root);
        Move attacker = find_move(root, "b1c3"), idle = find_move(root, "b1a3");
        history[square("b1")][square("a3")] = c.history_of_quiet_move;
        order_moves(root);
        EXPECT_EQ(index_of(root, attacker) < index_of(root, idle), c.attacker_first) << c.history_of_quiet_move;
    }
}

TEST(Ordering, QuietMovesThatAttackSortAboveThoseThatDoNot) {
    struct Case {
        const char* fen;
        const char* earlier;
        const char* later;
    };
    const Case cases[] = {
        // Nc3 attacks the d5 pawn, Na3 and Nd2 attack nothing.
        {"4k3/8/8/3p4/8/8/8/1N2K3 w - - 0 1", "b1c3", "b1a3"},
        {"4k3/8/8/3p4/8/8/8/1N2K3 w - - 0 1", "b1c3", "b1d2"},
        // Attacking a queen is worth more than attacking a pawn.
        {"4k3/8/8/3p4/2q5/8/8/1N2K3 w - - 0 1", "b1a3", "b1c3"},
        // Rd1-d4 hits the rook on a4; Rd1-d2 hits nothing.
        {"4k3/8/8/8/r7/8/8/3RK3 w - - 0 1", "d1d4", "d1d2"},
        // Pawn steps that attack a knight, for either colour.
        {"4k3/8/8/3n4/8/4P3/8/4K3 w - - 0 1", "e3e4", "e1d1"},
        {"4k3/3p4/8/2N5/8/8/8/4K3 b - - 0 1", "d7d6", "d7d5"},
    };
    for (const Case& c : cases) {
        PlyRecord* root = prepare(c.fen);
        generate_moves(root);
        Move earlier = find_move(root, c.earlier), later = find_move(root, c.later);
        ASSERT_NE(earlier, 0u) << c.fen << " " << c.earlier;
        ASSERT_NE(later, 0u) << c.fen << " " << c.later;
        order_moves(root);
        EXPECT_LT(index_of(root, earlier), index_of(root, later)) << c.fen << " " << c.earlier << " " << c.later;
    }
}

// ---- Terminal nodes of quiescence and alpha-beta -----------------------------------------

TEST(Search, CheckmateScoresThePlyFromTheMatedSide) {
    PlyRecord* root = prepare(FOOLS_MATE);
    search_info.ply = 3;
    EXPECT_EQ(quiesce(-MATE, MATE, root), 3 - MATE);
    for (int depth = 1; depth <= 3; depth++) {
        search_info.ply = 3;
        EXPECT_EQ(search(-MATE, MATE, depth, root), 3 - MATE) << depth;
        EXPECT_EQ(search_info.ply, 3);
    }
}

TEST(Search, StalemateIsADraw) {
    for (int depth = 1; depth <= 3; depth++) {
        PlyRecord* root = prepare(STALEMATE);
        search_info.ply = 2;
        EXPECT_EQ(search(-MATE, MATE, depth, root), 0) << depth;
        EXPECT_EQ(search(-100, 100, depth, root), 0) << depth;
    }
}

TEST(Search, QuiescenceResolvesCapturesBeforeTrustingTheEvaluation) {
    // Black's queen hangs to the rook: a quiet evaluation would not see it.
    PlyRecord* root = prepare("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
    int stand_pat = evaluate(root);
    int score = quiesce(-MATE, MATE, root);
    EXPECT_GT(score, stand_pat + 800);
}

TEST(Search, QuiescenceStandsPatFailSoft) {
    // Nothing to capture: the evaluation itself comes back, inside or
    // beyond the window.
    PlyRecord* root = prepare("4k3/pppp4/8/8/8/8/4PPPP/4K3 w - - 0 1");
    int stand_pat = evaluate(root);
    EXPECT_EQ(quiesce(-MATE, MATE, root), stand_pat);
    EXPECT_EQ(quiesce(stand_pat - 300, stand_pat - 200, root), stand_pat);
    EXPECT_EQ(quiesce(stand_pat + 200, stand_pat + 300, root), stand_pat);
}

TEST(Search, SearchLeavesTheBoardAsItFoundIt) {
    const char* fens[] = {START_FEN, MATE_IN_TWO, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"};
    for (const char* fen : fens) {
        PlyRecord* root = prepare(fen);
        std::string before = position_to_fen(root);
        U64 key = root->key;
        search(-MATE, MATE, 2, root);
        EXPECT_EQ(position_to_fen(root), before);
        EXPECT_EQ(root->key, key);
        EXPECT_EQ(search_info.ply, 0);
        EXPECT_TRUE(board_is_consistent(root)) << fen;
    }
}

// Nodes live in the record of their ply and the search stops deepening past
// ply MAX_PLY + 1, so a search started from the first record never comes
// round the ring to it again.
TEST(Search, DeepestPlyStaysClearOfTheRoot) {
    PlyRecord* root = prepare("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    ASSERT_GT(STACK_SIZE, MAX_PLY + 1);
    PlyRecord* r = &position_stack[0];
    for (int ply = 1; ply <= MAX_PLY + 1; ply++) {
        r = r->next;
        ASSERT_NE(r, &position_stack[0]) << ply;
    }
    // A search started just short of the ply limit: its quiescence runs into
    // the limit and falls back on the evaluation, a score no mate.
    std::string before = position_to_fen(root);
    search_info.ply = MAX_PLY - 3;
    int score = search(-MATE, MATE, 2, root);
    EXPECT_GT(score, -MATE_BOUND);
    EXPECT_LT(score, MATE_BOUND);
    EXPECT_EQ(search_info.ply, MAX_PLY - 3);
    EXPECT_EQ(position_to_fen(root), before);
    EXPECT_TRUE(board_is_consistent(root));
}

// ---- Whole searches and their output -------------------------------------------------

TEST(Think, FindsMateInTwo) {
    std::string out = think_output(MATE_IN_TWO, 4);
    EXPECT_NE(out.find("score mate 2 "), std::string::npos) << out;
    EXPECT_NE(out.find("bestmove d5f6 \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("score mate -"), std::string::npos) << out;
}

TEST(Think, AMateStopsTheDeepening) {
    std::string out = think_output(MATE_IN_TWO, 7);
    EXPECT_NE(out.find("bestmove d5f6 \n"), std::string::npos) << out;
    // Quiescence sees the mate from iteration 2 on (the mating move is a capture).
    EXPECT_EQ(out.find("info depth 4"), std::string::npos) << out;
}

TEST(Think, MatedOnTheOpponentsNextMoveIsMateMinusOne) {
    // Black's king is held by the pawn and the king: only the knight moves,
    // and it cannot stop Rc8. Black has no rook or second minor piece, so the
    // search never passes for Black: whatever it plays, the mate is found.
    std::string out = think_output(MATED_NEXT_MOVE, 6);
    EXPECT_NE(out.find("score mate -1 "), std::string::npos) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("bestmove (h2f1|h2f3|h2g4) \n"))) << out;
}

TEST(Think, OneLegalMoveIsAnsweredAtOnce) {
    std::string out = think_output(ONLY_REPLY, 10);
    std::vector<std::string> lines = lines_of(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("info depth 0 score cp 0 nodes \\d+ time \\d+ nps \\d+ pv g7f6")))
        << lines[0];
    EXPECT_EQ(lines[1], "bestmove g7f6 ");
}

TEST(Think, NoLegalMovePrintsNothing) {
    for (const char* fen : {FOOLS_MATE, STALEMATE}) {
        std::string out = think_output(fen, 5);
        EXPECT_EQ(out, "") << fen;
        EXPECT_EQ(search_info.state, SEARCH_IDLE) << fen;
    }
}

TEST(Think, OutputLinesAreWellFormed) {
    std::string out = think_output(START_FEN, 5);
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GE(lines.size(), 2u) << out;
    const std::regex depth_line("info depth \\d+");
    const std::regex score_line("info depth \\d+ score (cp -?\\d+|mate -?\\d+) nodes (\\d+) time \\d+ nps \\d+ pv [a-h][1-8][a-h][1-8]( [a-h][1-8][a-h][1-8][qrbn]?)*");
    const std::regex node_line("info time \\d+ nodes (\\d+) nps \\d+ cpuload 1000");
    unsigned long long last_nodes = 0;
    int depth_lines = 0;
    for (size_t i = 0; i + 1 < lines.size(); i++) {
        std::smatch m;
        if (std::regex_match(lines[i], depth_line)) {
            depth_lines++;
            continue;
        }
        bool scored = std::regex_match(lines[i], m, score_line);
        if (!scored) {
            ASSERT_TRUE(std::regex_match(lines[i], m, node_line)) << lines[i];
        }
        unsigned long long nodes = std::stoull(m[scored ? 2 : 1].str());
        EXPECT_GE(nodes, last_nodes) << lines[i];
        last_nodes = nodes;
    }
    // Depth lines from iteration 3 on: 3, 4, 5.
    EXPECT_EQ(depth_lines, 3);
    EXPECT_EQ(out.find("info depth 1\n"), std::string::npos);
    EXPECT_EQ(out.find("info depth 2\n"), std::string::npos);
    EXPECT_NE(out.find("info depth 5\n"), std::string::npos);
    // No current-move lines below depth 6.
    EXPECT_EQ(out.find("currmove"), std::string::npos);
    std::smatch last;
    ASSERT_TRUE(std::regex_match(lines.back(), last, std::regex("bestmove ([a-h][1-8][a-h][1-8]) "))) << lines.back();
    // The final score line names the same move as its pv.
    EXPECT_NE(lines[lines.size() - 2].find("pv " + last[1].str()), std::string::npos);
    EXPECT_EQ(lines[lines.size() - 2].find("info depth 5 "), 0u) << lines[lines.size() - 2];
}

TEST(Think, ScoreLineMateCounts) {
    struct Case {
        int score;
        const char* text;
    };
    const Case cases[] = {
        // Winning: mated at ply 1, 3, 5 is mate in 1, 2, 3.
        {MATE - 1, "score mate 1 "},
        {MATE - 3, "score mate 2 "},
        {MATE - 5, "score mate 3 "},
        // Losing: mated at ply 2, 4 is mate in -1, -2.
        {2 - MATE, "score mate -1 "},
        {4 - MATE, "score mate -2 "},
        {MATE_BOUND + 1, "score mate 384 "},
        {MATE_BOUND, "score cp 32000 "},
        {-MATE_BOUND, "score cp -32000 "},
        {-7, "score cp -7 "},
    };
    for (const Case& c : cases) {
        prepare(START_FEN);
        search_info.depth = 4;
        int score = c.score;
        std::string out = capture_output([](void* arg) { print_score_line(*static_cast<int*>(arg)); }, &score);
        EXPECT_EQ(out.rfind(std::string("info depth 4 ") + c.text, 0), 0u) << c.score << ": " << out;
    }
}
