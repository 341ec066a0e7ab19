// Shared set-up for the unit tests: the engine's tables, built once per process.
#pragma once

#include <string>

#include "board.h"
#include "search.h"

// The position the unit tests play on, one per process.
Position& test_pos();
// A pool of one search thread, no input read, for the tests' searches.
SearchPool& test_pool();
// Builds every table (once) and sets up `fen` in the root record of test_pos(),
// read as a standard or a Chess960 position.
PlyRecord* setup_position(const char* fen, bool chess960 = false);
// Output printed by the engine while `action` runs.
std::string capture_output(void (*action)(void*), void* arg);

#include <cstdint>
#include <vector>

// One row of a perft table in data/: "FEN ;D1 n ;D2 n ..." (a comment line above names it).
struct PerftCase {
    std::string name;
    std::string fen;
    bool chess960;
    std::vector<uint64_t> nodes;  // nodes[d - 1] at depth d
};
// The standard table.
std::vector<PerftCase> load_perft_table();
// The Chess960 table: its positions are read with Chess960 castling.
std::vector<PerftCase> load_perft960_table();
