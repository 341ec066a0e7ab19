// Search: iterative deepening with aspiration windows over a principal-
// variation alpha-beta search and a quiescence search, the stop rules of
// "go", and the "info"/"bestmove" output.
#pragma once

#include <cstdint>

#include "board.h"

constexpr int MAX_SEARCH_DEPTH = 98;

// What "go" asked for. Zero means "not given" for every limit.
struct SearchLimits {
    int depth;              // iterations to run (MAX_SEARCH_DEPTH when none)
    U64 nodes;
    int mate;               // moves
    int64_t time[2];        // clock of each colour, ms (may be <= 0)
    int64_t increment[2];
    int moves_to_go;
    int64_t move_time;
    bool clock_given;       // wtime or btime was given
    bool time_given[2];     // that colour's clock was given
    bool infinite;
    bool ponder;
    int move_overhead;
    int searchmove_count;   // root moves restricted to these when non-zero
    Move searchmoves[MAX_MOVES];
};

// Fresh limits: no limit given, full depth.
SearchLimits default_limits();

// Called every few thousand nodes while a search runs and while a finished
// infinite or ponder search waits for "stop". It reads waiting input and
// answers through search_stop, search_quit and search_ponderhit.
extern void (*search_poll_input)();

void search_stop();
void search_quit();
// The pondered move was played: the clock limits of the "go" apply from now.
void search_ponderhit();
bool search_quitting();

// What a search settled on: the move of its "bestmove" (0 when the root has
// no legal move) and its score, from the side to move's view.
struct SearchResult {
    Move best_move;
    int score;
};

// Runs one "go" from the root record: prints "info" lines and exactly one
// "bestmove" (none after "quit").
SearchResult think(const SearchLimits& limits, PlyRecord* root);

// Clears what a new game should not inherit: hash table, history, killers.
void clear_search_memory();

// The parts of think, for tests.
int search(int alpha, int beta, int depth, PlyRecord* rec, bool cut_node);
int quiesce(int alpha, int beta, PlyRecord* rec);
// "score cp N" or "score mate N" for a search score.
const char* score_text(int score);
// Static draw: the fifty-move rule or material that cannot mate.
bool is_draw_by_rule(const PlyRecord* rec);
bool insufficient_material();
// Nodes of the last search.
U64 search_nodes();
