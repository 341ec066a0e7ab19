// The UCI conversation as a GUI or a person at a terminal sees it: the
// handshake, the command loop, the console test commands and the input log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

const std::string BANNER = "Brik v0.1 w32 by the Brik developers";
const std::vector<std::string> UCI_IDENTITY = {
    "id name Brik v0.1 w32",
    "id author the Brik developers",
    "option name Hash type spin default 16 min 1 max 4096",
    "option name Threads type spin default 1 min 1 max 1024",
    "option name Move Overhead type spin default 30 min 0 max 5000",
    "option name MultiPV type spin default 1 min 1 max 256",
    "option name Ponder type check default false",
    "option name Clear Hash type button",
    "option name UCI_ShowWDL type check default false",
    "option name UCI_LimitStrength type check default false",
    "option name UCI_Elo type spin default 2000 min 1350 max 2100",
    "option name UCI_Chess960 type check default false",
    "option name SyzygyPath type string default <empty>",
    "option name SyzygyProbeDepth type spin default 1 min 1 max 100",
    "option name Syzygy50MoveRule type check default true",
    "option name SyzygyProbeLimit type spin default 7 min 0 max 7",
    "uciok",
};
const std::string START_FEN_LINE = "fen: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 ";
const std::vector<std::string> START_RANKS = {"rnbqkbnr", "pppppppp", "........", "........",
                                              "........", "........", "PPPPPPPP", "RNBQKBNR"};

// Stops the engine and removes its directory however the test ends.
struct EngineGuard {
    EngineProcess& e;
    ~EngineGuard() { engine_stop(e); }
};


// What "print" shows: a blank line, eight ranks, a blank line, the check
// notice when the side to move is in check, then the castling rights.
std::vector<std::string> diagram(const std::vector<std::string>& ranks, const std::string& castling,
                                 bool check = false) {
    std::vector<std::string> lines = {""};
    lines.insert(lines.end(), ranks.begin(), ranks.end());
    lines.push_back("");
    if (check) {
        lines.push_back("check!");
        lines.push_back("");
    }
    lines.push_back("castling: " + castling);
    return lines;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; i++) out += text;
    return out;
}

// Lines of a perft listing that describe one root move, e.g. " Pe2e4  - 1".
std::vector<std::string> perft_move_lines(const std::vector<std::string>& lines) {
    static const std::regex move_line(R"( [pPnNbBrRqQkK][a-h][1-8]([a-h][1-8] |x[a-h][1-8]( ep)?) - \d+)");
    std::vector<std::string> moves;
    for (const std::string& line : lines)
        if (std::regex_match(line, move_line)) moves.push_back(line);
    return moves;
}

std::vector<long long> perft_totals(const std::vector<std::string>& lines) {
    std::vector<long long> totals;
    for (const std::string& line : lines)
        if (line.rfind(" Totally ", 0) == 0) totals.push_back(atoll(line.c_str() + 9));
    return totals;
}

}  // namespace

// ---- Start-up and handshake -------------------------------------------------------

TEST(Handshake, banner_then_identity_on_uci) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start(e));
    std::string line;
    ASSERT_TRUE(engine_read_line(e, line));
    EXPECT_EQ(line, BANNER);
    engine_send(e, "uci\n");
    for (const std::string& expected : UCI_IDENTITY) {
        ASSERT_TRUE(engine_read_line(e, line));
        EXPECT_EQ(line, expected);
    }
    EXPECT_EQ(engine_reply_to(e, ""), std::vector<std::string>{});
}

// Before "uci" only "uci" and "quit" count: commands are neither answered nor
// carried out, so the position after the handshake is still the start position.
TEST(Handshake, commands_before_uci_are_ignored) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start(e));
    engine_send(e, "isready\nposition startpos moves e2e4\n.\nhelp\nperft 1\n\nprint\n");
    engine_send(e, "uci\n.\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "fen: ", &seen));
    std::vector<std::string> expected = {BANNER};
    expected.insert(expected.end(), UCI_IDENTITY.begin(), UCI_IDENTITY.end());
    expected.push_back("White to move");
    expected.push_back(START_FEN_LINE);
    EXPECT_EQ(seen, expected);
}

