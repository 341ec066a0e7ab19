// Syzygy tablebases over the pipes: the options, what loading says (tables
// found, folders and files refused), and searches of positions whose results
// Stockfish 15.1 gives with the same tables (../shared/syzygy, or the folder
// BRIK_SYZYGY_TABLES names). A build without the library says so when a path
// is set; the tests that need tables then skip.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace fs = std::filesystem;

namespace {

// Scores beyond this are table results (or mates); see types.h.
constexpr int TABLE_BAND = 31615;
constexpr int DRAW_MARGIN = 2;  // a cursed win under the fifty-move rule scores this much

std::string tables_folder() {
    const char* given = getenv("BRIK_SYZYGY_TABLES");
    return given && *given ? given : BRIK_SYZYGY_TABLES;
}

// Ends the engine however the test ends: asked to quit first, so that it
// removes its private folder of tables itself.
struct EngineGuard {
    EngineProcess& e;
    ~EngineGuard() {
        if (e.pid > 0 && e.exit_status < 0) {
            engine_send(e, "quit\n");
            engine_wait_exit(e, 5000);
        }
        engine_stop(e);
    }
};

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

// Sets the path; false (and the test skips) when this build has no tables.
bool load(EngineProcess& e, const std::string& path, std::vector<std::string>* reply = nullptr) {
    std::vector<std::string> lines = engine_reply_to(e, "setoption name SyzygyPath value " + path);
    if (reply) *reply = lines;
    return !contains(lines, "not available in this build");
}

// Loads the shipped tables; false (skip the test) when the build has no
// library or the tables are not beside this checkout.
bool load_shipped(EngineProcess& e, std::vector<std::string>* reply = nullptr) {
    if (!fs::exists(fs::path(tables_folder()) / "KRvKR.rtbw")) return false;
    return load(e, tables_folder(), reply);
}

// A search's closing score as centipawns (mates as +-100000 - N) and its move.
struct Outcome {
    int score = 0;
    bool mate = false;
    std::string bestmove;
    std::vector<std::string> lines;
};

Outcome search(EngineProcess& e, const std::string& position, const std::string& go = "go depth 8") {
    Outcome o;
    engine_send(e, position + "\n" + go + "\n");
    EXPECT_TRUE(engine_wait_for(e, "bestmove", &o.lines, 120000)) << position;
    if (o.lines.empty()) return o;
    static const std::regex best("bestmove (\\S+)");
    std::smatch m;
    if (std::regex_search(o.lines.back(), m, best)) o.bestmove = m[1].str();
    static const std::regex score(" score (cp|mate) (-?\\d+)");
    for (const std::string& l : o.lines)
        if (std::regex_search(l, m, score)) {
            int n = std::stoi(m[2].str());
            o.mate = m[1].str() == "mate";
            o.score = o.mate ? (n > 0 ? 100000 - n : -100000 - n) : n;
        }
    return o;
}

// The tbhits count of the closing score line; -1 when it has none.
long long closing_tbhits(const Outcome& o) {
    static const std::regex hits(" tbhits (\\d+) ");
    std::smatch m;
    long long count = -1;
    for (const std::string& l : o.lines)
        if (l.find(" score ") != std::string::npos) count = std::regex_search(l, m, hits) ? std::stoll(m[1].str()) : -1;
    return count;
}

enum Result { LOSS = -1, DRAW = 0, WIN = 1 };

// The result a score shows: a table win or a mate, a draw, a loss.
int result_of(const Outcome& o) {
    if (o.score > TABLE_BAND) return WIN;
    if (o.score < -TABLE_BAND) return LOSS;
    return o.score >= -DRAW_MARGIN && o.score <= DRAW_MARGIN ? DRAW : 99;
}

// ---- Options ---------------------------------------------------------------------------

TEST(SyzygyOptions, BadValuesAreRefusedAndGoodOnesTakenSilently) {
    struct Case {
        const char* command;
        const char* refusal;  // "" when accepted
    } cases[] = {
        {"setoption name SyzygyProbeDepth value 0",
         "info string SyzygyProbeDepth must be a number from 1 to 100, not \"0\""},
        {"setoption name SyzygyProbeDepth value 101",
         "info string SyzygyProbeDepth must be a number from 1 to 100, not \"101\""},
        {"setoption name SyzygyProbeDepth value deep",
         "info string SyzygyProbeDepth must be a number from 1 to 100, not \"deep\""},
        {"setoption name SyzygyProbeDepth value 12", ""},
        {"setoption name SyzygyProbeLimit value 8", "info string SyzygyProbeLimit must be a number from 0 to 7, not \"8\""},
        {"setoption name SyzygyProbeLimit value -1",
         "info string SyzygyProbeLimit must be a number from 0 to 7, not \"-1\""},
        {"setoption name SyzygyProbeLimit value 0", ""},
        {"setoption name syzygyprobelimit value 5", ""},
        {"setoption name Syzygy50MoveRule value perhaps",
         "info string Syzygy50MoveRule must be true or false, not \"perhaps\""},
        {"setoption name Syzygy50MoveRule value FALSE", ""},
        {"setoption name SyzygyPath value <empty>", ""},
        {"setoption name SyzygyPath value", ""},
    };
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::vector<std::string> expected;
        if (*c.refusal) expected.push_back(c.refusal);
        EXPECT_EQ(engine_reply_to(e, c.command), expected);
    }
}

