// Brik behind PolyGlot, the UCI-to-xboard adapter: an xboard interface
// plays moves and reads the engine's replies, which PolyGlot builds from our
// "info" and "bestmove" lines. Every reply must be a legal move.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

const char* const POLYGLOT_PATHS[] = {"/usr/games/polyglot", "/usr/bin/polyglot", "/usr/local/bin/polyglot"};

std::string polyglot_path() {
    for (const char* path : POLYGLOT_PATHS)
        if (access(path, X_OK) == 0) return path;
    return "";
}

// Starts PolyGlot in `dir` with the ini file there, speaking over pipes; the
// process fields are those of EngineProcess, so its line helpers apply.
bool start_polyglot(EngineProcess& p, const std::string& program, const std::string& dir, const std::string& ini) {
    signal(SIGPIPE, SIG_IGN);
    p.workdir = dir;
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe)) return false;
    p.pid = fork();
    if (p.pid < 0) return false;
    if (p.pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(out_pipe[1], 2);
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(program.c_str(), program.c_str(), ini.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    p.to_engine = in_pipe[1];
    p.from_engine = out_pipe[0];
    return true;
}

std::string write_ini(const std::string& dir) {
    std::string path = dir + "/brik.ini";
    std::ofstream ini(path);
    ini << "[PolyGlot]\n"
        << "EngineCommand = " << BRIK_BINARY << "\n"
        << "EngineDir = " << dir << "\n"
        << "EngineName = Brik\n"
        << "Log = false\n"
        << "Book = false\n"
        << "Resign = false\n"
        << "[Engine]\n"
        << "Hash = 4\n";
    return path;
}

// Asks a separate Brik whether `moves` (from the start position) is a legal
// game: each move must change the position and none may be refused.
bool legal_game(const std::string& moves, std::string* complaint) {
    EngineProcess judge;
    if (!engine_start_uci(judge)) {
        *complaint = "judge did not start";
        return false;
    }
    std::vector<std::string> seen;
    engine_send(judge, "position startpos moves " + moves + "\n.\n");
    bool ok = engine_wait_for(judge, "fen: ", &seen);
    for (const std::string& line : seen)
        if (line.find("info string") != std::string::npos) {
            ok = false;
            *complaint = line;
        }
    engine_stop(judge);
    return ok;
}

// The move of the adapter's next "move" line; other lines are thinking output.
std::string next_engine_move(EngineProcess& p, std::vector<std::string>& seen) {
    if (!engine_wait_for(p, "move ", &seen, 60000)) return "";
    return seen.back().substr(5);
}

}  // namespace

TEST(Polyglot, PlaysLegalMovesAsAnXboardEngine) {
    std::string program = polyglot_path();
    if (program.empty()) GTEST_SKIP() << "polyglot is not installed";

    std::string dir = make_temp_directory();
    ASSERT_FALSE(dir.empty());
    prime_magics(dir);
    EngineProcess p;
    ASSERT_TRUE(start_polyglot(p, program, dir, write_ini(dir)));

    engine_send(p, "xboard\nprotover 2\n");
    std::vector<std::string> seen;
    bool features_done = false;
    for (std::string line; !features_done && engine_read_line(p, line, 30000);) {
        seen.push_back(line);
        features_done = line.rfind("feature", 0) == 0 && line.find("done=1") != std::string::npos;
    }
    ASSERT_TRUE(features_done);
    bool names_brik = false;
    for (const std::string& line : seen) names_brik |= line.find("myname=") != std::string::npos && line.find("Brik") != std::string::npos;
    EXPECT_TRUE(names_brik);

    engine_send(p, "accepted usermove\nnew\nst 1\npost\nusermove e2e4\n");
    seen.clear();
    std::string reply = next_engine_move(p, seen);
    ASSERT_FALSE(reply.empty()) << "no reply to e2e4";
    std::string game = "e2e4 " + reply;
    std::string complaint;
    EXPECT_TRUE(legal_game(game, &complaint)) << game << ": " << complaint;

    // Our second move: the first of these that the position allows.
    std::string ours;
    for (const char* candidate : {"d2d4", "g1f3", "b1c3", "f1c4", "d2d3", "a2a3", "h2h3"}) {
        std::string ignored;
        if (legal_game(game + " " + candidate, &ignored)) {
            ours = candidate;
            break;
        }
    }
    ASSERT_FALSE(ours.empty()) << game;
    engine_send(p, "usermove " + ours + "\n");
    seen.clear();
    reply = next_engine_move(p, seen);
    ASSERT_FALSE(reply.empty()) << "no reply to " << ours;
    game += " " + ours + " " + reply;
    EXPECT_TRUE(legal_game(game, &complaint)) << game << ": " << complaint;
    for (const std::string& line : seen) EXPECT_EQ(line.find("Illegal move"), std::string::npos) << line;

    // The game goes on in the adapter's eyes: a ping is answered.
    engine_send(p, "ping 7\n");
    seen.clear();
    EXPECT_TRUE(engine_wait_for(p, "pong 7", &seen, 20000));

    engine_send(p, "quit\n");
    EXPECT_TRUE(engine_wait_exit(p, 20000));
    EXPECT_EQ(p.exit_status, 0);
    engine_stop(p);  // also removes the directory
}
