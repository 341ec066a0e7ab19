// Search: iterative deepening with aspiration windows over a principal-
// variation alpha-beta search and a quiescence search, the stop rules of
// "go", and the "info"/"bestmove" output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "eval.h"
#include "movepick.h"
#include "timeman.h"

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
    int multipv;            // best root moves to report (1 when 0)
    bool show_wdl;          // score lines carry "wdl W D L"
    int elo;                // play at this level (STRENGTH_MIN_ELO..STRENGTH_MAX_ELO); 0: full strength
    int searchmove_count;   // root moves restricted to these when non-zero
    Move searchmoves[MAX_MOVES];
    // Tablebases (when loaded): nodes of at most tb_probe_limit men are probed
    // with tb_probe_depth plies left or more (any depth below the largest
    // table's men); tb_rule50 makes cursed wins and blessed losses draws.
    int tb_probe_depth;
    int tb_probe_limit;
    bool tb_rule50;
};

// Fresh limits: no limit given, full depth, the tablebase options' defaults.
SearchLimits default_limits();

// Playing levels for people: UCI_Elo's range, as calibrated against other engines.
constexpr int STRENGTH_MIN_ELO = 1350;
constexpr int STRENGTH_MAX_ELO = 2100;
// At a level: the nodes a search may spend, and how many centipawns below
// the best line a move may score and still be picked.
U64 strength_nodes(int elo);
int strength_spread(int elo);

constexpr int EVAL_NONE = 32001;   // no static evaluation (in check)
constexpr int STACK_OFFSET = 2;    // stack entries below the root, for ply - 1 and ply - 2
constexpr int MAX_THREADS = 1024;
constexpr int MAX_MULTIPV = 256;
constexpr int DEFAULT_TB_PROBE_DEPTH = 1;
constexpr int MAX_TB_PROBE_DEPTH = 100;

// What one ply of a thread's search keeps for the plies below it.
struct StackEntry {
    int static_eval;   // EVAL_NONE in check (and below the root)
    Move move;         // move made from this ply: 0 for a null move (and below the root)
    Move killers[2];   // quiet moves that caused a cut-off here
    Move excluded;     // the move a singular-extension search leaves out (0: none)
};

// A root move and what this "go" has learnt about it.
struct RootMove {
    Move move;
    int score;           // of its last search as a line of its own (-MATE: none yet)
    int previous_score;  // the score before that
    int depth;           // of that search
    U64 nodes;           // spent on it since the root moves were last ordered
    int pv_length;
    int pv[MAX_PLY + 2];  // its line, from that search
};

struct SearchPool;

// Everything one search thread changes: its own position, move ordering,
// pawn cache, per-ply stack and principal variations.
struct SearchThread {
    int id;                 // 0: the main thread, which reads input and prints
    SearchPool* pool;
    Position pos;
    MoveHistory ordering;
    PawnTable pawns;
    StackEntry stack[STACK_SIZE + STACK_OFFSET];  // entry of ply p at p + STACK_OFFSET
    int pv[MAX_PLY + 2][MAX_PLY + 2];
    int pv_length[MAX_PLY + 2];
    RootMove root_moves[MAX_MOVES];  // in the order of the root record's move list
    U64 check_mask;          // limits are looked at when nodes & check_mask is 0
    int seldepth;
    int completed_depth;
    // Written by this thread at every node, read by the others now and then:
    // a cache line of its own, so those reads never stall this thread's work.
    alignas(64) std::atomic<U64> nodes;
    std::atomic<U64> tb_hits;  // tablebase probes that found the position
    char nodes_line_end[64 - 2 * sizeof(std::atomic<U64>)];
};

// The stack entry of ply `ply` (-STACK_OFFSET at least).
inline StackEntry* stack_at(SearchThread& t, int ply) { return &t.stack[ply + STACK_OFFSET]; }

