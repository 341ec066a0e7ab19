// The search: terminal nodes of quiescence and alpha-beta, the draw rules,
// repetitions, and whole searches through think() with their output.
//
// The unit tests never install an input poll, so a search here reads no
// command and stops only on its own limits.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "eval.h"
#include "movegen.h"
#include "movepick.h"
#include "search.h"
#include "test_support.h"
#include "tt.h"

namespace {

// A position ready to be searched from ply 0, with clean search tables.
PlyRecord* prepare(const char* fen) {
    PlyRecord* root = setup_position(fen);
    clear_move_counters(test_pos());
    root = setup_position(fen);
    test_pos().info.ply = 0;
    clear_search_memory(test_pool());
    return root;
}

// The same, handed to the search thread as think would: the thread searches
// its own copy of the game, from the root record of t.pos.
SearchThread& prepare_search(const char* fen) {
    prepare(fen);
    return search_prepare(test_pool(), default_limits(), test_pos());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct ThinkCall {
    SearchLimits limits;
    const Position* game;
    SearchResult result;
};

std::string think_output(const char* fen, SearchLimits limits, SearchResult* result = nullptr) {
    prepare(fen);
    ThinkCall call{limits, &test_pos(), {0, 0}};
    std::string out = capture_output([](void* arg) {
        auto* c = static_cast<ThinkCall*>(arg);
        c->result = think(test_pool(), c->limits, *c->game);
    }, &call);
    if (result) *result = call.result;
    return out;
}

std::string think_to_depth(const char* fen, int depth) {
    SearchLimits limits = default_limits();
    limits.depth = depth;
    return think_output(fen, limits);
}

const char* const MATE_IN_TWO = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1";
// The same game after 1. Nf6+: Black's only move is gxf6, and Bxf7 mates.
const char* const ONLY_REPLY = "r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq - 2 1";
// Black has three knight moves, and after each Rc8 mates.
const char* const MATED_NEXT_MOVE = "k7/P7/1K6/8/8/8/7n/2R5 b - - 0 1";
// After 1. f3 e5 2. g4 Qh4: White is checkmated.
const char* const FOOLS_MATE = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
const char* const STALEMATE = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1";
const char* const KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

// The score of the last score line before "bestmove".
std::string final_score(const std::string& out) {
    std::smatch m;
    std::string last;
    static const std::regex score(" score (cp -?\\d+|mate -?\\d+) ");
    for (const std::string& line : lines_of(out))
        if (std::regex_search(line, m, score)) last = m[1].str();
    return last;
}

}  // namespace

// ---- Terminal nodes ------------------------------------------------------------------

TEST(Search, CheckmateScoresThePlyFromTheMatedSide) {
    SearchThread& t = prepare_search(FOOLS_MATE);
    PlyRecord* root = root_record(t.pos);
    t.pos.info.ply = 3;
    EXPECT_EQ(quiesce(t, -MATE, MATE, root), 3 - MATE);
    for (int depth = 1; depth <= 3; depth++) {
        t.pos.info.ply = 3;
        EXPECT_EQ(search(t, -MATE, MATE, depth, root, false), 3 - MATE) << depth;
        EXPECT_EQ(t.pos.info.ply, 3);
    }
}

TEST(Search, StalemateIsADraw) {
    for (int depth = 1; depth <= 3; depth++) {
        SearchThread& t = prepare_search(STALEMATE);
        PlyRecord* root = root_record(t.pos);
        t.pos.info.ply = 2;
        EXPECT_EQ(search(t, -MATE, MATE, depth, root, false), 0) << depth;
        EXPECT_EQ(search(t, -100, 100, depth, root, false), 0) << depth;
    }
}

TEST(Search, QuiescenceResolvesCapturesBeforeTrustingTheEvaluation) {
    // Black's queen hangs to the rook: a quiet evaluation would not see it.
    SearchThread& t = prepare_search("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
    PlyRecord* root = root_record(t.pos);
    int stand_pat = evaluate(t.pos, root);
    EXPECT_GT(quiesce(t, -MATE, MATE, root), stand_pat + 800);
}

TEST(Search, QuiescenceTakesEnPassant) {
    // The only capture is e5xd6 e.p., which wins a pawn.
    SearchThread& t = prepare_search("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
    PlyRecord* root = root_record(t.pos);
    int stand_pat = evaluate(t.pos, root);
    generate_captures(t.pos, root);
    bool found = false;
    for (int i = 0; i < root->move_count; i++) found |= (root->moves[i] & MOVE_EN_PASSANT) != 0;
    EXPECT_TRUE(found);
    EXPECT_GT(quiesce(t, -MATE, MATE, root), stand_pat + 50);
}

TEST(Search, QuiescenceStandsPatFailSoft) {
    SearchThread& t = prepare_search("4k3/pppp4/8/8/8/8/4PPPP/4K3 w - - 0 1");
    PlyRecord* root = root_record(t.pos);
    int stand_pat = evaluate(t.pos, root);
    EXPECT_EQ(quiesce(t, -MATE, MATE, root), stand_pat);
    EXPECT_EQ(quiesce(t, stand_pat - 300, stand_pat - 200, root), stand_pat);
    EXPECT_EQ(quiesce(t, stand_pat + 200, stand_pat + 300, root), stand_pat);
}

TEST(Search, SearchLeavesTheBoardAsItFoundIt) {
    for (const char* fen : {START_FEN, MATE_IN_TWO, KIWIPETE}) {
        SearchThread& t = prepare_search(fen);
        PlyRecord* root = root_record(t.pos);
        std::string before = position_to_fen(t.pos, root);
        U64 key = root->key;
        search(t, -MATE, MATE, 4, root, false);
        EXPECT_EQ(position_to_fen(t.pos, root), before);
        EXPECT_EQ(root->key, key);
        EXPECT_EQ(t.pos.info.ply, 0);
        EXPECT_TRUE(board_is_consistent(t.pos, root)) << fen;
    }
}

// The shared table can hold a move stored for another position with the same
// key bits (or one torn by two threads before the key check caught up): the
// search only ever plays a move it generated itself.
TEST(Search, AHashMoveThatIsNoMoveHereIsNeverPlayed) {
    SearchThread& t = prepare_search(KIWIPETE);
    PlyRecord* root = root_record(t.pos);
    std::string before = position_to_fen(t.pos, root);
    // From empty squares, a king that is elsewhere, and the empty move word.
    const Move bogus[] = {make_move_word(36, 44, W_QUEEN, 0), make_move_word(20, 28, W_KING, MOVE_CASTLE),
                          make_move_word(33, 40, B_PAWN, MOVE_EN_PASSANT), 0xFFFFFFFFu};
    for (Move m : bogus) {
        hash_store(root->key, 0, m, 0, EVAL_NONE, 1, BOUND_UPPER);
        int score = search(t, -MATE, MATE, 4, root, false);
        EXPECT_GT(score, -MATE_BOUND);
        EXPECT_EQ(position_to_fen(t.pos, root), before) << std::hex << m;
        EXPECT_TRUE(board_is_consistent(t.pos, root)) << std::hex << m;
    }
}

// A search started just short of the ply limit stays on the ring of records
// and falls back on the evaluation there.
// The hash key does not know the fifty-move counter, so the evaluation kept
// in the table must not include its shrink: a position met again with a
// higher counter gets the score for that counter.
TEST(Search, StoredEvaluationIsScaledForTheCounterAtHand) {
    const char* fresh = "4k3/8/8/3Q4/8/8/8/4K3 w - - 0 60";
    const char* stale = "4k3/8/8/3Q4/8/8/8/4K3 w - - 90 60";
    SearchThread& first = prepare_search(fresh);
    int fresh_eval = evaluate(first.pos, root_record(first.pos));
    quiesce(first, -MATE, MATE, root_record(first.pos));
    setup_position(stale);
    test_pos().info.ply = 0;
    SearchThread& t = search_prepare(test_pool(), default_limits(), test_pos());
    PlyRecord* root = root_record(t.pos);
    search(t, -MATE, MATE, 1, root, false);
    EXPECT_EQ(stack_at(t, 0)->static_eval, evaluate(t.pos, root));
    EXPECT_LT(stack_at(t, 0)->static_eval, fresh_eval * 3 / 4);
}

TEST(Search, DeepestPlyStaysClearOfTheRoot) {
    SearchThread& t = prepare_search(KIWIPETE);
    PlyRecord* root = root_record(t.pos);
    ASSERT_GT(STACK_SIZE, MAX_PLY + 1);
    PlyRecord* r = &t.pos.records[0];
    for (int ply = 1; ply <= MAX_PLY + 1; ply++) {
        r = r->next;
        ASSERT_NE(r, &t.pos.records[0]) << ply;
    }
    std::string before = position_to_fen(t.pos, root);
    t.pos.info.ply = MAX_PLY - 3;
    int score = search(t, -MATE, MATE, 6, root, false);
    EXPECT_GT(score, -MATE_BOUND);
    EXPECT_LT(score, MATE_BOUND);
    EXPECT_EQ(t.pos.info.ply, MAX_PLY - 3);
    EXPECT_EQ(position_to_fen(t.pos, root), before);
}

// ---- Draws -------------------------------------------------------------------------------

// A singular-extension search leaves its node's best move out; once it is
// over, no node may go on leaving a move out. After searches deep enough to
// run many of them (and to stop in the middle of one), every ply of the
// stack excludes nothing.
TEST(Search, SingularSearchesLeaveNoMoveExcluded) {
    const char* fen = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8";
    for (int depth : {9, 12}) {
        SearchThread& t = prepare_search(fen);
        PlyRecord* root = root_record(t.pos);
        t.completed_depth = depth - 1;
        for (int d = 1; d <= depth; d++) search(t, -MATE, MATE, d, root, false);
        for (int ply = -STACK_OFFSET; ply < MAX_PLY; ply++) ASSERT_EQ(stack_at(t, ply)->excluded, 0u) << ply;
    }
    SearchLimits limits = default_limits();
    limits.nodes = 20000;  // stops somewhere inside the tree
    prepare(fen);
    SearchResult result;
    think_output(fen, limits, &result);
    SearchThread& t = *test_pool().threads[0];
    for (int ply = -STACK_OFFSET; ply < MAX_PLY; ply++) ASSERT_EQ(stack_at(t, ply)->excluded, 0u) << ply;
}

// The per-ply stack reaches two plies below any node: below the root the
// entries are defined and empty, and a node two plies down compares its
// evaluation with the root's own.
TEST(Search, StackBelowANodeIsDefinedAndTheRootsEvaluationIsKept) {
    const char* fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
    SearchThread& t = prepare_search(fen);
    for (int ply : {-1, -2}) {
        EXPECT_EQ(stack_at(t, ply)->static_eval, EVAL_NONE) << ply;
        EXPECT_EQ(stack_at(t, ply)->move, 0u) << ply;
    }
    EXPECT_EQ(stack_at(t, 0)->static_eval, evaluate(t.pos, root_record(t.pos)));
    // In check the root has no static evaluation.
    SearchThread& checked = prepare_search("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
    EXPECT_EQ(stack_at(checked, 0)->static_eval, EVAL_NONE);
}

TEST(Draws, RulesAndMaterial) {
    struct Case {
        const char* fen;
        bool draw;
    };
    const Case cases[] = {
        {"8/8/4k3/8/8/3K4/8/8 w - - 0 1", true},            // kings only
        {"8/8/4k3/8/8/3KN3/8/8 w - - 0 1", true},           // a lone knight
        {"8/8/4k3/8/8/3KB3/8/8 b - - 0 1", true},           // a lone bishop
        {"8/8/4k3/8/8/3KR3/8/8 w - - 0 1", false},          // a rook mates
        {"8/8/4k3/8/8/3KBB2/8/8 w - - 0 1", false},         // two bishops mate
        {"8/8/4k3/8/8/3K4/4P3/8 w - - 0 1", false},         // a pawn may queen
        {"8/8/4k3/8/8/3KR3/8/8 w - - 100 80", true},        // fifty moves without progress
        {"8/8/4k3/8/8/3KR3/8/8 w - - 99 80", false},
        // A mate given on the hundredth half-move stands; a check that can be
        // answered does not stop the rule.
        {"R5k1/5ppp/8/8/8/8/5PPP/6K1 b - - 100 80", false},
        {"R5k1/6pp/8/8/8/8/5PPP/6K1 b - - 100 80", true},
    };
    for (const Case& c : cases) {
        PlyRecord* root = prepare(c.fen);
        EXPECT_EQ(is_draw_by_rule(test_pos(), root), c.draw) << c.fen;
    }
}

TEST(Draws, SearchScoresThemAsDraws) {
    struct Case {
        const char* fen;
        int depth;
    };
    const Case cases[] = {
        // A rook up, but the fifty-move rule strikes with the next move. (The
        // black king stood on e6 once, in check with White to move: the search
        // took it, which only the sanitizers noticed.)
        {"8/8/3k4/8/8/3KR3/8/8 w - - 99 80", 6},
        // A lone minor piece cannot win.
        {"8/8/4k3/8/8/3KN3/8/8 w - - 0 1", 8},
    };
    for (const Case& c : cases) {
        std::string out = think_to_depth(c.fen, c.depth);
        EXPECT_EQ(final_score(out), "cp 0") << c.fen << "\n" << out;
    }
}

// With the fifty-move counter at 99, the back-rank mate is still a mate.
TEST(Draws, MateOnTheLastMoveBeforeTheFiftyMoveRule) {
    std::string out = think_to_depth("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 99 80", 4);
    EXPECT_EQ(final_score(out), "mate 1") << out;
    EXPECT_NE(out.find("bestmove a1a8"), std::string::npos) << out;
}

// Kings alone: every line is a draw at once, so even a deep search is quick.
TEST(Draws, BareKingsSearchEndsQuickly) {
    std::string out = think_to_depth("8/8/4k3/8/8/3K4/8/8 w - - 0 1", 30);
    EXPECT_EQ(final_score(out), "cp 0");
    EXPECT_NE(out.find("info depth 30 "), std::string::npos);
}

TEST(Repetition, ReturnToTheFirstPositionOfTheGame) {
    PlyRecord* root = prepare(START_FEN);
    apply_move_list(test_pos(), "g1f3 g8f6 f3g1 f6g8", root);
    EXPECT_TRUE(is_repetition(test_pos(), root));
}

TEST(Repetition, DoubleStepThatNobodyCanTakeEnPassantHidesNothing) {
    // After e2e4 no black pawn can take on e3: the key ignores the square,
    // so the same position reached again by pieces counts as a repetition.
    PlyRecord* root = prepare("4k3/8/8/8/8/8/4P3/4K1N1 w - - 0 1");
    apply_move_list(test_pos(), "e2e4 e8d8 g1f3 d8e8 f3g1 e8d8 g1f3 d8e8 f3g1", root);
    EXPECT_TRUE(is_repetition(test_pos(), root));
    // A double step that can be taken en passant keeps the square in the key.
    PlyRecord* r = prepare("4k3/8/8/8/3p4/8/4P3/4K3 w - - 0 1");
    apply_move_list(test_pos(), "e2e4", r);
    EXPECT_EQ(r->ep_square, make_square(4, 2));
    U64 with_ep = r->key;
    parse_fen(test_pos(), "4k3/8/8/8/3pP3/8/8/4K3 b - - 0 1", r);
    EXPECT_NE(r->key, with_ep);
}

TEST(Repetition, NotAcrossANullMove) {
    // Two null moves in a row give the same position back; it is no repetition.
    PlyRecord* a = prepare(START_FEN);
    PlyRecord* b = a->next;
    PlyRecord* c = b->next;
    Position& pos = test_pos();
    make_null_move(pos, a, b);
    make_null_move(pos, b, c);
    EXPECT_EQ(c->key, a->key);
    EXPECT_FALSE(is_repetition(pos, c));
    unmake_null_move(pos, b);
    unmake_null_move(pos, a);
    // With real moves the same return is one.
    apply_move_list(pos, "g1f3 g8f6 f3g1 f6g8", a);
    EXPECT_TRUE(is_repetition(pos, a));
}

// ---- Whole searches and their output -------------------------------------------------

TEST(Think, FindsMateInTwo) {
    std::string out = think_to_depth(MATE_IN_TWO, 4);
    EXPECT_EQ(final_score(out), "mate 2") << out;
    EXPECT_NE(out.find("bestmove d5f6 "), std::string::npos) << out;
}

// On the clock a mate ends the deepening once the depth is well past its
// length (a mate in 2 is 3 plies); an explicit depth is searched to the end.
TEST(Think, AMateStopsTheDeepeningOnlyOnTheClock) {
    SearchLimits limits = default_limits();
    limits.clock_given = limits.time_given[WHITE] = true;
    limits.time[WHITE] = 1000000;
    std::string out = think_output(MATE_IN_TWO, limits);
    EXPECT_NE(out.find("bestmove d5f6 "), std::string::npos) << out;
    EXPECT_NE(out.find("info depth 11"), std::string::npos) << out;
    EXPECT_EQ(out.find("info depth 12"), std::string::npos) << out;
    out = think_to_depth(MATE_IN_TWO, 16);
    EXPECT_NE(out.find("bestmove d5f6 "), std::string::npos) << out;
    EXPECT_NE(out.find("info depth 16 "), std::string::npos) << out;
}

TEST(Think, MatedOnTheOpponentsNextMoveIsMateMinusOne) {
    std::string out = think_to_depth(MATED_NEXT_MOVE, 6);
    EXPECT_EQ(final_score(out), "mate -1") << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("bestmove (h2f1|h2f3|h2g4) ponder c1c8 \n"))) << out;
}

TEST(Think, OneLegalMoveIsAnsweredAtOnce) {
    SearchLimits limits = default_limits();
    limits.clock_given = limits.time_given[BLACK] = true;
    limits.time[BLACK] = 100000;
    std::vector<std::string> lines = lines_of(think_output(ONLY_REPLY, limits));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("info depth 0 score cp 0 nodes \\d+ time \\d+ nps \\d+ pv g7f6")))
        << lines[0];
    EXPECT_EQ(lines[1], "bestmove g7f6 ");
}

