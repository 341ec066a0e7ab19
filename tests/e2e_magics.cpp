// "magics.txt" across starts: searched and written on the first start, read
// silently afterwards, rewritten whole when damaged, and optional when the
// directory cannot be written.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

const std::string BANNER = "Brik v0.1 w32 by the Brik developers";
// 64 rook squares of 4096 slots + mask + magic, 64 bishop squares of 512
// slots + mask + magic, 16 hex digits each.
constexpr size_t ROOK_VALUES = 4098, BISHOP_VALUES = 514;
constexpr size_t MAGICS_FILE_SIZE = (64 * ROOK_VALUES + 64 * BISHOP_VALUES) * 16;
static_assert(MAGICS_FILE_SIZE == 4722688, "file layout");

struct DirectoryGuard {
    std::string dir;
    ~DirectoryGuard() {
        chmod(dir.c_str(), 0755);
        remove_directory(dir);
    }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Sorted names in a directory, without "." and "..".
std::vector<std::string> directory_names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d))
            if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, "..")) names.push_back(entry->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Session {
    int exit_status = -1;
    std::vector<std::string> lines;
};

// One whole run of the engine in `dir` (kept afterwards): handshake, a perft
// that needs the slider tables, one that needs the last value of the file
// (the bishop magic of h8: Bxg7 is one of the four moves), quit.
Session run_engine(const std::string& dir) {
    Session s;
    EngineProcess e;
    if (!engine_start(e, dir, false)) return s;
    engine_send(e, "uci\nposition startpos\nperft 3\nposition fen k6b/6N1/8/8/8/8/8/7K b - - 0 1\nperft 1\nquit\n");
    s.lines = split_lines(engine_read_all(e, 60000));
    if (engine_wait_exit(e, 60000)) s.exit_status = e.exit_status;
    e.workdir.clear();  // the caller owns the directory
    engine_stop(e);
    return s;
}

bool has_perft_total(const Session& s, const std::string& total) {
    for (const std::string& line : s.lines)
        if (line == " Totally " + total + " nodes") return true;
    return false;
}

size_t index_of(const std::vector<std::string>& lines, const std::string& wanted) {
    for (size_t i = 0; i < lines.size(); i++)
        if (lines[i] == wanted) return i;
    return lines.size();
}

struct MagicArrays {
    std::vector<std::string> rook, bishop;  // the 16 hex digits of each line
};

// Checks the C array text printed by a search, starting at lines[first];
// returns the printed magic numbers.
MagicArrays check_array_text(const std::vector<std::string>& lines, size_t first) {
    static const std::regex magic_line(R"( 0x([0-9A-F]{16}), )");
    MagicArrays arrays;
    size_t at = first;
    bool ok = true;
    auto expect_line = [&](const std::string& wanted) {
        if (!ok) return;
        std::string got = at < lines.size() ? lines[at] : "<end of output>";
        if (got != wanted) {
            ADD_FAILURE() << "line " << at << ": expected \"" << wanted << "\", got \"" << got << "\"";
            ok = false;
        }
        at++;
    };
    auto read_block = [&](std::vector<std::string>& into) {
        for (int s = 0; ok && s < 64; s++, at++) {
            std::smatch m;
            if (at >= lines.size() || !std::regex_match(lines[at], m, magic_line)) {
                ADD_FAILURE() << "square " << s << ": " << (at < lines.size() ? lines[at] : "<end>");
                ok = false;
            }
            into.push_back(m[1]);
        }
    };
    expect_line("const U64 r_magics[64] = {");
    read_block(arrays.rook);
    expect_line("};");
    expect_line("");
    expect_line("const U64 b_magics[64] = {");
    read_block(arrays.bishop);
    expect_line("};");
    expect_line("");
    return arrays;
}

std::string file_value(const std::string& file, size_t index) { return file.substr(index * 16, 16); }

// The file holds exactly what was printed and the masks sliders need.
void check_file_against_arrays(const std::string& file, const MagicArrays& arrays) {
    ASSERT_EQ(file.size(), MAGICS_FILE_SIZE);
    size_t not_hex = 0;
    for (char c : file) not_hex += !(isdigit((unsigned char)c) || (c >= 'A' && c <= 'F'));
    EXPECT_EQ(not_hex, 0u);
    ASSERT_EQ(arrays.rook.size(), 64u);
    ASSERT_EQ(arrays.bishop.size(), 64u);
    for (size_t s = 0; s < 64; s++) {
        EXPECT_EQ(file_value(file, s * ROOK_VALUES + 4097), arrays.rook[s]) << "rook square " << s;
        EXPECT_EQ(file_value(file, 64 * ROOK_VALUES + s * BISHOP_VALUES + 513), arrays.bishop[s])
            << "bishop square " << s;
    }
    // Relevant-occupancy masks: a1 rook (b1..g1, a2..a7), a1 bishop (b2..g7),
    // h8 rook (b8..g8, h2..h7).
    EXPECT_EQ(file_value(file, 0 * ROOK_VALUES + 4096), "000101010101017E");
    EXPECT_EQ(file_value(file, 64 * ROOK_VALUES + 0 * BISHOP_VALUES + 512), "0040201008040200");
    EXPECT_EQ(file_value(file, 63 * ROOK_VALUES + 4096), "7E80808080808000");
}

// A first start in an empty directory; returns the file it wrote.
std::string first_start(const std::string& dir) {
    Session s = run_engine(dir);
    EXPECT_EQ(s.exit_status, 0);
    MagicArrays arrays = check_array_text(s.lines, 0);
    EXPECT_EQ(index_of(s.lines, BANNER), 134u);
    EXPECT_TRUE(has_perft_total(s, "8902"));
    EXPECT_TRUE(has_perft_total(s, "4"));
    std::string file = read_file(dir + "/magics.txt");
    check_file_against_arrays(file, arrays);
    return file;
}

}  // namespace

