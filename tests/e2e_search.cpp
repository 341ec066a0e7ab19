// Searching over the pipes: every kind of "go" ends with exactly one
// "bestmove" naming a legal move; "stop", "isready", "quit", a second "go"
// and the commands that must wait while a search runs; the output lines.
//
// No test measures speed: a limit only has to be kept "before the hard limit
// plus a generous slack", since the machine is shared.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine_process.h"

namespace {

const char* const MATE_IN_TWO = "r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1";

int64_t now_millis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

int count_prefixed(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) n += starts_with(l, prefix);
    return n;
}

// The move of a "bestmove" line, "" when the line is not one.
std::string bestmove_of(const std::string& line) {
    std::smatch m;
    static const std::regex form("bestmove ([a-h][1-8][a-h][1-8][qrbn]?)( ponder [a-h][1-8][a-h][1-8][qrbn]?)? ");
    return std::regex_match(line, m, form) ? m[1].str() : "";
}

// Everything up to and including the "readyok" that answers a fresh "isready".
std::vector<std::string> drain_until_ready(EngineProcess& e) {
    std::vector<std::string> seen;
    engine_send(e, "isready\n");
    EXPECT_TRUE(engine_wait_for(e, "readyok", &seen, 30000));
    return seen;
}

struct SearchRun {
    std::vector<std::string> lines;  // up to the bestmove line
    std::string bestmove;
    int64_t elapsed_ms = 0;
    int extra_bestmoves = 0;  // printed after the first one
};

// Sends the position and the go line, reads until "bestmove", then makes
// sure no second bestmove follows.
SearchRun run_search(EngineProcess& e, const std::string& position, const std::string& go, int timeout_ms = 30000) {
    SearchRun run;
    engine_send(e, position + "\n");
    drain_until_ready(e);
    int64_t start = now_millis();
    engine_send(e, go + "\n");
    bool ended = engine_wait_for(e, "bestmove", &run.lines, timeout_ms);
    run.elapsed_ms = now_millis() - start;
    EXPECT_TRUE(ended) << go;
    if (!ended) return run;
    run.bestmove = bestmove_of(run.lines.back());
    run.extra_bestmoves = count_prefixed(drain_until_ready(e), "bestmove");
    return run;
}

// The FEN the engine prints for its current position.
std::string current_fen(EngineProcess& e, std::vector<std::string>* seen = nullptr) {
    std::vector<std::string> lines;
    engine_send(e, ".\n");
    if (!engine_wait_for(e, "fen: ", &lines)) return "";
    if (seen) seen->insert(seen->end(), lines.begin(), lines.end());
    std::string fen = lines.back().substr(5);
    while (!fen.empty() && fen.back() == ' ') fen.pop_back();
    return fen;
}

// A move is legal when "position ... moves <move>" takes it: the position
// changes and no complaint is printed.
void expect_legal(EngineProcess& e, const std::string& position, const std::string& move) {
    ASSERT_FALSE(move.empty());
    std::string with_moves = position.find(" moves ") == std::string::npos ? position + " moves " + move
                                                                             : position + " " + move;
    engine_send(e, position + "\n");
    std::vector<std::string> seen;
    std::string before = current_fen(e, &seen);
    engine_send(e, with_moves + "\n");
    std::string after = current_fen(e, &seen);
    EXPECT_NE(before, after) << position << " + " << move;
    for (const std::string& l : seen) EXPECT_EQ(l.find("info string"), std::string::npos) << l;
}

// The "nodes" figure of an info line, -1 when it has none.
long long nodes_of(const std::string& line) {
    std::smatch m;
    static const std::regex nodes(" nodes (\\d+) ");
    return std::regex_search(line, m, nodes) ? std::stoll(m[1].str()) : -1;
}

// BRIK_TEST_THREADS=N runs every search of these tests with N threads (the
// ThreadSanitizer build in CI does so with 2 and 4).
class Search : public ::testing::Test {
protected:
    EngineProcess e;
    int threads = 1;
    void SetUp() override {
        ASSERT_TRUE(engine_start_uci(e));
        if (const char* count = getenv("BRIK_TEST_THREADS")) {
            threads = atoi(count);
            EXPECT_EQ(engine_reply_to(e, std::string("setoption name Threads value ") + count),
                      std::vector<std::string>{});
        }
    }
    void TearDown() override { engine_stop(e); }
};

}  // namespace