TEST(Think, NoLegalMoveSaysMateOrDrawAndBestmove0000) {
    struct Case {
        const char* fen;
        const char* score;
    };
    for (const Case& c : {Case{FOOLS_MATE, "info depth 0 score mate 0"}, Case{STALEMATE, "info depth 0 score cp 0"}}) {
        std::vector<std::string> lines = lines_of(think_to_depth(c.fen, 5));
        EXPECT_EQ(lines, (std::vector<std::string>{c.score, "bestmove 0000 "})) << c.fen;
    }
}

TEST(Think, OutputLinesAreWellFormed) {
    std::string out = think_to_depth(START_FEN, 7);
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GE(lines.size(), 2u) << out;
    const std::regex depth_line("info depth \\d+");
    const std::regex score_line(
        "info depth (\\d+) seldepth \\d+ score (cp -?\\d+|mate -?\\d+) nodes (\\d+) time \\d+ nps \\d+ pv "
        "[a-h][1-8][a-h][1-8]( [a-h][1-8][a-h][1-8][qrbn]?)*");
    const std::regex node_line("info time \\d+ nodes (\\d+) nps \\d+ hashfull \\d+ cpuload 1000");
    const std::regex currmove_line("info currmove [a-h][1-8][a-h][1-8][qrbn]? currmovenumber \\d+");
    unsigned long long last_nodes = 0;
    int depth_lines = 0, currmove_lines = 0;
    for (size_t i = 0; i + 1 < lines.size(); i++) {
        std::smatch m;
        if (std::regex_match(lines[i], depth_line)) {
            depth_lines++;
            continue;
        }
        if (std::regex_match(lines[i], currmove_line)) {
            currmove_lines++;
            continue;
        }
        bool scored = std::regex_match(lines[i], m, score_line);
        if (!scored) {
            ASSERT_TRUE(std::regex_match(lines[i], m, node_line)) << lines[i];
        }
        unsigned long long nodes = std::stoull(m[scored ? 3 : 1].str());
        EXPECT_GE(nodes, last_nodes) << lines[i];
        last_nodes = nodes;
    }
    // Depth lines from iteration 3 on; current moves from depth 6 on.
    EXPECT_EQ(depth_lines, 5);
    EXPECT_EQ(out.find("info depth 2\n"), std::string::npos);
    EXPECT_GT(currmove_lines, 0);
    EXPECT_LT(out.find("info depth 6\n"), out.find("currmove"));
    std::smatch last;
    ASSERT_TRUE(std::regex_match(lines.back(), last,
                                 std::regex("bestmove ([a-h][1-8][a-h][1-8]) ponder ([a-h][1-8][a-h][1-8]) ")))
        << lines.back();
    // The closing score line carries the whole principal variation, best move first.
    const std::string& closing = lines[lines.size() - 2];
    EXPECT_EQ(closing.find("info depth 7 "), 0u) << closing;
    EXPECT_NE(closing.find(" pv " + last[1].str() + " " + last[2].str() + " "), std::string::npos) << closing;
}