// ---- Loading ---------------------------------------------------------------------------

TEST(SyzygyLoading, APathSaysHowManyTablesAndTheLargest) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    std::vector<std::string> reply;
    if (!load_shipped(e, &reply)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    ASSERT_EQ(reply.size(), 1u) << joined(reply);
    EXPECT_TRUE(std::regex_match(reply[0], std::regex("info string Syzygy: \\d+ tables loaded \\(\\d+ win/draw/loss, "
                                                      "0 distance-to-zero\\), largest 5 men")))
        << reply[0];
    // Clearing says so; clearing again has nothing to say.
    EXPECT_EQ(engine_reply_to(e, "setoption name SyzygyPath value <empty>"),
              std::vector<std::string>{"info string Syzygy: tables unloaded"});
    EXPECT_EQ(engine_reply_to(e, "setoption name SyzygyPath value <empty>"), std::vector<std::string>{});
}

// A folder that is missing, empty, unreadable or no folder at all is named,
// and the engine goes on without tables.
TEST(SyzygyLoading, BadFoldersAreNamedAndTheEngineGoesOn) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    fs::path base = make_temp_directory();
    fs::create_directory(base / "empty");
    fs::create_directory(base / "locked");
    fs::copy_file(fs::path(tables_folder()) / "KQvKR.rtbw", base / "locked" / "KQvKR.rtbw");
    chmod((base / "locked").c_str(), 0);
    fs::create_directory_symlink(base / "loop", base / "loop");  // a link to itself: unreadable for anyone
    std::ofstream(base / "file.txt") << "not a folder\n";
    struct Case {
        std::string folder;
        std::string said;
    } cases[] = {
        {(base / "missing").string(), "info string Syzygy: folder " + (base / "missing").string() + " not found"},
        {(base / "empty").string(), "info string Syzygy: no tables in folder " + (base / "empty").string()},
        {(base / "loop").string(), "info string Syzygy: cannot read folder " + (base / "loop").string()},
        {(base / "file.txt").string(), "info string Syzygy: " + (base / "file.txt").string() + " is not a folder"},
        // Permissions do not stop root, who reads the folder anyway.
        {(base / "locked").string(), geteuid() == 0 ? "tables loaded" : "info string Syzygy: cannot read folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        std::vector<std::string> reply;
        load(e, c.folder, &reply);
        EXPECT_TRUE(contains(reply, c.said)) << joined(reply);
        if (c.said != "tables loaded") {
            EXPECT_TRUE(contains(reply, "info string Syzygy: no tables loaded")) << joined(reply);
        }
        Outcome o = search(e, "position fen 3k4/8/3K4/8/8/8/7r/4Q3 w - - 0 1", "go depth 4");
        EXPECT_FALSE(o.bestmove.empty());
    }
    chmod((base / "locked").c_str(), 0700);
    remove_directory(base.string());
}