// The threads of a search and the control they share. Thread 0 runs on the
// caller's thread (think); the helpers wait on a condition variable between
// searches, so an idle pool uses no CPU.
struct SearchPool {
    std::vector<SearchThread*> threads;
    std::vector<std::thread> workers;  // workers[i] runs threads[i + 1]
    std::mutex mutex;
    std::condition_variable wake;      // helpers wait here for a search (or for the end)
    std::condition_variable done;      // think waits here for the helpers to finish
    int generation = 0;                // raised by every search the helpers join
    int running = 0;                   // helpers still searching
    bool exiting = false;

    // The running search; written before the helpers start.
    SearchLimits limits;
    int max_depth = 0;
    int64_t start_time = 0;
    TimeBudget budget{0, 0};
    bool use_clock = false;
    U64 next_report = 0;
    // Tablebases for this search: nodes of up to tb_men men are probed
    // (0: none), tb_largest is the largest table's. A root in the tables
    // reports root_table_score unless the search finds a mate.
    int tb_men = 0;
    int tb_largest = 0;
    bool root_in_tables = false;
    int root_table_score = 0;
    std::atomic<bool> pondering{false};
    std::atomic<bool> stopped{false};   // "stop", a limit or "quit": unwind now
    std::atomic<bool> quitting{false};
    std::atomic<bool> stop_on_ponderhit{false};  // the clock would have ended the search while pondering

    // Called every few thousand nodes of the main thread while a search runs,
    // and while a finished infinite or ponder search waits for "stop". It reads
    // waiting input and answers through search_stop, search_quit and
    // search_ponderhit. Null: no input is read.
    void (*poll_input)() = nullptr;

    SearchPool();
    ~SearchPool();
    SearchPool(const SearchPool&) = delete;
    SearchPool& operator=(const SearchPool&) = delete;
};

// Sets the number of threads (clamped to 1 .. MAX_THREADS), building them
// anew with cleared move ordering; only between searches. False (the pool
// kept as it was) when memory is short.
bool set_thread_count(SearchPool& pool, int count);
inline int thread_count(const SearchPool& pool) { return int(pool.threads.size()); }

void search_stop(SearchPool& pool);
void search_quit(SearchPool& pool);
// The pondered move was played: the clock limits of the "go" apply, counted
// from the "go" (a search that has already used its budget answers at once).
void search_ponderhit(SearchPool& pool);
bool search_quitting(const SearchPool& pool);
// Nodes of the last search, all threads together; its tablebase hits likewise.
U64 search_nodes(const SearchPool& pool);
U64 search_tb_hits(const SearchPool& pool);

// What a search settled on: the move of its "bestmove" (0 when the root has
// no legal move) and its score, from the side to move's view.
struct SearchResult {
    Move best_move;
    int score;
};

// Runs one "go" from the game's root record: prints "info" lines and exactly
// one "bestmove" (none after "quit").
SearchResult think(SearchPool& pool, const SearchLimits& limits, const Position& game);

// Clears what a new game should not inherit: hash table, history, killers.
void clear_search_memory(SearchPool& pool);

// The parts of think, for tests. search_prepare sets up the pool's limits and
// the main thread on the game, as think does, and returns the main thread.
SearchThread& search_prepare(SearchPool& pool, const SearchLimits& limits, const Position& game);
int search(SearchThread& t, int alpha, int beta, int depth, PlyRecord* rec, bool cut_node);
int quiesce(SearchThread& t, int alpha, int beta, PlyRecord* rec);
// "score cp N" or "score mate N" for a search score (a table result is a large cp).
std::string score_text(int score);
// The score of a table result at `ply`: wins in the table band, cursed wins
// and blessed losses as draws when `rule50` (a hair off zero), else as wins and losses.
int tablebase_score(int wdl, int ply, bool rule50);
// " wdl W D L" for a score at a game phase: per mille chances of the side to move.
std::string wdl_text(int score, int phase);
// Static draw: the fifty-move rule or material that cannot mate.
bool is_draw_by_rule(Position& pos, PlyRecord* rec);
bool insufficient_material(const BoardState& board);
