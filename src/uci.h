// The UCI layer: start-up, the handshake, a tokenised command loop, options,
// the console test commands (perft, bench, print, score, ".", help) and the
// command-line benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board.h"

constexpr const char* ENGINE_NAME = "Brik";
constexpr const char* ENGINE_VERSION = "0.1 w32";
constexpr const char* ENGINE_AUTHOR = "the Brik developers";

// The program: `brik` talks UCI; `brik bench [depth]` runs the benchmark.
int uci_main(int argc, char** argv);
// Builds every precomputed table in start-up order ("magics.txt" in the
// working directory). Tests call it too.
void init_engine_tables();

// Words of a line: any run of blanks or tabs separates them.
std::vector<std::string> split_words(const std::string& line);
// Carries out one line as read from standard input after the handshake.
// Returns false once the engine must end ("quit", or the end of input).
bool uci_execute(const std::string& line);
// Lines read during a search that wait for it to end.
bool uci_has_deferred();
bool uci_execute_deferred();

// Bounds for a caller that feeds lines with nobody at the other end to send
// "stop" (the fuzz targets). Zero leaves that part unbounded.
struct CommandBounds {
    uint64_t go_nodes;  // every "go" searches at most this many nodes and never waits (infinite, ponder dropped)
    int perft_depth;    // "perft" and the console "bench" go no deeper
    int hash_mb;        // largest table "setoption name Hash" allocates
    int threads;        // most threads "setoption name Threads" starts
};
void uci_set_bounds(const CommandBounds& bounds);
// Back to the state right after the handshake: start position, default options
// and hash size (within the bounds), cleared search memory, no waiting lines,
// no "quit" seen.
void uci_reset();

// The game as "position" set it up (for tests and fuzz targets).
const Position& uci_game();

// The fixed-depth search over the built-in positions: one line per position,
// then "N nodes M nps". Returns the node total.
uint64_t run_bench(int depth);

uint64_t perft_count(Position& pos, int depth, PlyRecord* rec);
uint64_t perft_divide(Position& pos, int depth, PlyRecord* rec);