TEST(Magics, first_start_searches_prints_and_writes_the_file) {
    DirectoryGuard dir{make_temp_directory()};
    first_start(dir.dir);
}

TEST(Magics, second_start_reads_the_file_silently) {
    DirectoryGuard dir{make_temp_directory()};
    std::string written = first_start(dir.dir);
    Session s = run_engine(dir.dir);
    EXPECT_EQ(s.exit_status, 0);
    ASSERT_FALSE(s.lines.empty());
    EXPECT_EQ(s.lines[0], BANNER);
    for (const std::string& line : s.lines) {
        EXPECT_EQ(line.find("magics"), std::string::npos) << line;
        EXPECT_NE(line.rfind(" 0x", 0), 0u) << line;
    }
    EXPECT_TRUE(has_perft_total(s, "8902"));
    EXPECT_TRUE(has_perft_total(s, "4"));
    EXPECT_TRUE(read_file(dir.dir + "/magics.txt") == written);
}

// The search is repeatable, so a damaged file is replaced by the very same bytes.
TEST(Magics, damaged_file_is_searched_again_and_rewritten) {
    struct Case {
        const char* name;
        size_t cut_to;      // keep this many bytes (npos: all)
        size_t position;    // where `replacement` goes (npos: nowhere)
        char replacement;
    } cases[] = {
        {"cut by one digit", MAGICS_FILE_SIZE - 1, std::string::npos, 0},
        {"cut by one value", MAGICS_FILE_SIZE - 16, std::string::npos, 0},
        {"cut in the rook tables", 1000003, std::string::npos, 0},
        {"empty", 0, std::string::npos, 0},
        {"letter G in a rook table", std::string::npos, 1000000, 'G'},
        {"blank in a rook table", std::string::npos, 1000000, ' '},
        {"line end in a bishop table", std::string::npos, 64 * ROOK_VALUES * 16 + 12345, '\n'},
        {"minus sign in the last magic", std::string::npos, MAGICS_FILE_SIZE - 3, '-'},
        // Well-formed hex, wrong tables: a1 rook on an empty board attacks
        // ...01FE, and the a1 bishop mask ends in 00.
        {"a1 rook attacking its own square", std::string::npos, 15, 'F'},
        {"a1 bishop mask holding a1", std::string::npos, (64 * ROOK_VALUES + 512) * 16 + 15, '1'},
    };
    DirectoryGuard dir{make_temp_directory()};
    std::string original = first_start(dir.dir);
    ASSERT_EQ(original.size(), MAGICS_FILE_SIZE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = original;
        if (c.cut_to != std::string::npos) damaged.resize(c.cut_to);
        if (c.position != std::string::npos) {
            ASSERT_NE(damaged[c.position], c.replacement);
            damaged[c.position] = c.replacement;
        }
        write_file(dir.dir + "/magics.txt", damaged);
        Session s = run_engine(dir.dir);
        EXPECT_EQ(s.exit_status, 0);
        check_array_text(s.lines, 0);
        EXPECT_EQ(index_of(s.lines, BANNER), 134u);
        EXPECT_TRUE(has_perft_total(s, "8902"));
        EXPECT_TRUE(has_perft_total(s, "4"));
        EXPECT_TRUE(read_file(dir.dir + "/magics.txt") == original);
    }
}