TEST(Handshake, word_uci_anywhere_in_the_line_is_answered) {
    for (const char* text : {"hello uci", "\tuci\t", "  uci  "}) {
        SCOPED_TRACE(text);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start(e));
        engine_send(e, std::string(text) + "\n");
        std::vector<std::string> seen;
        ASSERT_TRUE(engine_wait_for(e, "uciok", &seen));
        std::vector<std::string> expected = {BANNER};
        expected.insert(expected.end(), UCI_IDENTITY.begin(), UCI_IDENTITY.end());
        EXPECT_EQ(seen, expected);
    }
}

// "quit" before "uci" ends the engine at once; handshake lines are logged
// without line ends and empty lines not at all.
TEST(Handshake, quit_before_uci_exits_with_status_zero) {
    struct Case {
        const char* input;
        const char* report;
    } cases[] = {
        {"quit\n", "[[quit"},
        {"isready\n\nquit\n", "[[isready[[quit"},
        {"please quit now\n", "[[please quit now"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start(e));
        engine_send(e, c.input);
        std::string output = engine_read_all(e);
        ASSERT_TRUE(engine_wait_exit(e));
        EXPECT_EQ(e.exit_status, 0);
        EXPECT_EQ(output, BANNER + "\n");
        EXPECT_EQ(read_file(e.workdir + "/report.txt"), c.report);
    }
}

// Nobody can talk to the engine once its input is closed, so it leaves as on
// "quit", in the handshake as well as in the command loop.
TEST(Handshake, end_of_input_exits_with_status_zero) {
    struct Case {
        const char* input;
        const char* report;
        const char* last_line;
    } cases[] = {
        {"", "", "Brik v0.1 w32 by the Brik developers"},
        {"isready\n", "[[isready", "Brik v0.1 w32 by the Brik developers"},
        {"uci\n", "[[uci", "uciok"},
        {"uci\nisready\n", "[[uci[[isready\n", "readyok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start(e));
        engine_send(e, c.input);
        engine_close_input(e);
        std::string output = engine_read_all(e);
        ASSERT_TRUE(engine_wait_exit(e));
        EXPECT_EQ(e.exit_status, 0);
        ASSERT_GE(output.size(), 1u);
        EXPECT_EQ(output.back(), '\n');
        std::string last = output.substr(0, output.size() - 1);
        last = last.substr(last.rfind('\n') == std::string::npos ? 0 : last.rfind('\n') + 1);
        EXPECT_EQ(last, c.last_line);
        EXPECT_EQ(read_file(e.workdir + "/report.txt"), c.report);
    }
}

TEST(Handshake, report_logs_every_non_empty_input_line) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start(e));
    engine_send(e, "hello\n\nuci\n\nisready\n\nposition startpos moves e2e4\nnonsense here\nquit\n");
    engine_read_all(e);
    ASSERT_TRUE(engine_wait_exit(e));
    EXPECT_EQ(e.exit_status, 0);
    EXPECT_EQ(read_file(e.workdir + "/report.txt"),
              "[[hello[[uci[[isready\n[[position startpos moves e2e4\n[[nonsense here\n[[quit\n");
}

TEST(Handshake, quit_in_command_loop_exits_with_status_zero) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    engine_send(e, "quit\n");
    EXPECT_EQ(engine_read_all(e), "");
    ASSERT_TRUE(engine_wait_exit(e));
    EXPECT_EQ(e.exit_status, 0);
}

// While nothing arrives the engine must sleep in its read, not poll.
TEST(Handshake, idle_engine_uses_no_cpu) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    EXPECT_EQ(engine_reply_to(e, ""), std::vector<std::string>{});
    double before = engine_cpu_seconds(e);
    ASSERT_GE(before, 0);
    sleep(2);
    double after = engine_cpu_seconds(e);
    EXPECT_LT(after - before, 0.2);
    EXPECT_EQ(engine_reply_to(e, ""), std::vector<std::string>{});
}

