// Searching with several threads, over the pipes: the Threads option and its
// bad values, node limits over all threads, go/stop/go in a loop, a Threads
// change that arrives during a search, "quit" while helpers search, and an
// idle engine with many threads that uses no CPU.
//
// Races are caught by repetition (and by the ThreadSanitizer build in CI), not
// by timing: no assertion depends on how fast the machine is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

int count_prefixed(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) n += starts_with(l, prefix);
    return n;
}

long long nodes_of(const std::string& line) {
    std::smatch m;
    static const std::regex nodes(" nodes (\\d+) ");
    return std::regex_search(line, m, nodes) ? std::stoll(m[1].str()) : -1;
}

// The move of a "bestmove" line, "" when the line is not one.
std::string bestmove_of(const std::string& line) {
    std::smatch m;
    static const std::regex form("bestmove ([a-h][1-8][a-h][1-8][qrbn]?)( ponder [a-h][1-8][a-h][1-8][qrbn]?)? ");
    return std::regex_match(line, m, form) ? m[1].str() : "";
}

// Lines up to the "bestmove" of a search, which must come.
std::vector<std::string> until_bestmove(EngineProcess& e, int timeout_ms = 60000) {
    std::vector<std::string> seen;
    EXPECT_TRUE(engine_wait_for(e, "bestmove", &seen, timeout_ms));
    return seen;
}

// The move is legal in the position: "position ... moves <move>" takes it without a word.
void expect_legal(EngineProcess& e, const std::string& position, const std::string& move) {
    ASSERT_FALSE(move.empty());
    std::vector<std::string> reply = engine_reply_to(e, position + " moves " + move);
    for (const std::string& l : reply) EXPECT_EQ(l.find("info string"), std::string::npos) << l;
}

class Threads : public ::testing::Test {
protected:
    EngineProcess e;
    void SetUp() override { ASSERT_TRUE(engine_start_uci(e)); }
    void TearDown() override { engine_stop(e); }
    void set_threads(int n) {
        EXPECT_EQ(engine_reply_to(e, "setoption name Threads value " + std::to_string(n)), std::vector<std::string>{});
    }
};

}  // namespace

TEST(ThreadsOption, IsOfferedFromOneTo1024) {
    EngineProcess e;
    ASSERT_TRUE(engine_start(e));
    engine_send(e, "uci\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "uciok", &seen));
    EXPECT_EQ(count_prefixed(seen, "option name Threads type spin default 1 min 1 max 1024"), 1);
    engine_stop(e);
}

TEST_F(Threads, BadValuesAreRefusedAndLeaveTheCountAlone) {
    set_threads(3);
    for (const char* bad : {"0", "1025", "-2", "two", ""}) {
        std::vector<std::string> reply = engine_reply_to(e, std::string("setoption name Threads value ") + bad);
        ASSERT_EQ(reply.size(), 1u) << bad;
        EXPECT_EQ(reply[0].rfind("info string Threads must be a number from 1 to 1024", 0), 0u) << reply[0];
    }
    // Names in any case, like every option.
    EXPECT_EQ(engine_reply_to(e, "setoption name threads value 2"), std::vector<std::string>{});
    engine_send(e, "position startpos\ngo depth 6\n");
    std::vector<std::string> seen = until_bestmove(e);
    expect_legal(e, "position startpos", bestmove_of(seen.back()));
}

// Each limit ends with one legal bestmove, at every thread count.
TEST_F(Threads, EveryLimitEndsWithOneLegalBestmove) {
    const std::string position = "position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
    for (int n : {2, 4, 1, 3}) {
        SCOPED_TRACE(n);
        set_threads(n);
        for (const char* go : {"go depth 7", "go nodes 30000", "go movetime 300", "go wtime 3000 btime 3000"}) {
            SCOPED_TRACE(go);
            engine_send(e, position + "\n" + go + "\n");
            std::vector<std::string> seen = until_bestmove(e);
            ASSERT_FALSE(seen.empty());
            std::string move = bestmove_of(seen.back());
            EXPECT_FALSE(move.empty()) << seen.back();
            EXPECT_EQ(count_prefixed(engine_reply_to(e, ""), "bestmove"), 0);
            expect_legal(e, position, move);
        }
    }
}

// "go nodes N" counts the nodes of all threads together.
TEST_F(Threads, NodeLimitCountsAllThreads) {
    set_threads(4);
    for (int i = 0; i < 3; i++) {
        engine_send(e, "position startpos\ngo nodes 40000\n");
        std::vector<std::string> seen = until_bestmove(e);
        ASSERT_GE(seen.size(), 2u);
        long long nodes = nodes_of(seen[seen.size() - 2]);
        EXPECT_GE(nodes, 40000);
        // Helpers look at the total every few dozen nodes; only the nodes in
        // flight when one sees the limit can add to it.
        EXPECT_LT(nodes, 60000);
    }
}

// Searches started and stopped in quick succession, again and again: every
// "go" gets exactly one bestmove and the helpers never outlive their search.
TEST_F(Threads, GoStopGoInALoop) {
    set_threads(4);
    engine_send(e, "position startpos moves e2e4 c7c5 g1f3\n");
    const int rounds = 40;
    for (int i = 0; i < rounds; i++) {
        engine_send(e, i % 3 == 2 ? "go depth 3\n" : "go infinite\n");
        if (i % 3 != 2) engine_send(e, "stop\n");
        std::vector<std::string> seen = until_bestmove(e, 30000);
        ASSERT_FALSE(seen.empty()) << "round " << i;
        EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
        EXPECT_FALSE(bestmove_of(seen.back()).empty()) << seen.back();
    }
    EXPECT_EQ(count_prefixed(engine_reply_to(e, ""), "bestmove"), 0);
}

// A Threads change read during a search waits for its end, like any other
// setoption; the next search runs with the new count.
TEST_F(Threads, ChangeDuringASearchWaitsForIt) {
    set_threads(2);
    engine_send(e, "position startpos\ngo infinite\n");
    engine_send(e, "setoption name Threads value 5\n");
    std::vector<std::string> seen = engine_reply_to(e, "");  // readyok comes while the search runs
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 0);
    engine_send(e, "stop\n");
    seen = until_bestmove(e);
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
    engine_send(e, "go depth 8\n");
    seen = until_bestmove(e);
    expect_legal(e, "position startpos", bestmove_of(seen.back()));
}