// A copy of the tables with one damaged: the damaged file is refused by name,
// the others load, and positions of the good tables keep their results while
// the damaged table's position is searched without it.
TEST(SyzygyLoading, DamagedTablesAreRefusedByName) {
    fs::path shipped = tables_folder();
    if (!fs::exists(shipped / "KRvKR.rtbw")) GTEST_SKIP() << "no tables in " << shipped;
    std::string good;
    {
        std::ifstream in(shipped / "KRvKR.rtbw", std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    struct Case {
        const char* what;
        std::string bytes;
        bool folder;
    } cases[] = {
        {"cut short, its size still like a table's", good.substr(0, good.size() / 2 / 64 * 64 + 16), false},
        {"all zeros", std::string(good.size(), '\0'), false},
        {"the wrong size", good.substr(0, good.size() - 10), false},
        // KRvKR's block-size table takes bytes 1454-1801.
        {"a stretch of its block-size table zeroed", good.substr(0, 1500) + std::string(256, '\0') + good.substr(1756),
         false},
        {"a folder named like a table", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start_uci(e));
        if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
        fs::path copy = make_temp_directory();
        int copied = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(shipped)) {
            std::string name = entry.path().filename().string();
            if (name.size() > 10 || name.find(".rtb") == std::string::npos) continue;  // up to four men
            fs::copy_file(entry.path(), copy / name);
            copied++;
        }
        fs::path damaged = copy / "KRvKR.rtbw";
        fs::remove(damaged);
        if (c.folder) fs::create_directory(damaged);
        else std::ofstream(damaged, std::ios::binary) << c.bytes;

        std::vector<std::string> reply;
        load(e, copy.string(), &reply);
        EXPECT_TRUE(contains(reply, "info string Syzygy: refused " + damaged.string() + ": ")) << joined(reply);
        EXPECT_TRUE(contains(reply, "info string Syzygy: " + std::to_string(copied - 1) + " tables loaded"))
            << joined(reply);
        EXPECT_EQ(result_of(search(e, "position fen 3k4/8/3K4/8/8/8/7r/4Q3 w - - 0 1")), WIN);
        EXPECT_EQ(result_of(search(e, "position fen 8/8/4k3/8/2b5/8/8/KR6 b - - 0 1")), DRAW);
        // KRvKR is not in the tables now: its draw is searched without them,
        // and its win is still found, through the capture into KRvK.
        Outcome rooks = search(e, "position fen 3K4/7k/1R6/8/8/2r5/8/8 w - - 0 1");
        EXPECT_FALSE(rooks.bestmove.empty());
        EXPECT_LT(std::abs(rooks.score), TABLE_BAND) << joined(rooks.lines);
        Outcome capture = search(e, "position fen 3r4/8/8/2k5/8/3R4/8/7K w - - 0 1");
        EXPECT_EQ(capture.bestmove, "d3d8");
        EXPECT_EQ(result_of(capture), WIN) << joined(capture.lines);
        engine_send(e, "quit\n");
        EXPECT_TRUE(engine_wait_exit(e));
        EXPECT_EQ(e.exit_status, 0);
        remove_directory(copy.string());
    }
}

// ---- Searching with tables ---------------------------------------------------------------

// Results for the side to move under the fifty-move rule, as Stockfish gives
// them; `move` is the only move that keeps the result when there is one.
struct Known {
    const char* what;
    const char* fen;
    int result;
    const char* move;
};
const Known KNOWN[] = {
    {"KRvKR, a draw", "3K4/7k/1R6/8/8/2r5/8/8 w - - 0 1", DRAW, ""},
    {"KRvKR, a draw, Black to move", "8/8/3k4/8/8/3K4/3R4/5r2 b - - 0 1", DRAW, ""},
    {"KBvKB, a draw", "8/8/2bk4/8/8/3KB3/8/8 w - - 0 1", DRAW, ""},
    {"KQvKR, a win", "3k4/8/3K4/8/8/8/7r/4Q3 w - - 0 1", WIN, ""},
    {"KQvKR, lost for the rook", "3k4/8/3K4/8/8/8/7r/4Q3 b - - 0 1", LOSS, ""},
    {"KPvK, the defender has the opposition", "8/8/8/4k3/8/4K3/4P3/8 w - - 0 1", DRAW, ""},
    {"KPvK, the attacker has the opposition", "8/8/8/4k3/8/4K3/4P3/8 b - - 0 1", LOSS, ""},
    {"KPvK, king on the sixth", "4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", WIN, ""},
    {"KRvKR won only by taking the rook", "3r4/8/8/2k5/8/3R4/8/7K w - - 0 1", WIN, "d3d8"},
    {"KRvKR won only by a quiet king move", "8/8/3k4/8/8/3K4/3R4/5r2 w - - 0 1", WIN, "d3e2"},
    {"KBPvK, the wrong bishop", "7k/8/8/8/8/8/7P/1K3B2 w - - 0 1", DRAW, ""},
    {"KBPvK, the right bishop", "7k/8/8/8/8/8/7P/1KB5 w - - 0 1", WIN, ""},
    {"KQvKP, the c-pawn on the seventh", "1K6/Q7/8/8/8/8/1kp5/8 w - - 0 1", DRAW, ""},
    {"KBNvKN, a cursed win", "8/8/n7/8/2N5/5K2/B7/5k2 w - - 0 1", DRAW, "c4e5"},
};

// The engine reports each result, and after its move the opponent's search
// reports the same result from the other side.
TEST(SyzygySearch, KnownPositionsScoreTheirResultAndTheMoveKeepsIt) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    if (!fs::exists(fs::path(tables_folder()) / "KBNvKN.rtbw")) GTEST_SKIP() << "no tables in " << tables_folder();
    if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    for (const Known& k : KNOWN) {
        SCOPED_TRACE(std::string(k.what) + ": " + k.fen);
        std::string position = std::string("position fen ") + k.fen;
        Outcome o = search(e, position);
        EXPECT_EQ(result_of(o), k.result) << joined(o.lines);
        if (*k.move) {
            EXPECT_EQ(o.bestmove, k.move);
        }
        ASSERT_FALSE(o.bestmove.empty());
        Outcome reply = search(e, position + " moves " + o.bestmove, "go depth 6");
        if (!reply.bestmove.empty() && reply.bestmove != "0000") {
            EXPECT_EQ(result_of(reply), -k.result) << joined(reply.lines);
        }
        for (const std::string& l : o.lines) {
            if (l.rfind("info depth", 0) == 0 && l.find(" score ") != std::string::npos) {
                EXPECT_NE(l.find(" tbhits "), std::string::npos) << l;
            }
        }
    }
}