// GUIs on Windows end lines with "\r\n": read like "\n", logged without the CR.
TEST(LineEnds, crlf_is_read_like_lf) {
    for (const std::string end : {"\n", "\r\n"}) {
        SCOPED_TRACE(end.size());
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start(e));
        engine_send(e, "uci" + end);
        std::vector<std::string> seen;
        ASSERT_TRUE(engine_wait_for(e, "uciok", &seen, 60000));
        std::vector<std::string> expected = {BANNER};
        expected.insert(expected.end(), UCI_IDENTITY.begin(), UCI_IDENTITY.end());
        EXPECT_EQ(seen, expected);
        engine_send(e, "position startpos moves e2e4 e7e5" + end + "." + end + "isready" + end);
        seen.clear();
        ASSERT_TRUE(engine_wait_for(e, "readyok", &seen, 60000));
        EXPECT_EQ(seen, (std::vector<std::string>{
                            "White to move",
                            "fen: rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 ", "readyok"}));
        engine_send(e, "quit" + end);
        EXPECT_EQ(engine_read_all(e), "");
        ASSERT_TRUE(engine_wait_exit(e, 60000));
        EXPECT_EQ(e.exit_status, 0);
        EXPECT_EQ(read_file(e.workdir + "/report.txt"),
                  "[[uci[[position startpos moves e2e4 e7e5\n[[.\n[[isready\n[[quit\n");
    }
}

// ---- Long input lines ---------------------------------------------------------------

// A line whose first command word is "debug" (which does nothing) and which
// ends with the command: read whole, the line is not the command; cut into
// pieces, a later piece would be.
std::string disguised_command(const std::string& command, size_t length) {
    std::string line = "debug ";
    line += std::string(length - 7 - command.size(), 'x');
    return line + " " + command;
}

TEST(LongLines, long_line_is_one_line_and_over_long_line_is_skipped_whole) {
    struct Case {
        size_t length;
        bool reported;
    } cases[] = {
        {100 * 1024, false},
        {(4u << 20) - 1024, false},
        {(4u << 20) + 1024, true},
        {(5u << 20), true},
    };
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<std::string> seen = engine_reply_to(e, disguised_command("isready", c.length));
        if (c.reported) {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].rfind("info string ", 0), 0u) << seen[0];
        } else {
            EXPECT_EQ(seen, std::vector<std::string>{});
        }
        // A second "readyok" would mean the line was cut and its tail obeyed.
        EXPECT_EQ(engine_reply_to(e, "."), (std::vector<std::string>{"White to move", START_FEN_LINE}));
    }
}

TEST(LongLines, long_lines_in_handshake_are_not_split) {
    struct Case {
        size_t length;
        bool reported;
    } cases[] = {
        {100 * 1024, false},
        {(5u << 20), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start(e));
        engine_send(e, disguised_command("uci", c.length) + "\n");
        engine_send(e, "isready\nuci\n.\n");
        std::vector<std::string> seen;
        ASSERT_TRUE(engine_wait_for(e, "fen: ", &seen, 60000));
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen[0], BANNER);
        size_t next = 1;
        if (c.reported) {
            ASSERT_GE(seen.size(), 2u);
            EXPECT_EQ(seen[1].rfind("info string ", 0), 0u) << seen[1];
            next = 2;
        }
        std::vector<std::string> rest(seen.begin() + long(next), seen.end());
        std::vector<std::string> expected = UCI_IDENTITY;
        expected.push_back("White to move");
        expected.push_back(START_FEN_LINE);
        EXPECT_EQ(rest, expected);
    }
}

