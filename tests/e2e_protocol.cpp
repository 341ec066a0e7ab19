// What GUIs and match runners trip over, over the pipes: a "go" that arrives
// as a search ends, "go" parameters in any order and form, infinite and
// ponder searches, lines that must keep their ends, words separated by tabs,
// promotion letters in capitals, the bounded input log and the time caps.
//
// No assertion on time is tighter than the engine's own budget plus 1 s.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

int64_t now_millis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

int count_prefixed(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) n += starts_with(l, prefix);
    return n;
}

// Reads up to the next "bestmove"; its move, "" on timeout.
std::string wait_bestmove(EngineProcess& e, std::vector<std::string>* seen = nullptr, int timeout_ms = 30000) {
    std::vector<std::string> lines;
    if (!engine_wait_for(e, "bestmove", &lines, timeout_ms)) return "";
    if (seen) seen->insert(seen->end(), lines.begin(), lines.end());
    std::smatch m;
    static const std::regex form("bestmove (\\S+)( ponder \\S+)? ");
    return std::regex_match(lines.back(), m, form) ? m[1].str() : "?";
}

std::string fen_of(EngineProcess& e) {
    std::vector<std::string> lines = engine_reply_to(e, ".");
    return lines.empty() ? "" : lines.back();
}

class Protocol : public ::testing::Test {
protected:
    EngineProcess e;
    void SetUp() override { ASSERT_TRUE(engine_start_uci(e)); }
    void TearDown() override { engine_stop(e); }
};

}  // namespace

// A GUI sends the next "go" the moment it reads "bestmove": the engine may
// still be unwinding the search. Every such "go" must be answered, whether
// the search before it ended on its clock, on a node limit or by "stop".
TEST_F(Protocol, GoWrittenAsTheBestmoveIsReadIsNeverLost) {
    const char* const endings[] = {"go movetime 30", "go nodes 3000", "go infinite"};
    for (const char* first : endings) {
        SCOPED_TRACE(first);
        engine_send(e, "position startpos moves e2e4\n");
        for (int round = 0; round < 15; round++) {
            engine_send(e, std::string(first) + "\n");
            if (std::string(first) == "go infinite") engine_send(e, "stop\n");
            ASSERT_NE(wait_bestmove(e), "") << "round " << round;
            // At once, before anything else: the next search.
            engine_send(e, "go nodes 2000\n");
            ASSERT_NE(wait_bestmove(e), "") << "lost go in round " << round;
        }
        std::vector<std::string> rest = engine_reply_to(e, "");
        EXPECT_EQ(count_prefixed(rest, "bestmove"), 0);
    }
}

// Whole words in any order: "winc" must not be read as "wtime".
TEST_F(Protocol, GoParametersAreWholeWordsInAnyOrder) {
    struct Case {
        const char* go;
        int budget_ms;  // the engine's own hard limit for this clock
    };
    const Case cases[] = {
        {"go winc 0 binc 0 wtime 1000 btime 1000", 700},
        {"go btime 1000 binc 0 winc 0 wtime 1000 movestogo 30", 700},
        {"go\twtime 1000\t\tbtime 1000", 700},
        // Near the flag some GUIs send negative times: the minimum budget, not "no clock".
        {"go wtime -150 btime 1000", 100},
        {"go wtime 0 btime 0", 100},
        // Huge values neither overflow nor stall.
        {"go movetime 300 wtime 9999999999999 btime 9999999999999", 300},
        {"go depth 4 nodes 99999999999999999999", 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.go);
        engine_send(e, "position startpos\n");
        int64_t start = now_millis();
        engine_send(e, std::string(c.go) + "\n");
        std::string move = wait_bestmove(e);
        ASSERT_NE(move, "");
        EXPECT_NE(move, "0000");
        EXPECT_LT(now_millis() - start, c.budget_ms + 1000);
    }
}

// The budget is a safe share of the clock, never the whole of it; movetime
// stays what it says.
TEST_F(Protocol, OneMoveNeverSpendsTheWholeClock) {
    struct Case {
        const char* go;
        int budget_ms;
    };
    const Case cases[] = {
        // 70 % of (clock - overhead) at most; 95 % for the last move before
        // a control, which refills the clock.
        {"go wtime 10000 btime 10000 movestogo 1", 9471},
        {"go wtime 5000 btime 5000 winc 10000 binc 10000", 3480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.go);
        engine_send(e, "position startpos\n");
        int64_t start = now_millis();
        engine_send(e, std::string(c.go) + "\n");
        ASSERT_NE(wait_bestmove(e, nullptr, 60000), "");
        EXPECT_LT(now_millis() - start, c.budget_ms + 1000);
    }
}