TEST(Magics, unwritable_directory_still_gives_a_working_engine) {
    DirectoryGuard dir{make_temp_directory()};
    std::string magics = dir.dir + "/magics.txt";
    // With root rights the mode bits do not stop writes: then a directory named
    // magics.txt makes the file impossible to create (and to read).
    bool blocked_by_directory = false;
    std::string probe = dir.dir + "/probe";
    if (FILE* f = fopen(probe.c_str(), "w")) {
        fclose(f);
        unlink(probe.c_str());
        ASSERT_EQ(mkdir(magics.c_str(), 0755), 0);
        blocked_by_directory = true;
    }
    ASSERT_EQ(chmod(dir.dir.c_str(), 0555), 0);
    Session s = run_engine(dir.dir);
    EXPECT_EQ(s.exit_status, 0);
    int notices = 0;
    size_t notice_at = s.lines.size();
    for (size_t i = 0; i < s.lines.size(); i++) {
        if (s.lines[i].rfind("info string", 0) == 0) {
            notices++;
            notice_at = i;
            EXPECT_NE(s.lines[i].find("magics.txt"), std::string::npos) << s.lines[i];
        }
    }
    EXPECT_EQ(notices, 1);
    // The tables are searched all the same.
    size_t arrays_at = index_of(s.lines, "const U64 r_magics[64] = {");
    ASSERT_LT(arrays_at, s.lines.size());
    check_array_text(s.lines, arrays_at);
    EXPECT_LT(notice_at, index_of(s.lines, BANNER));
    EXPECT_LT(index_of(s.lines, BANNER), s.lines.size());
    EXPECT_TRUE(has_perft_total(s, "8902"));
    EXPECT_TRUE(has_perft_total(s, "4"));
    if (!blocked_by_directory) {
        EXPECT_NE(access(magics.c_str(), F_OK), 0);
    }
}

// Match runners start several engines at once in one directory: each must come
// up with right tables whether it finds no file, a file another one is writing,
// or a whole one, and the file left behind must be whole. Several rounds make
// the overlapping starts likely.
TEST(Magics, engines_started_together_in_an_empty_directory_all_work) {
    constexpr int ENGINES = 4, ROUNDS = 3;
    const std::string commands =
        "uci\nposition startpos\nperft 3\nposition fen k6b/6N1/8/8/8/8/8/7K b - - 0 1\nperft 1\nquit\n";
    for (int round = 0; round < ROUNDS; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        DirectoryGuard dir{make_temp_directory()};
        EngineProcess engines[ENGINES];
        for (EngineProcess& e : engines) ASSERT_TRUE(engine_start(e, dir.dir, false));
        for (EngineProcess& e : engines) engine_send(e, commands);
        Session sessions[ENGINES];
        for (int i = 0; i < ENGINES; i++) {
            sessions[i].lines = split_lines(engine_read_all(engines[i], 120000));
            if (engine_wait_exit(engines[i], 60000)) sessions[i].exit_status = engines[i].exit_status;
            engines[i].workdir.clear();  // the guard owns the directory
            engine_stop(engines[i]);
        }
        MagicArrays arrays;
        int searched = 0;
        for (const Session& s : sessions) {
            EXPECT_EQ(s.exit_status, 0);
            EXPECT_TRUE(has_perft_total(s, "8902"));
            EXPECT_TRUE(has_perft_total(s, "4"));
            for (const std::string& line : s.lines) EXPECT_EQ(line.rfind("info string", 0), std::string::npos) << line;
            if (!s.lines.empty() && s.lines[0] == "const U64 r_magics[64] = {") {
                searched++;
                arrays = check_array_text(s.lines, 0);
            } else {
                ASSERT_FALSE(s.lines.empty());
                EXPECT_EQ(s.lines[0], BANNER);
            }
        }
        // The first to start found no file.
        ASSERT_GE(searched, 1);
        check_file_against_arrays(read_file(dir.dir + "/magics.txt"), arrays);
        // Nothing but the file and the input log is left behind.
        EXPECT_EQ(directory_names(dir.dir), (std::vector<std::string>{"magics.txt", "report.txt"}));
    }
}