TEST(LongLines, long_move_list_is_applied_whole) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    // 1200 plies of knight shuffles (about 6 KB of text) bring back the start
    // position with the clocks run on; e2e4 then shows the list was read to its end.
    std::string moves = repeat(" g1f3 g8f6 f3g1 f6g8", 300) + " e2e4";
    EXPECT_EQ(engine_reply_to(e, "position startpos moves" + moves + "\n."),
              (std::vector<std::string>{"Black to move",
                                        "fen: rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 601 "}));
    EXPECT_EQ(engine_reply_to(e, "position startpos moves" + repeat(" g1f3 g8f6 f3g1 f6g8", 60) + " b1c3\n."),
              (std::vector<std::string>{"Black to move",
                                        "fen: rnbqkbnr/pppppppp/8/8/8/2N5/PPPPPPPP/R1BQKBNR b KQkq - 241 121 "}));
}

// ---- Positions and "." ----------------------------------------------------------------

TEST(Position, fen_line_after_position_commands) {
    struct Case {
        const char* command;
        const char* side;
        const char* fen;
    } cases[] = {
        {"position startpos", "White", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 "},
        {"position startpos moves e2e4", "Black", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1 "},
        {"position startpos moves e2e4 e7e5", "White",
         "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 "},
        {"position startpos moves g1f3 g8f6 h1g1", "Black",
         "rnbqkb1r/pppppppp/5n2/8/8/5N2/PPPPPPPP/RNBQKBR1 b Qkq - 3 2 "},
        {"position fen r3k2r/8/8/8/8/8/8/R3K2R b Kq - 7 33", "Black", "r3k2r/8/8/8/8/8/8/R3K2R b Kq - 7 33 "},
        {"position fen 4k3/8/8/8/8/8/8/4K2R w K - 0 1", "White", "4k3/8/8/8/8/8/8/4K2R w K - 0 1 "},
        {"position fen 4k3/8/8/8/8/8/8/4K3 w - - 12 40", "White", "4k3/8/8/8/8/8/8/4K3 w - - 12 40 "},
        // The FEN stops where its move list begins, so its counters are read.
        {"position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 3 10 moves g1f3", "Black",
         "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - 4 10 "},
        {"position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 3 10 moves g1f3 b8c6 e2e4", "Black",
         "r1bqkbnr/pppppppp/2n5/8/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq e3 0 11 "},
        // En passant on the edge files is honoured, from the FEN and by make.
        {"position fen rnbqkbnr/p1pppppp/8/8/Pp6/8/1PPPPPPP/RNBQKBNR b KQkq a3 0 3", "Black",
         "rnbqkbnr/p1pppppp/8/8/Pp6/8/1PPPPPPP/RNBQKBNR b KQkq a3 0 3 "},
        {"position fen rnbqkbnr/p1pppppp/8/8/Pp6/8/1PPPPPPP/RNBQKBNR b KQkq a3 0 3 moves b4a3", "White",
         "rnbqkbnr/p1pppppp/8/8/8/p7/1PPPPPPP/RNBQKBNR w KQkq - 0 4 "},
        {"position fen rnbqkbnr/pppppp1p/8/8/6pP/8/PPPPPPP1/RNBQKBNR b KQkq h3 0 3 moves g4h3", "White",
         "rnbqkbnr/pppppp1p/8/8/8/7p/PPPPPPP1/RNBQKBNR w KQkq - 0 4 "},
        {"position fen rnbqkbnr/1ppppppp/8/pP6/8/8/P1PPPPPP/RNBQKBNR w KQkq a6 0 3 moves b5a6", "Black",
         "rnbqkbnr/1ppppppp/P7/8/8/8/P1PPPPPP/RNBQKBNR b KQkq - 0 3 "},
        {"position startpos moves h2h4 a7a5 h4h5 g7g5 h5g6", "Black",
         "rnbqkbnr/1ppppp1p/6P1/p7/8/8/PPPPPPP1/RNBQKBNR b KQkq - 0 3 "},
        {"position startpos moves b2b4 h7h5 b4b5 a7a5 b5a6", "Black",
         "rnbqkbnr/1pppppp1/P7/7p/8/8/P1PPPPPP/RNBQKBNR b KQkq - 0 3 "},
    };
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(engine_reply_to(e, std::string(c.command) + "\n."),
                  (std::vector<std::string>{std::string(c.side) + " to move", std::string("fen: ") + c.fen}));
    }
}

// A position the search cannot work with is refused and the start position
// is set up instead.
TEST(Position, illegal_position_falls_back_to_start_position) {
    const char* fens[] = {
        "8/8/8/8/8/8/8/k7 w - - 0 1",                         // no white king
        "k6k/8/8/8/8/8/8/K7 w - - 0 1",                       // two black kings
        "k7/8/8/8/8/8/8/8 b - - 0 1",                         // kings missing
        "k7/8/8/8/8/PPPPPPPP/PPPPPPPP/K7 w - - 0 1",          // 17 white men
        "k6R/8/8/8/8/8/8/K7 w - - 0 1",                       // black in check, white to move
        "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1",  // legal control
    };
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    for (const char* fen : fens) {
        SCOPED_TRACE(fen);
        // A legal position in between shows that the fallback really resets it.
        engine_reply_to(e, "position startpos moves d2d4");
        std::vector<std::string> seen = engine_reply_to(e, std::string("position fen ") + fen);
        bool legal = fen == fens[5];
        if (legal) {
            EXPECT_EQ(seen, std::vector<std::string>{});
            EXPECT_EQ(engine_reply_to(e, "."), (std::vector<std::string>{"White to move", std::string("fen: ") + fen + " "}));
        } else {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].rfind("info string Illegal position (", 0), 0u) << seen[0];
            EXPECT_EQ(engine_reply_to(e, "."), (std::vector<std::string>{"White to move", START_FEN_LINE}));
        }
    }
}