// An infinite search, and a pondering one, answer only after "stop", once,
// even when they have nothing left to search: a forced mate, a single legal
// move, the depth cap.
TEST_F(Protocol, InfiniteAndPonderWaitForStop) {
    struct Case {
        const char* position;
        const char* go;
    };
    const Case cases[] = {
        {"position fen r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", "go infinite"},
        {"position fen r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq - 2 1", "go infinite"},
        {"position startpos", "go infinite depth 2"},
        {"position startpos", "go ponder wtime 1000 btime 1000"},
        {"position fen r2qkb1r/pp2nppp/3p1N2/2p1N1B1/2BnP3/3P4/PPP2PPP/R2bK2R b KQkq - 2 1", "go ponder wtime 1000 btime 1000"},
        {"position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "go infinite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.position) + " / " + c.go);
        engine_send(e, std::string(c.position) + "\n" + c.go + "\n");
        std::vector<std::string> seen;
        EXPECT_FALSE(engine_wait_for(e, "bestmove", &seen, 1500));
        engine_send(e, "stop\n");
        ASSERT_NE(wait_bestmove(e, &seen), "");
        EXPECT_EQ(count_prefixed(seen, "bestmove"), 1);
        EXPECT_EQ(count_prefixed(engine_reply_to(e, ""), "bestmove"), 0);
    }
}

// "ponderhit" turns a ponder search into a normal one on the clock it came with.
TEST_F(Protocol, PonderhitPlaysOnTheClock) {
    engine_send(e, "setoption name Ponder value true\nposition startpos moves e2e4 e7e5\n");
    engine_send(e, "go ponder wtime 2000 btime 2000\n");
    std::vector<std::string> seen;
    EXPECT_FALSE(engine_wait_for(e, "bestmove", &seen, 1500));
    engine_send(e, "ponderhit\n");
    std::string move = wait_bestmove(e, &seen, 2000 + 1000 + 5000);
    EXPECT_NE(move, "");
    EXPECT_NE(move, "0000");
    EXPECT_EQ(count_prefixed(engine_reply_to(e, "ponderhit"), "bestmove"), 0);
}

// Time spent pondering counts: a ponder search that has already used its
// budget answers "ponderhit" at once, and its lines report time (and so nps)
// from the "go", which is where its node count starts too: the reported time
// never drops at "ponderhit", and nps agrees with nodes and time. (The last
// line may come from an iteration that ended just before "ponderhit".)
TEST_F(Protocol, PonderhitAfterALongPonderAnswersAtOnce) {
    engine_send(e, "setoption name Ponder value true\nposition startpos moves e2e4 e7e5\n");
    // On a 60 s clock the budget is a few seconds at most; this ponder outlasts it.
    const int ponder_ms = 6000;
    engine_send(e, "go ponder wtime 60000 btime 60000\n");
    std::vector<std::string> seen;
    EXPECT_FALSE(engine_wait_for(e, "bestmove", &seen, ponder_ms));
    engine_send(e, "ponderhit\n");
    std::vector<std::string> after;
    std::string move = wait_bestmove(e, &after, 30000);
    EXPECT_NE(move, "");
    // The budget is spent: no new iteration starts after "ponderhit" (one may
    // have begun as the command crossed the pipe).
    int started = 0;
    for (const std::string& l : after) started += std::regex_match(l, std::regex("info depth \\d+"));
    EXPECT_LE(started, 1);
    seen.insert(seen.end(), after.begin(), after.end());
    std::smatch m;
    long long last_time = -1;
    int timed = 0;
    for (const std::string& l : seen) {
        if (!std::regex_search(l, m, std::regex(" time (\\d+)"))) continue;
        long long time = std::stoll(m[1].str());
        EXPECT_GE(time, last_time) << l;
        last_time = time;
        timed++;
        if (std::regex_search(l, m, std::regex(" nodes (\\d+) time (\\d+) nps (\\d+) "))) {
            long long nodes = std::stoll(m[1].str()), nps = std::stoll(m[3].str());
            EXPECT_LE(nps, nodes * 1000 / (time > 0 ? time : 1) + 1) << l;
        }
    }
    EXPECT_GT(timed, 0);
    EXPECT_GE(last_time, ponder_ms / 2);  // the lines of a long ponder count its time
}

