// Runs the real brik binary as a child process and talks to it over pipes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct EngineProcess {
    pid_t pid = -1;
    int to_engine = -1;    // engine's standard input
    int from_engine = -1;  // engine's standard output
    std::string buffer;    // read but not yet taken
    std::string workdir;   // the engine's working directory
    int exit_status = -1;  // once it has ended: exit code, or 128 + signal
};

// Fresh empty temporary directory (removed by remove_directory).
std::string make_temp_directory();
void remove_directory(const std::string& dir);
// Copies "magics.txt" from a directory primed once per test process, so
// starts do not all search the magic numbers.
void prime_magics(const std::string& dir);

// The command that starts the engine, split at blanks: BRIK_ENGINE_COMMAND
// when set (e.g. "wine /path/brik.exe"), else the binary built beside the tests.
const std::vector<std::string>& engine_command();

// Starts the engine in `workdir` (a fresh temporary directory when empty).
bool engine_start(EngineProcess& e, const std::string& workdir = "", bool with_magics = true);
void engine_send(EngineProcess& e, const std::string& text);  // text as is; add "\n" yourself
void engine_close_input(EngineProcess& e);
// Next line without its line end; false on timeout or end of output.
bool engine_read_line(EngineProcess& e, std::string& line, int timeout_ms = 10000);
// Reads lines until one starts with `prefix`; all lines read go to `seen`.
bool engine_wait_for(EngineProcess& e, const std::string& prefix, std::vector<std::string>* seen = nullptr,
                     int timeout_ms = 20000);
// Sends `command` then "isready"; returns the lines read in between (without
// the "readyok"), a test failure when "readyok" does not come.
std::vector<std::string> engine_reply_to(EngineProcess& e, const std::string& command);
// Everything the engine writes until it ends (or the timeout passes).
std::string engine_read_all(EngineProcess& e, int timeout_ms = 20000);
// Waits for the process to end; false on timeout. Sets exit_status.
bool engine_wait_exit(EngineProcess& e, int timeout_ms = 10000);
// CPU seconds (user + system) used so far by the running engine.
double engine_cpu_seconds(const EngineProcess& e);
// Kills the engine if it still runs and removes its temporary directory.
void engine_stop(EngineProcess& e);

// Starts an engine past the handshake: sends "uci" and reads up to "uciok".
bool engine_start_uci(EngineProcess& e);