TEST_F(Search, ClockedSearchPlaysALegalMove) {
    SearchRun run = run_search(e, "position startpos", "go wtime 4000 btime 4000");
    EXPECT_EQ(run.extra_bestmoves, 0);
    expect_legal(e, "position startpos", run.bestmove);
    // The final lines: a score line whose pv starts with the move (and goes on
    // with the move to ponder on), then the move.
    ASSERT_GE(run.lines.size(), 2u);
    const std::string& last_score = run.lines[run.lines.size() - 2];
    std::smatch m;
    ASSERT_TRUE(std::regex_match(last_score, m, std::regex("info depth \\d+ seldepth \\d+ score (cp|mate) -?\\d+ nodes \\d+ time \\d+ nps \\d+ pv " +
                                                           run.bestmove + " (\\S+)( \\S+)*")))
        << last_score;
    EXPECT_EQ(run.lines.back(), "bestmove " + run.bestmove + " ponder " + m[2].str() + " ");
}

TEST_F(Search, EveryKindOfLimitEndsWithOneLegalBestmove) {
    const std::string after_e4 = "position startpos moves e2e4";
    struct Case {
        std::string position;
        std::string go;
        int deadline_ms;  // ends well before this (hard limit plus slack)
    };
    const Case cases[] = {
        {"position startpos", "go depth 5", 20000},
        {"position startpos", "go nodes 20000", 20000},
        {"position startpos", "go movetime 300", 300 + 5000},
        {"position startpos", "go wtime 1000 btime 1000 winc 100 binc 100", 1000 + 5000},
        {"position startpos", "go movestogo 1 wtime 500 btime 500", 500 + 5000},
        // Each side's clock is its own: the other clock's size changes nothing.
        {after_e4, "go btime 5000", 5000 + 5000},
        {after_e4, "go wtime 885300 btime 2000", 2000 + 5000},
        {"position startpos", "go wtime 2000 btime 885300", 2000 + 5000},
        {"position startpos", "go wtime 2000 btime 885300 winc 0 binc 50000", 2000 + 5000},
        {after_e4, "go wtime 50 btime 50", 50 + 5000},
        {std::string("position fen ") + MATE_IN_TWO, "go mate 2", 20000},
    };
    for (const Case& c : cases) {
        SearchRun run = run_search(e, c.position, c.go, c.deadline_ms + 20000);
        SCOPED_TRACE(c.go);
        EXPECT_EQ(run.extra_bestmoves, 0);
        EXPECT_LT(run.elapsed_ms, c.deadline_ms);
        expect_legal(e, c.position, run.bestmove);
    }
}

TEST_F(Search, DepthLimitIsTheLastIteration) {
    SearchRun run = run_search(e, "position startpos", "go depth 5");
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[run.lines.size() - 2].rfind("info depth 5 seldepth ", 0), 0u) << run.lines[run.lines.size() - 2];
    EXPECT_EQ(count_prefixed(run.lines, "info depth 6"), 0);
}

TEST_F(Search, NodeLimitIsKept) {
    SearchRun run = run_search(e, "position startpos", "go nodes 20000");
    ASSERT_GE(run.lines.size(), 2u);
    long long nodes = nodes_of(run.lines[run.lines.size() - 2]);
    EXPECT_GE(nodes, 20000);
    // Checked at every alpha-beta node: only the quiescence tree under the
    // last node can add to the count.
    EXPECT_LT(nodes, 30000);
}

TEST_F(Search, MateInTwoIsReportedAsSuch) {
    SearchRun run = run_search(e, std::string("position fen ") + MATE_IN_TWO, "go mate 2");
    EXPECT_EQ(run.bestmove, "d5f6");
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_NE(run.lines[run.lines.size() - 2].find(" score mate 2 "), std::string::npos)
        << run.lines[run.lines.size() - 2];
    // The losing side counts its mate in negative moves: here every knight
    // move is answered by Rc8 mate.
    SearchRun losing = run_search(e, "position fen k7/P7/1K6/8/8/8/7n/2R5 b - - 0 1", "go depth 10");
    ASSERT_GE(losing.lines.size(), 2u);
    EXPECT_NE(losing.lines[losing.lines.size() - 2].find(" score mate -1 "), std::string::npos)
        << losing.lines[losing.lines.size() - 2];
}