TEST(Position, impossible_move_stops_the_list_with_a_message) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    std::vector<std::string> expected = {"info string Can't understand move line"};
    std::vector<std::string> board =
        diagram({"rnbqkbnr", "pppp.ppp", "........", "....p...", "....P...", "........", "PPPP.PPP", "RNBQKBNR"},
                "qkQK");
    expected.insert(expected.end(), board.begin(), board.end());
    expected.push_back("e1e3 g1f3 b8c6");
    EXPECT_EQ(engine_reply_to(e, "position startpos moves e2e4 e7e5 e1e3 g1f3 b8c6"), expected);
    // The moves before the impossible one stay played.
    EXPECT_EQ(engine_reply_to(e, "."),
              (std::vector<std::string>{"White to move",
                                        "fen: rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2 "}));
    // Text that is no move at all ends the list without a word.
    EXPECT_EQ(engine_reply_to(e, "position startpos moves d2d4 zz g1f3"), std::vector<std::string>{});
    EXPECT_EQ(engine_reply_to(e, "."),
              (std::vector<std::string>{"Black to move",
                                        "fen: rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1 "}));
}

// ---- print, score, help ---------------------------------------------------------------

TEST(Display, print_shows_diagram_castling_and_check) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    EXPECT_EQ(engine_reply_to(e, "print"), diagram(START_RANKS, "qkQK"));
    EXPECT_EQ(engine_reply_to(e, "position startpos moves e2e4 e7e5 e1e2\nprint"),
              diagram({"rnbqkbnr", "pppp.ppp", "........", "....p...", "....P...", "........", "PPPPKPPP",
                       "RNBQ.BNR"},
                      "qk"));
    EXPECT_EQ(engine_reply_to(e, "position fen r3k3/8/8/8/8/8/8/4K2R w Kq - 0 1\nprint"),
              diagram({"r...k...", "........", "........", "........", "........", "........", "........",
                       "....K..R"},
                      "qK"));
    EXPECT_EQ(engine_reply_to(e, "position fen k7/8/8/8/8/8/8/K6r w - - 0 1\nprint"),
              diagram({"k.......", "........", "........", "........", "........", "........", "........",
                       "K......r"},
                      "-", true));
    // Check given by the last move of a list.
    EXPECT_EQ(engine_reply_to(e, "position startpos moves e2e4 f7f6 d2d4 g7g5 d1h5\nprint"),
              diagram({"rnbqkbnr", "ppppp..p", ".....p..", "......pQ", "...PP...", "........", "PPP..PPP",
                       "RNB.KBNR"},
                      "qkQK", true));
}