TEST(Think, FixedDepthIsDeterministic) {
    std::string a = think_to_depth(KIWIPETE, 8), b = think_to_depth(KIWIPETE, 8);
    auto without_clock = [](const std::string& s) { return std::regex_replace(s, std::regex(" time \\d+ nps \\d+"), ""); };
    EXPECT_EQ(without_clock(a), without_clock(b));
}

TEST(Think, SearchmovesRestrictTheRoot) {
    PlyRecord* root = prepare(START_FEN);
    generate_legal_moves(test_pos(), root);
    SearchLimits limits = default_limits();
    limits.depth = 5;
    for (int i = 0; i < root->move_count; i++)
        if (std::string(move_to_text(test_pos(), root->moves[i])) == "a2a3") limits.searchmoves[limits.searchmove_count++] = root->moves[i];
    ASSERT_EQ(limits.searchmove_count, 1);
    std::string out = think_output(START_FEN, limits);
    EXPECT_NE(out.find("bestmove a2a3 "), std::string::npos) << out;
}

TEST(Think, NodeLimitIsKept) {
    SearchLimits limits = default_limits();
    limits.nodes = 20000;
    think_output(KIWIPETE, limits);
    EXPECT_GE(search_nodes(test_pool()), 20000u);
    EXPECT_LT(search_nodes(test_pool()), 20000u + 100);
}

