// Engine driver: start-up, the UCI handshake, the command loop, perft and bench.
#pragma once

#include <cstdint>

#include "board.h"

constexpr const char* ENGINE_NAME = "Brik";
constexpr const char* ENGINE_VERSION = "0.1 w32";
constexpr const char* ENGINE_AUTHOR = "the Brik developers";

// Start-up sequence and command loop; returns the process status.
int engine_main();
// Builds every precomputed table in start-up order ("magics.txt" in the
// working directory). Tests call it too.
void init_engine_tables();

// One step of the conversation: reads and carries out one waiting line.
// Returns 1 after "quit" (or the end of input), else 0; never blocks.
int command_step(PlyRecord* root);

// Position just past `word` in `line`, or null. Only the first occurrence of
// the word's first character is looked at.
const char* find_token(const char* line, const char* word);
// Value of the leading decimal digits, 0 when there are none.
int parse_decimal(const char* text);

uint64_t perft_count(int depth, PlyRecord* rec);
uint64_t perft_divide(int depth, PlyRecord* rec);
