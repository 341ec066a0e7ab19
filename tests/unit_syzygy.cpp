// Syzygy tables: table names, the check every file passes before the library
// sees it (each shipped table passes, each kind of damage is refused), and
// probes of positions whose results Stockfish 15.1 gives with the same
// tables (../shared/syzygy, or the folder BRIK_SYZYGY_TABLES names).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "movegen.h"
#include "search.h"
#include "syzygy.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string tables_folder() {
    const char* given = getenv("BRIK_SYZYGY_TABLES");
    return given && *given ? given : BRIK_SYZYGY_TABLES;
}

bool tables_present() { return fs::exists(fs::path(tables_folder()) / "KQvKR.rtbw"); }

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// A fresh folder of the test's own, removed at the end.
struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() / ("brik_syzygy_test_" + std::to_string(rand()) + "_" +
                                            std::to_string(fs::file_time_type::clock::now().time_since_epoch().count()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
};

// ---- Names ------------------------------------------------------------------------

TEST(TableNames, MenOfTableNamesAndNothingForOthers) {
    struct Case {
        const char* name;
        int men;
    } cases[] = {
        {"KQvKR.rtbw", 4}, {"KBNvKN.rtbz", 5}, {"KvK.rtbw", 2},     {"KPPPPPvK.rtbw", 7},
        {"KQvKR.rtbx", 0}, {"KQvKR.rtbw.bak", 0}, {"KQKvR.rtbw", 0}, {"QKvKR.rtbw", 0},
        {"KQvKRv.rtbw", 0}, {"KQvR.rtbw", 0},  {"KQQQQQvKQ.rtbw", 0}, {"README.md", 0},
        {".rtbw", 0},      {"KXvK.rtbw", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(syzygy_table_men(c.name), c.men) << c.name;
}

// ---- The file check -----------------------------------------------------------------

TEST(TableFiles, EveryShippedTablePasses) {
    if (!tables_present()) GTEST_SKIP() << "no tables in " << tables_folder();
    int checked = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(tables_folder())) {
        std::string name = entry.path().filename().string();
        if (!syzygy_table_men(name)) continue;
        EXPECT_EQ(syzygy_check_file(entry.path().string(), name), "") << name;
        checked++;
    }
    EXPECT_GT(checked, 0);
}

// Each way a copy of KQvKR.rtbw can be damaged, and the reason it is refused.
TEST(TableFiles, DamagedCopiesAreRefused) {
    if (!tables_present()) GTEST_SKIP() << "no tables in " << tables_folder();
    const std::string good = read_file(fs::path(tables_folder()) / "KQvKR.rtbw");
    ASSERT_EQ(good.size() % 64, 16u);
    struct Case {
        const char* what;
        const char* name;
        std::string bytes;  // what the file holds
        const char* reason;
        bool folder = false;  // a folder of that name instead
    } cases[] = {
        {"cut by 6400 bytes, the size still like a table's", "KQvKR.rtbw", good.substr(0, good.size() - 6400),
         "where its header describes"},
        {"cut to the last block", "KQvKR.rtbw", good.substr(0, good.size() - 64), "where its header describes"},
        {"cut to its first 16 bytes", "KQvKR.rtbw", good.substr(0, 16), "damaged header"},
        {"64 bytes added", "KQvKR.rtbw", good + std::string(64, '\0'), "where its header describes"},
        {"all zeros", "KQvKR.rtbw", std::string(good.size(), '\0'), "wrong magic number"},
        {"one byte short", "KQvKR.rtbw", good.substr(0, good.size() - 1), "is no table's"},
        {"empty", "KQvKR.rtbw", "", "is no table's"},
        {"win/draw/loss bytes under a distance-to-zero name", "KQvKR.rtbz", good, "wrong magic number"},
        {"another table's bytes", "KQvKB.rtbw", good, "damaged header"},
        {"a piece code garbled", "KQvKR.rtbw", good.substr(0, 6) + '\xff' + good.substr(7), "damaged header"},
        // KQvKR's block-size tables take bytes 2306-2857, its data blocks start at 2880.
        {"a stretch of its block-size tables zeroed", "KQvKR.rtbw",
         good.substr(0, 2400) + std::string(256, '\0') + good.substr(2656), "index or block-size table damaged"},
        {"everything after its first 2 KB zeroed (this one crashes the library)", "KQvKR.rtbw",
         good.substr(0, 2048) + std::string(good.size() - 2048 - 16, '\0') + good.substr(good.size() - 16),
         "index or block-size table damaged"},
        {"a folder named like a table", "KQvKR.rtbw", "", "not a regular file", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        fs::path path = folder.path / c.name;
        if (c.folder) fs::create_directory(path);
        else write_file(path, c.bytes);
        std::string problem = syzygy_check_file(path.string(), c.name);
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    }
}

// ---- Probes -----------------------------------------------------------------------

// Loads the shipped tables once; false (the test skips) without them or the library.
bool load_tables() {
    if (!syzygy_available() || !tables_present()) return false;
    static bool loaded = [] {
        syzygy_load(tables_folder());
        return syzygy_largest() == 5;
    }();
    return loaded;
}

// Results for the side to move with the fifty-move rule, as Stockfish 15.1
// scores them with the same tables; `only` names the one move that keeps a
// win when there is just one.
struct KnownPosition {
    const char* what;
    const char* fen;
    int wdl;
    const char* only;
};
const KnownPosition KNOWN[] = {
    {"KRvKR, a draw", "3K4/7k/1R6/8/8/2r5/8/8 w - - 0 1", WDL_DRAW, ""},
    {"KRvKR, a draw, Black to move", "8/8/3k4/8/8/3K4/3R4/5r2 b - - 0 1", WDL_DRAW, ""},
    {"KRvKR won by one quiet move", "8/8/3k4/8/8/3K4/3R4/5r2 w - - 0 1", WDL_WIN, "d3e2"},
    {"KBvKB, a draw", "8/8/2bk4/8/8/3KB3/8/8 w - - 0 1", WDL_DRAW, ""},
    {"KBvKB, a draw, Black to move", "8/8/2bk4/8/8/3KB3/8/8 b - - 0 1", WDL_DRAW, ""},
    {"KQvKR, a win", "3k4/8/3K4/8/8/8/7r/4Q3 w - - 0 1", WDL_WIN, ""},
    {"KQvKR, lost for the rook", "3k4/8/3K4/8/8/8/7r/4Q3 b - - 0 1", WDL_LOSS, ""},
    {"KPvK, the defender has the opposition", "8/8/8/4k3/8/4K3/4P3/8 w - - 0 1", WDL_DRAW, ""},
    {"KPvK, the attacker has the opposition", "8/8/8/4k3/8/4K3/4P3/8 b - - 0 1", WDL_LOSS, ""},
    {"KPvK, king on the sixth", "4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", WDL_WIN, ""},
    {"KPvK, king on the sixth, Black to move", "4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", WDL_LOSS, ""},
    {"KRvKR won only by taking the rook (into KRvK)", "3r4/8/8/2k5/8/3R4/8/7K w - - 0 1", WDL_WIN, "d3d8"},
    {"KBNvKN, a cursed win", "8/8/n7/8/2N5/5K2/B7/5k2 w - - 0 1", WDL_CURSED_WIN, "c4e5"},
    {"KBNvKN, a blessed loss", "8/8/5BN1/8/1n6/5K2/7k/8 b - - 0 1", WDL_BLESSED_LOSS, ""},
    {"KBNvK, a win", "8/8/8/4k3/8/8/8/KBN5 w - - 0 1", WDL_WIN, ""},
    {"KNNvK, a draw", "8/8/8/4k3/8/8/8/KNN5 w - - 0 1", WDL_DRAW, ""},
    {"KBPvK, the wrong bishop for the rook pawn", "7k/8/8/8/8/8/7P/1K3B2 w - - 0 1", WDL_DRAW, ""},
    {"KBPvK, the right bishop", "7k/8/8/8/8/8/7P/1KB5 w - - 0 1", WDL_WIN, ""},
    {"KQvK, Black to move loses", "8/8/8/3k4/8/8/8/KQ6 b - - 0 1", WDL_LOSS, ""},
    {"KRvK, a win", "8/8/8/3k4/8/8/8/KR6 w - - 0 1", WDL_WIN, ""},
    {"KQvKQ, a draw", "8/8/8/3k4/8/8/3q4/KQ6 w - - 0 1", WDL_DRAW, ""},
    {"KRvKB, a draw", "8/8/4k3/8/2b5/8/8/KR6 b - - 0 1", WDL_DRAW, ""},
    {"KPPvK, lost for the king", "8/8/4k3/8/8/8/PP6/K7 b - - 0 1", WDL_LOSS, ""},
    {"KQvKP, the c-pawn on the seventh draws", "1K6/Q7/8/8/8/8/1kp5/8 w - - 0 1", WDL_DRAW, ""},
};

// The table's result after move `index` of the root's list, for the side to move there.
int result_after(Position& pos, PlyRecord* root, int index) {
    PlyRecord* next = root->next;
    if (!make_move(pos, index, root, next)) return WDL_NONE;
    update_check_info(pos, next);
    // Win/draw/loss tables ignore the fifty-move counter; the probe asks for a zero.
    int halfmove = pos.info.halfmove_clock;
    pos.info.halfmove_clock = 0;
    int wdl = syzygy_probe_wdl(pos, next);
    pos.info.halfmove_clock = halfmove;
    unmake_move(pos, index, root);
    return wdl;
}

TEST(TableProbes, KnownPositionsHaveTheirResult) {
    if (!load_tables()) GTEST_SKIP() << "no Syzygy library or tables";
    for (const KnownPosition& k : KNOWN) {
        SCOPED_TRACE(std::string(k.what) + ": " + k.fen);
        PlyRecord* root = setup_position(k.fen);
        EXPECT_EQ(syzygy_probe_wdl(test_pos(), root), k.wdl);
    }
}

// The root keeps exactly the moves after which the opponent has the
// negated result; every move it drops does worse.
TEST(TableProbes, RootKeepsExactlyTheMovesThatHoldTheResult) {
    if (!load_tables()) GTEST_SKIP() << "no Syzygy library or tables";
    for (const KnownPosition& k : KNOWN) {
        SCOPED_TRACE(std::string(k.what) + ": " + k.fen);
        PlyRecord* root = setup_position(k.fen);
        Position& pos = test_pos();
        generate_legal_moves(pos, root);
        SyzygyRoot tables = syzygy_probe_root(pos, root, true);
        ASSERT_TRUE(tables.found);
        EXPECT_EQ(tables.wdl, k.wdl);
        std::vector<Move> kept(tables.kept, tables.kept + tables.kept_count);
        ASSERT_FALSE(kept.empty());
        if (*k.only) {
            ASSERT_EQ(kept.size(), 1u);
            EXPECT_EQ(move_to_text(pos, kept[0]), k.only);
        }
        for (int i = 0; i < root->move_count; i++) {
            Move m = root->moves[i];
            int mover_result = -result_after(pos, root, i);
            bool is_kept = std::find(kept.begin(), kept.end(), m) != kept.end();
            if (is_kept) EXPECT_EQ(mover_result, k.wdl) << move_to_text(pos, m);
            else EXPECT_LT(mover_result, k.wdl) << move_to_text(pos, m);
        }
    }
}

// Without the fifty-move rule a cursed win is a win and a blessed loss a
// loss, and the root says so.
TEST(TableProbes, WithoutTheFiftyMoveRuleCursedResultsAreWinsAndLosses) {
    if (!load_tables()) GTEST_SKIP() << "no Syzygy library or tables";
    struct Case {
        const char* fen;
        int with_rule;
        int without_rule;
    } cases[] = {
        {"8/8/n7/8/2N5/5K2/B7/5k2 w - - 0 1", WDL_CURSED_WIN, WDL_WIN},
        {"8/8/5BN1/8/1n6/5K2/7k/8 b - - 0 1", WDL_BLESSED_LOSS, WDL_LOSS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        PlyRecord* root = setup_position(c.fen);
        generate_legal_moves(test_pos(), root);
        EXPECT_EQ(syzygy_probe_root(test_pos(), root, true).wdl, c.with_rule);
        EXPECT_EQ(syzygy_probe_root(test_pos(), root, false).wdl, c.without_rule);
        // Under the rule a draw, at most a hair off zero; without it decisive.
        EXPECT_LE(std::abs(tablebase_score(c.with_rule, 0, true)), 2);
        EXPECT_GT(std::abs(tablebase_score(c.with_rule, 0, false)), TABLEBASE_WIN_BOUND);
    }
}

// The tables know nothing of castling rights or the fifty-move counter: such
// positions are never probed, nor positions with more men than any table.
TEST(TableProbes, PositionsTheTablesCannotAnswerAreNotProbed) {
    if (!load_tables()) GTEST_SKIP() << "no Syzygy library or tables";
    for (const char* fen : {"4k3/8/8/8/8/8/8/R3K3 w Q - 0 1", "8/8/8/3k4/8/8/8/KR6 w - - 3 40",
                            "8/8/8/3k4/8/8/2PPP3/KR6 w - - 0 1"}) {
        SCOPED_TRACE(fen);
        PlyRecord* root = setup_position(fen);
        EXPECT_EQ(syzygy_probe_wdl(test_pos(), root), WDL_NONE);
    }
    PlyRecord* root = setup_position("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1");
    generate_legal_moves(test_pos(), root);
    EXPECT_FALSE(syzygy_probe_root(test_pos(), root, true).found);
}

// A table win is a large centipawn score, never a mate, at every ply.
TEST(TableScores, WinsAreNeverMates) {
    for (int ply : {0, 1, MAX_PLY / 2, MAX_PLY}) {
        SCOPED_TRACE(ply);
        int win = tablebase_score(WDL_WIN, ply, true);
        EXPECT_EQ(score_text(win), "cp " + std::to_string(win));
        EXPECT_EQ(score_text(-win), "cp " + std::to_string(-win));
        EXPECT_GT(win, TABLEBASE_WIN_BOUND);
        EXPECT_EQ(tablebase_score(WDL_LOSS, ply, true), -win);
    }
    EXPECT_EQ(tablebase_score(WDL_DRAW, 7, true), 0);
    EXPECT_EQ(tablebase_score(WDL_DRAW, 7, false), 0);
}

}  // namespace