// White's bishop guards e1: taking the knight on g5 with it lets ...Re1 mate.
// One ply sees only the knight won; two see the mate.
const char* const BACK_RANK_BAIT = "4r1k1/5ppp/8/6n1/8/8/3B1PPP/6K1 w - - 0 1";

TEST(Think, AnUnfinishedIterationPlaysTheMoveItProvedBetter) {
    // Depth 2 searches depth 1's choice first, finds it mated, and then proves
    // another move better; that move scores far below what depth 1 believed.
    // Every node budget that stops depth 2 after the proof must play it.
    think_to_depth(BACK_RANK_BAIT, 1);
    U64 depth1_nodes = search_nodes(test_pool());
    std::string out = think_to_depth(BACK_RANK_BAIT, 2);
    U64 depth2_nodes = search_nodes(test_pool());
    ASSERT_NE(out.find("pv d2g5\n"), std::string::npos) << out;
    ASSERT_EQ(out.find("bestmove d2g5 "), std::string::npos) << out;

    int proven = 0;            // budgets within depth 2 that play another move
    U64 bait_after_proof = 0;  // a budget that went back to the bait
    for (U64 n = depth1_nodes + 1; n < depth2_nodes; n++) {
        SearchLimits limits = default_limits();
        limits.nodes = n;
        bool bait = think_output(BACK_RANK_BAIT, limits).find("bestmove d2g5 ") != std::string::npos;
        if (!bait) proven++;
        else if (proven && !bait_after_proof) bait_after_proof = n;
    }
    EXPECT_GT(proven, 0);
    EXPECT_EQ(bait_after_proof, 0u);
}