TEST(Display, score_prints_diagram_and_evaluation_for_side_to_move) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    static const std::regex score_line(R"( Score: (-?\d+))");
    struct Case {
        const char* fen;
        std::vector<std::string> ranks;
        int sign;  // expected sign of the score, 0 for "any"
    } cases[] = {
        {nullptr, START_RANKS, 0},
        {"4k3/8/8/8/8/8/8/3QK3 w - - 0 1",
         {"....k...", "........", "........", "........", "........", "........", "........", "...QK..."},
         1},
        {"4k3/8/8/8/8/8/8/3QK3 b - - 0 1",
         {"....k...", "........", "........", "........", "........", "........", "........", "...QK..."},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen ? c.fen : "startpos");
        if (c.fen) engine_reply_to(e, std::string("position fen ") + c.fen);
        std::vector<std::string> seen = engine_reply_to(e, "score");
        std::vector<std::string> expected = diagram(c.ranks, c.fen ? "-" : "qkQK");
        ASSERT_EQ(seen.size(), expected.size() + 2);
        EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + long(expected.size())), expected);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(seen[expected.size()], m, score_line)) << seen[expected.size()];
        EXPECT_EQ(seen.back(), "");
        int score = std::stoi(m[1]);
        if (c.sign > 0) {
            EXPECT_GT(score, 500);
        } else if (c.sign < 0) {
            EXPECT_LT(score, -500);
        }
    }
}

TEST(Display, help_text) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    std::vector<std::string> expected = {
        "",
        " setoption name [NAME] value [VALUE]             - set option state (UCI)",
        " position (fen [FEN] (moves [MOVES])) (startpos) - set new position (UCI)",
        " go (wtime [TIME]) (btime [TIME])                - start to analyse (UCI)",
        " isready                                         - don't sleep!     (UCI)",
        " quit                                            - exit             (UCI)",
        "",
        " perft ([DEPTH])                                 - performance test ",
        " bench                                           - benchmark based on perft",
        " print                                           - print out position",
        " score                                           - position score",
        " .                                               - print out fen",
        "",
    };
    EXPECT_EQ(engine_reply_to(e, "help"), expected);
}

// ---- Options and unknown commands ---------------------------------------------------