// A mate found early is neither the shortest mate nor the longest defence:
// explicit depths run to the end, and the clock search goes on until the
// distance is settled.
TEST_F(Search, MateScoresAreExactAndDepthLimitsAreKept) {
    struct Case {
        const char* fen;
        const char* go;
        const char* depth;  // of the closing line, "" when any
        const char* score;
        const char* bestmove;  // the moves that hold out longest, as a regex ("" when any)
    };
    const Case cases[] = {
        {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "go depth 10", "info depth 10 ", " score mate 1 ", "a1a8"},
        // Mated in 2 after c2b3 or c2b1 (in 1 after the others); depth 4
        // first shows a mate in 3.
        {"Q7/8/8/8/3K4/8/2k3R1/8 b - - 0 1", "go wtime 10000 btime 10000", "", " score mate -2 ", "c2b3|c2b1"},
        {"Q7/8/8/8/3K4/8/2k3R1/8 b - - 0 1", "go depth 12", "info depth 12 ", " score mate -2 ", ""},
        // "go mate 1" ends at the mate it asks for.
        {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "go mate 1", "info depth 1 ", " score mate 1 ", "a1a8"},
    };
    for (const Case& c : cases) {
        SearchRun run = run_search(e, std::string("position fen ") + c.fen, c.go);
        if (*c.bestmove) {
            EXPECT_TRUE(std::regex_match(run.bestmove, std::regex(c.bestmove))) << run.bestmove << ": " << c.fen << " " << c.go;
        }
        ASSERT_GE(run.lines.size(), 2u);
        const std::string& closing = run.lines[run.lines.size() - 2];
        EXPECT_EQ(closing.rfind(c.depth, 0), 0u) << c.go << ": " << closing;
        EXPECT_NE(closing.find(c.score), std::string::npos) << c.go << ": " << closing;
    }
}

TEST_F(Search, OneLegalMoveIsAnsweredAtOnce) {
    SearchRun run = run_search(e, std::string("position fen ") + MATE_IN_TWO + " moves d5f6", "go wtime 100000 btime 100000");
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(run.lines[0], std::regex("info depth 0 score cp 0 nodes \\d+ time \\d+ nps \\d+ pv g7f6")))
        << run.lines[0];
    EXPECT_EQ(run.lines[1], "bestmove g7f6 ");
}

