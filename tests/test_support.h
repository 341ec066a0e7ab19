// Shared set-up for the unit tests: the engine's tables, built once per process.
#pragma once

#include <string>

#include "board.h"

// Builds every table (once) and sets up `fen` in the first record.
PlyRecord* setup_position(const char* fen);
// Output printed by the engine while `action` runs.
std::string capture_output(void (*action)(void*), void* arg);