TEST(Options, hash_value_outside_1_to_4096_is_refused) {
    struct Case {
        const char* command;
        const char* refusal;  // "" when accepted
    } cases[] = {
        {"setoption name Hash value 0", "info string Hash must be a number of megabytes from 1 to 4096, not \"0\""},
        {"setoption name Hash value 4097", "info string Hash must be a number of megabytes from 1 to 4096, not \"4097\""},
        {"setoption name Hash value abc", "info string Hash must be a number of megabytes from 1 to 4096, not \"abc\""},
        {"setoption name Hash value 1", ""},
        {"setoption name Hash value 513", ""},
        {"setoption name hash value 64", ""},
        {"setoption name HASH value 16", ""},
        {"setoption name Move Overhead value 5001",
         "info string Move Overhead must be a number of milliseconds from 0 to 5000, not \"5001\""},
        {"setoption name move overhead value 100", ""},
        {"setoption name Ponder value maybe", "info string Ponder must be true or false, not \"maybe\""},
        {"setoption name ponder value TRUE", ""},
        {"setoption name Clear Hash", ""},
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
    // Still a working engine with the last table.
    std::vector<long long> totals = perft_totals(engine_reply_to(e, "perft 3"));
    EXPECT_EQ(totals, std::vector<long long>{8902});
}

TEST(Options, unknown_commands_are_ignored_silently) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    for (const char* command : {"xyzzy", "hello world", "", "   ", "ucinewgame", "position", "debug on",
                                "register later", "stop", "ponderhit"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(engine_reply_to(e, command), std::vector<std::string>{});
    }
    // Commands with bad arguments say what is wrong.
    EXPECT_EQ(engine_reply_to(e, "setoption name Colour value red"),
              std::vector<std::string>{"info string No such option: Colour"});
    EXPECT_EQ(engine_reply_to(e, "position nowhere"),
              std::vector<std::string>{"info string position needs \"startpos\" or \"fen\", got \"nowhere\""});
    EXPECT_EQ(engine_reply_to(e, "."), (std::vector<std::string>{"White to move", START_FEN_LINE}));
}

// ---- perft and bench --------------------------------------------------------------------

TEST(Perft, depth_one_from_start_position) {
    // A missing depth, depth 0 and a depth that is no number all mean depth 1.
    for (const char* command : {"perft 1", "perft", "perft 0", "perft x"}) {
        SCOPED_TRACE(command);
        EngineProcess e;
        EngineGuard guard{e};
        ASSERT_TRUE(engine_start_uci(e));
        std::vector<std::string> seen = engine_reply_to(e, command);
        std::vector<std::string> expected = diagram(START_RANKS, "qkQK");
        expected.push_back("");
        ASSERT_GE(seen.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + long(expected.size())), expected);
        std::vector<std::string> moves = perft_move_lines(seen);
        EXPECT_EQ(moves.size(), 20u);
        for (const std::string& line : moves) EXPECT_EQ(line.substr(line.size() - 4), " - 1") << line;
        EXPECT_NE(std::find(moves.begin(), moves.end(), " Pe2e4  - 1"), moves.end());
        EXPECT_NE(std::find(moves.begin(), moves.end(), " Ng1f3  - 1"), moves.end());
        EXPECT_NE(std::find(seen.begin(), seen.end(), " Totally 20 nodes"), seen.end());
        EXPECT_EQ(perft_totals(seen), std::vector<long long>{20});
    }
}

TEST(Perft, captures_en_passant_and_deeper_counts) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    EXPECT_EQ(perft_totals(engine_reply_to(e, "perft 2")), std::vector<long long>{400});
    EXPECT_EQ(perft_totals(engine_reply_to(e, "perft 3")), std::vector<long long>{8902});
    EXPECT_EQ(perft_totals(engine_reply_to(e, "perft 4")), std::vector<long long>{197281});
    std::vector<std::string> seen = engine_reply_to(e, "position startpos moves e2e4 d7d5 e4e5 f7f5\nperft 1");
    std::vector<std::string> moves = perft_move_lines(seen);
    EXPECT_EQ(moves.size(), 31u);
    EXPECT_NE(std::find(moves.begin(), moves.end(), " Pe5xf6 ep - 1"), moves.end());
    EXPECT_EQ(perft_totals(seen), std::vector<long long>{31});
    // Mate: the diagram and a total of 0, no move lines.
    seen = engine_reply_to(e, "position startpos moves f2f3 e7e5 g2g4 d8h4\nperft 1");
    EXPECT_EQ(perft_move_lines(seen).size(), 0u);
    EXPECT_EQ(perft_totals(seen), std::vector<long long>{0});
}

TEST(Perft, bench_runs_depths_one_to_six) {
    EngineProcess e;
    EngineGuard guard{e};
    ASSERT_TRUE(engine_start_uci(e));
    const std::string position = "position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1";
    std::vector<long long> expected;
    for (int depth = 1; depth <= 6; depth++) {
        std::vector<long long> total = perft_totals(engine_reply_to(e, position + "\nperft " + std::to_string(depth)));
        ASSERT_EQ(total.size(), 1u);
        expected.push_back(total[0]);
    }
    std::vector<std::string> seen = engine_reply_to(e, position + "\nbench");
    EXPECT_EQ(perft_totals(seen), expected);
    // Each depth starts with its own diagram.
    int diagrams = 0;
    for (const std::string& line : seen) diagrams += line == "castling: -";
    EXPECT_EQ(diagrams, 6);
    EXPECT_EQ(expected[0], 6);  // four king moves, e3 and e4
}