// Mated or stalemated: the answer comes at once, so a GUI never waits.
TEST_F(Search, NoLegalMoveIsAnsweredAtOnce) {
    struct Case {
        const char* position;
        const char* score;
    } cases[] = {
        {"position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "info depth 0 score mate 0"},
        {"position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "info depth 0 score cp 0"},
    };
    for (const Case& c : cases) {
        SearchRun run = run_search(e, c.position, "go wtime 1000 btime 1000");
        EXPECT_EQ(run.lines, (std::vector<std::string>{c.score, "bestmove 0000 "})) << c.position;
        EXPECT_EQ(run.extra_bestmoves, 0);
    }
    // Still alive and searching.
    SearchRun run = run_search(e, "position startpos", "go depth 3");
    expect_legal(e, "position startpos", run.bestmove);
}

TEST_F(Search, StopEndsAnInfiniteSearchWithOneBestmove) {
    engine_send(e, "position startpos\n");
    engine_send(e, "go infinite\n");
    std::vector<std::string> seen;
    // It does not stop by itself.
    EXPECT_FALSE(engine_wait_for(e, "bestmove", &seen, 500));
    engine_send(e, "stop\n");
    ASSERT_TRUE(engine_wait_for(e, "bestmove", &seen, 10000));
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
    std::string move = bestmove_of(seen.back());
    EXPECT_EQ(count_prefixed(drain_until_ready(e), "bestmove"), 0);
    expect_legal(e, "position startpos", move);
}

TEST_F(Search, IsreadyIsAnsweredDuringTheSearch) {
    engine_send(e, "position startpos\ngo infinite\n");
    pause_ms(200);
    engine_send(e, "isready\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "readyok", &seen, 10000));
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 0);
    engine_send(e, "stop\n");
    seen.clear();
    ASSERT_TRUE(engine_wait_for(e, "bestmove", &seen, 10000));
    EXPECT_EQ(count_prefixed(drain_until_ready(e), "bestmove"), 0);
}

TEST_F(Search, QuitDuringTheSearchEndsAtOnceWithoutBestmove) {
    engine_send(e, "position startpos\ngo infinite\n");
    pause_ms(300);
    engine_send(e, "quit\n");
    std::string rest = engine_read_all(e, 10000);
    ASSERT_TRUE(engine_wait_exit(e, 10000));
    EXPECT_EQ(e.exit_status, 0);
    EXPECT_EQ(rest.find("bestmove"), std::string::npos) << rest;
}

// A "go" read while a search runs is kept and carried out after it.
TEST_F(Search, GoDuringTheSearchWaitsForIt) {
    engine_send(e, "position startpos\ngo infinite\n");
    pause_ms(200);
    engine_send(e, "position startpos moves e2e4\ngo depth 2\n");
    std::vector<std::string> seen;
    // The infinite search goes on.
    EXPECT_FALSE(engine_wait_for(e, "bestmove", &seen, 800));
    engine_send(e, "stop\n");
    ASSERT_TRUE(engine_wait_for(e, "bestmove", &seen, 10000));
    std::string first = bestmove_of(seen.back());
    ASSERT_TRUE(engine_wait_for(e, "bestmove", &seen, 10000));
    std::string second = bestmove_of(seen.back());
    EXPECT_EQ(count_prefixed(drain_until_ready(e), "bestmove"), 0);
    expect_legal(e, "position startpos", first);
    expect_legal(e, "position startpos moves e2e4", second);
}

TEST_F(Search, CommandsThatChangeThePositionWaitForTheSearch) {
    engine_send(e, "position startpos\ngo infinite\n");
    pause_ms(200);
    engine_send(e, "position startpos moves e2e4\n.\nucinewgame\nsetoption name Hash value 2\n");
    engine_send(e, "isready\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "readyok", &seen, 10000));
    // Nothing of the waiting "." yet.
    EXPECT_EQ(count_prefixed(seen, "fen:"), 0);
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 0);
    engine_send(e, "stop\n");
    seen.clear();
    ASSERT_TRUE(engine_wait_for(e, "fen: ", &seen, 10000));
    // The search was on the start position: its move is White's.
    std::string move;
    size_t best_at = seen.size();
    for (size_t i = 0; i < seen.size(); i++)
        if (!bestmove_of(seen[i]).empty()) {
            move = bestmove_of(seen[i]);
            best_at = i;
        }
    ASSERT_FALSE(move.empty());
    EXPECT_TRUE(move[1] == '1' || move[1] == '2') << move;
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
    // The "." ran after the search, on the position set after it.
    ASSERT_LT(best_at, seen.size() - 1);
    EXPECT_EQ(seen[seen.size() - 2], "Black to move");
    EXPECT_EQ(seen.back().rfind("fen: rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq", 0), 0u) << seen.back();
    std::vector<std::string> rest = drain_until_ready(e);
    EXPECT_EQ(rest.size(), 1u) << rest.front();
    expect_legal(e, "position startpos", move);
}

TEST_F(Search, NewGameBetweenSearchesPrintsNothingAndChangesNoResult) {
    SearchRun first = run_search(e, "position startpos moves d2d4", "go depth 6");
    engine_send(e, "ucinewgame\n");
    std::vector<std::string> seen = drain_until_ready(e);
    EXPECT_EQ(seen.size(), 1u) << seen.front();
    SearchRun second = run_search(e, "position startpos moves d2d4", "go depth 6");
    // Several threads race for the shared table: only one thread is deterministic.
    if (threads > 1) {
        EXPECT_FALSE(second.bestmove.empty());
        return;
    }
    EXPECT_EQ(first.bestmove, second.bestmove);
    ASSERT_GE(first.lines.size(), 2u);
    ASSERT_GE(second.lines.size(), 2u);
    // Same tree, same result: the score and node count of the final line.
    auto without_clock = [](const std::string& line) {
        return std::regex_replace(line, std::regex(" time \\d+ nps \\d+"), "");
    };
    EXPECT_EQ(without_clock(first.lines[first.lines.size() - 2]), without_clock(second.lines[second.lines.size() - 2]));
}

TEST_F(Search, UciAgainRepeatsTheIdentity) {
    engine_send(e, "uci\n");
    std::vector<std::string> first;
    ASSERT_TRUE(engine_wait_for(e, "uciok", &first));
    engine_send(e, "debug on\nregister later\nponderhit\nuci\n");
    std::vector<std::string> second;
    ASSERT_TRUE(engine_wait_for(e, "uciok", &second));
    EXPECT_EQ(first, second);
    EXPECT_GE(count_prefixed(first, "id name "), 1);
    EXPECT_EQ(count_prefixed(first, "option name Hash "), 1);
    EXPECT_EQ(count_prefixed(first, "option name Move Overhead "), 1);
}

TEST_F(Search, InfoLinesCountNodesAndTimeUpward) {
    SearchRun run = run_search(e, "position startpos", "go nodes 1500000");
    long long last_nodes = 0, last_time = 0;
    int counted = 0, node_reports = 0;
    static const std::regex time_field(" time (\\d+) ");
    for (const std::string& line : run.lines) {
        long long nodes = nodes_of(line);
        if (nodes < 0) continue;
        counted++;
        node_reports += starts_with(line, "info time ");
        EXPECT_GE(nodes, last_nodes) << line;
        last_nodes = nodes;
        std::smatch m;
        std::string padded = " " + line.substr(5) + " ";  // "info time T" has its time first
        ASSERT_TRUE(std::regex_search(padded, m, time_field)) << line;
        long long t = std::stoll(m[1].str());
        EXPECT_GE(t, last_time) << line;
        last_time = t;
        if (starts_with(line, "info time ")) {
            EXPECT_TRUE(std::regex_match(line, std::regex("info time \\d+ nodes \\d+ nps \\d+ hashfull \\d+ cpuload 1000"))) << line;
        }
    }
    EXPECT_GE(counted, 3);
    EXPECT_GE(node_reports, 1);
    EXPECT_GE(last_nodes, 1500000);
}