TEST(SyzygySearch, CursedResultsFollowTheFiftyMoveRuleOption) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    if (!fs::exists(fs::path(tables_folder()) / "KBNvKN.rtbw")) GTEST_SKIP() << "no tables in " << tables_folder();
    if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    struct Case {
        const char* fen;
        int with_rule, without_rule;
    } cases[] = {
        {"8/8/n7/8/2N5/5K2/B7/5k2 w - - 0 1", DRAW, WIN},
        {"8/8/5BN1/8/1n6/5K2/7k/8 b - - 0 1", DRAW, LOSS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        std::string position = std::string("position fen ") + c.fen;
        EXPECT_EQ(engine_reply_to(e, "setoption name Syzygy50MoveRule value true"), std::vector<std::string>{});
        Outcome with_rule = search(e, position);
        EXPECT_EQ(result_of(with_rule), c.with_rule) << joined(with_rule.lines);
        EXPECT_EQ(engine_reply_to(e, "setoption name Syzygy50MoveRule value false"), std::vector<std::string>{});
        Outcome without_rule = search(e, position);
        EXPECT_EQ(result_of(without_rule), c.without_rule) << joined(without_rule.lines);
    }
}

// "tbhits" shows while tables are loaded, and only then; with SyzygyProbeLimit
// 0 nothing is probed and the score is the search's own.
TEST(SyzygySearch, TbhitsShowOnlyWhileTablesAreLoaded) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    const std::string position = "position fen 3r4/8/8/2k5/8/3R4/8/7K w - - 0 1";
    Outcome before = search(e, position, "go depth 6");
    EXPECT_FALSE(contains(before.lines, "tbhits")) << joined(before.lines);
    if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    Outcome loaded = search(e, position, "go depth 6");
    EXPECT_GT(closing_tbhits(loaded), 0) << joined(loaded.lines);

    EXPECT_EQ(engine_reply_to(e, "setoption name SyzygyProbeLimit value 0"), std::vector<std::string>{});
    Outcome unprobed = search(e, position, "go depth 6");
    EXPECT_EQ(closing_tbhits(unprobed), 0) << joined(unprobed.lines);
    EXPECT_LT(std::abs(unprobed.score), TABLE_BAND) << joined(unprobed.lines);

    // Unloaded, the tables leave nothing behind: no tbhits, no table scores.
    EXPECT_EQ(engine_reply_to(e, "setoption name SyzygyProbeLimit value 7"), std::vector<std::string>{});
    search(e, position, "go depth 6");
    engine_reply_to(e, "setoption name SyzygyPath value <empty>");
    Outcome after = search(e, position, "go depth 6");
    EXPECT_FALSE(contains(after.lines, "tbhits")) << joined(after.lines);
    EXPECT_LT(std::abs(after.score), TABLE_BAND) << joined(after.lines);
}

// Several threads probe the same tables at once.
TEST(SyzygySearch, ThreadsProbeTogether) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    if (!load_shipped(e)) GTEST_SKIP() << "no Syzygy library in this build, or no tables";
    EXPECT_EQ(engine_reply_to(e, "setoption name Threads value 3"), std::vector<std::string>{});
    // Queen and pawn against rook: five men, so the search reaches the tables by captures and promotions.
    Outcome o = search(e, "position fen 8/5k2/8/4P3/8/8/r7/3QK3 w - - 0 1", "go depth 12");
    EXPECT_FALSE(o.bestmove.empty());
    EXPECT_GT(closing_tbhits(o), 0) << joined(o.lines);
}

}  // namespace