// After a search, "stop" prints nothing: no stale move for the new position.
TEST_F(Protocol, StopWhileIdleIsSilent) {
    engine_send(e, "position startpos\ngo depth 3\n");
    ASSERT_NE(wait_bestmove(e), "");
    EXPECT_EQ(engine_reply_to(e, "position startpos moves e2e4\nstop"), std::vector<std::string>{});
}

TEST_F(Protocol, SearchmovesRestrictsTheRoot) {
    engine_send(e, "position startpos\ngo depth 5 searchmoves a2a3 h2h3 nonsense\n");
    std::vector<std::string> seen;
    std::string move = wait_bestmove(e, &seen);
    EXPECT_TRUE(move == "a2a3" || move == "h2h3") << move;
    EXPECT_EQ(count_prefixed(seen, "info string searchmoves: nonsense"), 0);
}

// Unknown words before the command are skipped; tabs and CR are blanks.
TEST_F(Protocol, WordsAndBlanks) {
    engine_send(e, "joho isready\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "readyok", &seen));
    EXPECT_EQ(seen, std::vector<std::string>{"readyok"});
    EXPECT_EQ(engine_reply_to(e, "position\tstartpos \t moves\te2e4  e7e5\r"), std::vector<std::string>{});
    EXPECT_EQ(fen_of(e), "fen: rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 ");
}

TEST_F(Protocol, PromotionLetterInEitherCase) {
    for (const char* letter : {"q", "Q"}) {
        SCOPED_TRACE(letter);
        EXPECT_EQ(engine_reply_to(e, std::string("position fen 7k/P7/8/8/8/8/8/K7 w - - 0 1 moves a7a8") + letter),
                  std::vector<std::string>{});
        EXPECT_EQ(fen_of(e), "fen: Q6k/8/8/8/8/8/8/K7 b - - 0 1 ");
    }
    EXPECT_EQ(engine_reply_to(e, "position fen 7k/P7/8/8/8/8/8/K7 w - - 0 1 moves a7a8N"), std::vector<std::string>{});
    EXPECT_EQ(fen_of(e), "fen: N6k/8/8/8/8/8/8/K7 b - - 0 1 ");
}

// A refused long move list is quoted back shortened, on its own line: the
// next reply is not glued to it.
TEST_F(Protocol, LongEchoKeepsItsLineEnd) {
    std::string moves;
    for (int i = 0; i < 600; i++) moves += " g1f3 g8f6 f3g1 f6g8";
    std::vector<std::string> seen = engine_reply_to(e, "position startpos moves e2e5" + moves);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "info string Can't understand move line");
    EXPECT_LT(seen.back().size(), 1100u);
    EXPECT_NE(seen.back().find("more characters)"), std::string::npos) << seen.back().substr(0, 100);
}

// The input log stops growing at its limit, with one closing line.
TEST(InputLog, IsBounded) {
    EngineProcess e;
    ASSERT_TRUE(engine_start_uci(e));
    std::string filler = "debug " + std::string(1 << 20, 'x') + "\n";
    for (int i = 0; i < 18; i++) engine_send(e, filler);
    engine_send(e, "isready\n");
    ASSERT_TRUE(engine_wait_for(e, "readyok", nullptr, 60000));
    engine_send(e, "quit\n");
    ASSERT_TRUE(engine_wait_exit(e));
    std::ifstream in(e.workdir + "/report.txt", std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LE(log.size(), size_t(16 << 20) + 200);
    EXPECT_GT(log.size(), size_t(15 << 20));
    EXPECT_NE(log.find("input log stopped"), std::string::npos);
    engine_stop(e);
}

// The command-line benchmark: one line per position, then "N nodes M nps".
// The node count is the same on a first start (which searches and writes
// "magics.txt") and on a later one (which reads it).
TEST(CommandLineBench, PrintsTheSameSignatureOnEveryStart) {
    std::string dir = make_temp_directory();
    std::string command = "cd " + dir + " &&";
    for (const std::string& word : engine_command()) command += " " + word;
    command += " bench 5 </dev/null";
    std::string nodes[2];
    for (std::string& count : nodes) {
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex("\n(\\d+) nodes (\\d+) nps\n$"))) << out;
        EXPECT_GT(std::stoll(m[1].str()), 0);
        EXPECT_NE(out.find("Position  1/"), std::string::npos);
        EXPECT_EQ(out.find("info "), std::string::npos);
        count = m[1].str();
    }
    remove_directory(dir);
    EXPECT_EQ(nodes[0], nodes[1]);
}