TEST(Think, ReturnsTheMoveAndScoreItPrints) {
    SearchLimits by_depth = default_limits(), by_nodes = default_limits(), by_clock = default_limits();
    by_depth.depth = 4;
    by_nodes.nodes = 3000;
    by_clock.clock_given = by_clock.time_given[BLACK] = true;
    by_clock.time[BLACK] = 100000;
    struct Case {
        const char* fen;
        SearchLimits limits;
    };
    const Case cases[] = {{MATE_IN_TWO, by_depth}, {KIWIPETE, by_nodes}, {ONLY_REPLY, by_clock},
                          {FOOLS_MATE, by_depth},  {STALEMATE, by_depth}};
    for (const Case& c : cases) {
        SearchResult result{0, 0};
        std::string out = think_output(c.fen, c.limits, &result);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex("bestmove (\\S+) "))) << out;
        EXPECT_EQ(m[1].str(), move_to_text(test_pos(), result.best_move)) << c.fen;
        // The last score printed: "score mate 0" of a root without moves ends its line.
        std::string printed;
        const std::regex score("score ((cp|mate) -?\\d+)");
        for (std::sregex_iterator it(out.begin(), out.end(), score), end; it != end; ++it) printed = (*it)[1].str();
        EXPECT_EQ(printed, score_text(result.score)) << c.fen;
    }
}

TEST(Think, ScoreTextMateCounts) {
    struct Case {
        int score;
        const char* text;
    };
    const Case cases[] = {
        {MATE - 1, "mate 1"},   {MATE - 3, "mate 2"},  {MATE - 5, "mate 3"},     {2 - MATE, "mate -1"},
        {4 - MATE, "mate -2"},  {-MATE, "mate 0"},     {MATE_BOUND, "cp 32000"}, {-7, "cp -7"},
    };
    for (const Case& c : cases) EXPECT_EQ(score_text(c.score), c.text) << c.score;
}
