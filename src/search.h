// Search: transposition table, move ordering, quiescence, alpha-beta,
// iterative deepening with time control, and the "info"/"bestmove" output.
#pragma once

#include <cstddef>

#include "board.h"

// One transposition-table slot, 20 bytes.
struct HashEntry {
    uint32_t key_low;
    uint32_t key_high;
    int32_t generation;  // search that stored it
    Move move;           // best move, 0 = none
    uint8_t bound;       // HASH_EXACT, HASH_UPPER (score <= value), HASH_LOWER (score >= value)
    int8_t depth;
    int16_t score;       // mate scores relative to the node
};
static_assert(sizeof(HashEntry) == 20, "HashEntry must stay 20 bytes");

enum : int { HASH_EXACT = 0, HASH_UPPER = 1, HASH_LOWER = 2 };

struct HashTable {
    HashEntry* entries;
    size_t count;  // a power of two
};

extern HashTable hash_table;
extern int hash_generation;

// Largest power-of-two entry count that fits in `megabytes`.
size_t hash_entry_count(int megabytes);
// Replaces the table with a cleared one; false (old table kept) when memory is short.
bool hash_allocate(int megabytes);
void hash_clear();
const HashEntry* hash_lookup(const PlyRecord* rec);
void hash_probe(int& beta, int& alpha, Move& move, int depth, const PlyRecord* rec);
void hash_store(Move move, int score, int bound, int depth, const PlyRecord* rec);

// Move ordering tables.
extern int history[64][64];
// Quiet moves that caused a cut-off, two per ply; recorded by the search, not
// (yet) read by the ordering, which ranks quiet moves by history and threats.
extern Move killers[STACK_SIZE][2];
void order_moves(PlyRecord* rec);
// Clears what a new game should not inherit: hash table, history, killers.
void clear_search_memory();

int quiesce(int alpha, int beta, PlyRecord* rec);
int search(int alpha, int beta, int depth, PlyRecord* rec);

void reset_search_state();
void think(int max_depth, PlyRecord* root);
void search_report();
void print_score_line(int score);
// The principal variation from the PV table, moves separated by blanks.
void pv_text(char* buffer, size_t size);
// The move "bestmove" names when a search is cut short.
Move move_to_announce();
// The closing score line, "pv" and "bestmove" of a search.
void print_final_lines(int score);