TEST_F(Threads, QuitWhileHelpersSearchEndsTheEngine) {
    set_threads(4);
    engine_send(e, "position startpos\ngo infinite\n");
    engine_send(e, "isready\n");
    ASSERT_TRUE(engine_wait_for(e, "readyok"));
    engine_send(e, "quit\n");
    std::string rest = engine_read_all(e, 20000);
    ASSERT_TRUE(engine_wait_exit(e, 20000));
    EXPECT_EQ(e.exit_status, 0);
    EXPECT_EQ(rest.find("bestmove"), std::string::npos) << rest;
}

// The end of input during a multi-threaded search leaves as "quit" does.
TEST_F(Threads, EndOfInputDuringASearchEndsTheEngine) {
    set_threads(3);
    engine_send(e, "position startpos\ngo infinite\n");
    engine_close_input(e);
    engine_read_all(e, 20000);
    ASSERT_TRUE(engine_wait_exit(e, 20000));
    EXPECT_EQ(e.exit_status, 0);
}

// Helpers block between searches: an idle engine with eight threads uses no
// CPU to speak of.
TEST_F(Threads, IdleHelpersUseNoCpu) {
    set_threads(8);
    engine_send(e, "position startpos\ngo depth 8\n");
    until_bestmove(e);
    EXPECT_EQ(engine_reply_to(e, ""), std::vector<std::string>{});
    double before = engine_cpu_seconds(e);
    ASSERT_GE(before, 0);
    sleep(2);
    double after = engine_cpu_seconds(e);
    EXPECT_LT(after - before, 0.2);
}

// Ponder with helpers: "ponderhit" turns it into a clocked search that ends
// by itself with one bestmove.
TEST_F(Threads, PonderhitWithHelpers) {
    set_threads(2);
    engine_send(e, "position startpos moves e2e4\ngo ponder wtime 2000 btime 2000\n");
    EXPECT_FALSE(engine_wait_for(e, "bestmove", nullptr, 300));
    engine_send(e, "ponderhit\n");
    std::vector<std::string> seen = until_bestmove(e, 30000);
    EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
    expect_legal(e, "position startpos moves e2e4", bestmove_of(seen.back()));
}
