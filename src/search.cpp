#include "search.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "attacks.h"
#include "eval.h"
#include "movegen.h"
#include "movepick.h"
#include "platform.h"
#include "syzygy.h"
#include "timeman.h"
#include "tt.h"

// ---- Tunables ----------------------------------------------------------------

constexpr int DEFAULT_CLOCK_MS = 100000;    // a "go" without any limit plays as on this clock
constexpr U64 CHECK_EVERY_NODES = 1024;     // clock, node limit and input looked at this often
constexpr U64 NODE_REPORT_INTERVAL = 0x80000;
constexpr int MATE_PROOF_MARGIN = 8;        // plies past a mate's length before the clock search trusts it
// Playing at a level (UCI_LimitStrength): a node budget that doubles every
// STRENGTH_ELO_PER_DOUBLING from STRENGTH_BASE_NODES at STRENGTH_BASE_ELO, and
// a random pick among the best STRENGTH_CANDIDATES lines, each raised by a
// random amount up to the level's spread (STRENGTH_MAX_SPREAD at the lowest
// level, shrinking in proportion to none at the highest). Once the spread is
// below STRENGTH_MIN_SPREAD the pick is left out: the extra lines would cost
// more depth than the pick weakens.
constexpr double STRENGTH_BASE_ELO = 1500;
constexpr double STRENGTH_BASE_NODES = 2800;
constexpr double STRENGTH_ELO_PER_DOUBLING = 80;
constexpr int STRENGTH_CANDIDATES = 4;
constexpr int STRENGTH_MAX_SPREAD = 100;
constexpr int STRENGTH_MIN_SPREAD = 20;

constexpr int ASPIRATION_MIN_DEPTH = 5;
constexpr int ASPIRATION_WINDOW = 20;

constexpr int RFP_MAX_DEPTH = 7;            // reverse futility: eval far above beta
constexpr int RFP_MARGIN = 75;
constexpr int RAZOR_MAX_DEPTH = 2;          // razoring: eval far below alpha
constexpr int RAZOR_MARGIN = 250;
constexpr int NULL_MIN_DEPTH = 2;
constexpr int NULL_BASE_REDUCTION = 3;
constexpr int NULL_DEPTH_DIVISOR = 4;
constexpr int NULL_EVAL_DIVISOR = 200;
constexpr int PROBCUT_MIN_DEPTH = 5;        // ProbCut: a capture beats beta by a margin at reduced depth
constexpr int PROBCUT_MARGIN = 200;
constexpr int PROBCUT_REDUCTION = 4;
constexpr int IIR_MIN_DEPTH = 4;            // nodes without a hash move search one ply less
constexpr int LMP_MAX_DEPTH = 8;            // late-move pruning of quiet moves
constexpr int FUTILITY_MAX_DEPTH = 6;
constexpr int FUTILITY_BASE = 100;
constexpr int FUTILITY_MARGIN = 90;
constexpr int SEE_PRUNE_MAX_DEPTH = 6;
constexpr int SEE_QUIET_MARGIN = 60;        // per ply of depth
constexpr int SEE_CAPTURE_MARGIN = 100;     // per ply of depth
constexpr int LMR_MIN_DEPTH = 3;
constexpr double LMR_BASE = 0.75;
constexpr double LMR_DIVISOR = 2.25;
constexpr int LMR_HISTORY_DIVISOR = 6000;
constexpr int SINGULAR_MIN_DEPTH = 8;      // singular extensions: the hash move alone holds the score
constexpr int SINGULAR_DEPTH_MARGIN = 3;   // the stored lower bound is at most this much shallower
constexpr int SINGULAR_MARGIN = 2;         // per ply: how far below the stored score the others must stay
constexpr int DELTA_MARGIN = 200;           // quiescence: a capture that cannot reach alpha
constexpr int TB_STORE_DEPTH_BONUS = 6;     // a table result is stored as deeper than the node
constexpr int TB_CURSED_SCORE = 2;          // a cursed win under the fifty-move rule: a draw, by a hair better

static_assert(MAX_PLY < TABLEBASE_PLY_SPAN, "table scores must stay in their band at every ply");

// Helper threads skip some iterations so that the threads spread over
// neighbouring depths: helper i searches depth d unless
// ((d + SKIP_PHASE[i]) / SKIP_SIZE[i]) is odd.
constexpr int SKIP_PATTERNS = 20;
constexpr int SKIP_SIZE[SKIP_PATTERNS] = {1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4};
constexpr int SKIP_PHASE[SKIP_PATTERNS] = {0, 1, 0, 1, 2, 3, 0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 6, 7};
constexpr U64 HELPER_NODE_LIMIT_CHECK = 64;  // node-limited searches with helpers look this often

// ---- Reductions table -----------------------------------------------------------

struct LmrTable {
    int r[64][64];
};

static LmrTable make_lmr_table() {
    LmrTable t{};
    for (int d = 1; d < 64; d++)
        for (int m = 1; m < 64; m++) t.r[d][m] = int(LMR_BASE + std::log(double(d)) * std::log(double(m)) / LMR_DIVISOR);
    return t;
}

// Built once, on first use, then only read.
static const LmrTable& lmr() {
    static const LmrTable table = make_lmr_table();
    return table;
}

SearchLimits default_limits() {
    SearchLimits l;
    memset(&l, 0, sizeof l);
    l.depth = MAX_SEARCH_DEPTH;
    l.tb_probe_depth = DEFAULT_TB_PROBE_DEPTH;
    l.tb_probe_limit = SYZYGY_MAX_MEN;
    l.tb_rule50 = true;
    return l;
}

U64 strength_nodes(int elo) {
    return U64(STRENGTH_BASE_NODES * std::pow(2.0, (elo - STRENGTH_BASE_ELO) / STRENGTH_ELO_PER_DOUBLING));
}

int strength_spread(int elo) {
    return STRENGTH_MAX_SPREAD * (STRENGTH_MAX_ELO - elo) / (STRENGTH_MAX_ELO - STRENGTH_MIN_ELO);
}

// The line a weakened search plays: the best of the lines' scores, each
// raised by a random amount up to the spread, so no move falls further than
// the spread below the best.
static const RootMove& pick_weaker_line(const std::vector<RootMove>& lines, int elo) {
    static std::mt19937 random{std::random_device{}()};
    const int spread = strength_spread(elo);
    std::uniform_int_distribution<int> noise(0, spread > 0 ? spread : 0);
    size_t chosen = 0;
    int chosen_value = -2 * MATE;
    for (size_t i = 0; i < lines.size(); i++) {
        int value = lines[i].score + noise(random);
        if (value > chosen_value) chosen = i, chosen_value = value;
    }
    return lines[chosen];
}

// ---- The pool ------------------------------------------------------------------

// A thread record in memory the system hands out zeroed: its large tables
// (history, pawn cache) start cleared without a page being touched, which
// keeps start-up quick. Null when the system refuses.
static SearchThread* new_search_thread() {
    void* memory = allocate_zeroed(sizeof(SearchThread));
    return memory ? new (memory) SearchThread : nullptr;
}

static void delete_search_thread(SearchThread* t) {
    t->~SearchThread();
    free_zeroed(t, sizeof(SearchThread));
}

// Sets up a record fresh from new_search_thread.
static SearchThread* init_search_thread(SearchThread* t, SearchPool& pool, int id) {
    t->id = id;
    t->pool = &pool;
    init_position(t->pos);
    t->nodes.store(0, std::memory_order_relaxed);
    t->tb_hits.store(0, std::memory_order_relaxed);
    t->check_mask = CHECK_EVERY_NODES - 1;
    t->seldepth = t->completed_depth = 0;
    return t;
}

static void helper_loop(SearchPool& pool, SearchThread& t, int seen);

// Ends the helpers and frees every thread record.
static void dismiss_threads(SearchPool& pool) {
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.exiting = true;
    }
    pool.wake.notify_all();
    for (std::thread& w : pool.workers) w.join();
    pool.workers.clear();
    for (SearchThread* t : pool.threads) delete_search_thread(t);
    pool.threads.clear();
    pool.exiting = false;
}

SearchPool::SearchPool() { set_thread_count(*this, 1); }

SearchPool::~SearchPool() { dismiss_threads(*this); }

bool set_thread_count(SearchPool& pool, int count) {
    if (count < 1) count = 1;
    if (count > MAX_THREADS) count = MAX_THREADS;
    // All records first, so that a shortage leaves the pool as it was.
    std::vector<SearchThread*> fresh;
    for (int i = 0; i < count; i++) {
        SearchThread* t = new_search_thread();
        if (!t) {
            for (SearchThread* made : fresh) delete_search_thread(made);
            return false;
        }
        fresh.push_back(t);
    }
    dismiss_threads(pool);
    for (int i = 0; i < count; i++) pool.threads.push_back(init_search_thread(fresh[size_t(i)], pool, i));
    for (int i = 1; i < count; i++) {
        SearchThread* t = pool.threads[size_t(i)];
        int generation = pool.generation;
        pool.workers.emplace_back([&pool, t, generation] { helper_loop(pool, *t, generation); });
    }
    return true;
}

void search_stop(SearchPool& pool) { pool.stopped.store(true, std::memory_order_relaxed); }
void search_quit(SearchPool& pool) {
    pool.quitting.store(true, std::memory_order_relaxed);
    pool.stopped.store(true, std::memory_order_relaxed);
}
// The clock limits count from the "go": time spent pondering on the move
// that was played is time the search has already had. A search that would
// have ended by the clock while pondering ends now.
void search_ponderhit(SearchPool& pool) {
    if (!pool.pondering.load(std::memory_order_relaxed)) return;
    pool.pondering.store(false, std::memory_order_relaxed);
    if (pool.stop_on_ponderhit.load(std::memory_order_relaxed)) search_stop(pool);
}
bool search_quitting(const SearchPool& pool) { return pool.quitting.load(std::memory_order_relaxed); }

U64 search_nodes(const SearchPool& pool) {
    U64 total = 0;
    for (const SearchThread* t : pool.threads) total += t->nodes.load(std::memory_order_relaxed);
    return total;
}

U64 search_tb_hits(const SearchPool& pool) {
    U64 total = 0;
    for (const SearchThread* t : pool.threads) total += t->tb_hits.load(std::memory_order_relaxed);
    return total;
}

void clear_search_memory(SearchPool& pool) {
    hash_clear();
    for (SearchThread* t : pool.threads) {
        clear_move_ordering(t->ordering);
        clear_pawn_table(t->pawns);
    }
}

static inline bool stopped(const SearchThread& t) { return t.pool->stopped.load(std::memory_order_relaxed); }

// ---- Output ----------------------------------------------------------------------

std::string score_text(int score) {
    char text[32];
    if (score > MATE_BOUND) snprintf(text, sizeof text, "mate %i", (MATE - score) / 2 + 1);
    else if (score < -MATE_BOUND) snprintf(text, sizeof text, "mate %i", -((score + MATE) / 2));
    else snprintf(text, sizeof text, "cp %i", score);
    return text;
}

int tablebase_score(int wdl, int ply, bool rule50) {
    const int draw_reach = rule50 ? WDL_CURSED_WIN : WDL_DRAW;  // results at most this far from 0 are draws
    if (wdl > draw_reach) return TABLEBASE_WIN - ply;
    if (wdl < -draw_reach) return ply - TABLEBASE_WIN;
    return wdl * TB_CURSED_SCORE;
}

std::string wdl_text(int score, int phase) {
    Wdl wdl = score > TABLEBASE_WIN_BOUND    ? Wdl{1000, 0, 0}
              : score < -TABLEBASE_WIN_BOUND ? Wdl{0, 0, 1000}
                                             : eval_wdl(score, phase);
    char text[40];
    snprintf(text, sizeof text, " wdl %i %i %i", wdl.win, wdl.draw, wdl.loss);
    return text;
}

static int64_t elapsed_ms(const SearchPool& pool) { return now_ms() - pool.start_time; }

static unsigned long long nps(U64 nodes, int64_t elapsed) {
    return elapsed > 0 ? (unsigned long long)(nodes * 1000 / U64(elapsed)) : 0;
}

// A principal variation as text, cut to fit a line.
static std::string pv_string(const Position& pos, const int* pv, int length) {
    std::string text;
    for (int i = 0; i < length && text.size() < 3000; i++) {
        if (i) text += ' ';
        text += move_to_text(pos, Move(pv[i]));
    }
    return text;
}

// " tbhits N" while tables are loaded, else nothing.
static std::string tb_hits_text(const SearchPool& pool) {
    if (!pool.tb_largest) return "";
    return " tbhits " + std::to_string((unsigned long long)search_tb_hits(pool));
}

// The score a line shows: a root in the tables shows their result unless
// the search has found a mate.
static int shown_score(const SearchPool& pool, int score) {
    bool mate = score > MATE_BOUND || score < -MATE_BOUND;
    return pool.root_in_tables && !mate ? pool.root_table_score : score;
}

// One score line; `multipv` 0 leaves the multipv field out (a single line).
static void print_line(const SearchThread& t, int depth, int multipv, int score, const int* pv, int pv_length) {
    int64_t elapsed = elapsed_ms(*t.pool);
    U64 nodes = search_nodes(*t.pool);
    char line_number[24] = "";
    if (multipv) snprintf(line_number, sizeof line_number, " multipv %i", multipv);
    score = shown_score(*t.pool, score);
    // The board is the root's between iterations, when lines are printed.
    std::string wdl = t.pool->limits.show_wdl ? wdl_text(score, game_phase(t.pos.board)) : "";
    log_print("info depth %i seldepth %i%s score %s%s nodes %llu time %lld nps %llu%s pv %s\n", depth, t.seldepth,
              line_number, score_text(score).c_str(), wdl.c_str(), (unsigned long long)nodes, (long long)elapsed,
              nps(nodes, elapsed), tb_hits_text(*t.pool).c_str(), pv_string(t.pos, pv, pv_length).c_str());
}

static void print_score_line(const SearchThread& t, int depth, int score) {
    print_line(t, depth, 0, score, t.pv[0], t.pv_length[0]);
}

static void print_node_report(const SearchPool& pool, U64 nodes) {
    int64_t elapsed = elapsed_ms(pool);
    log_print("info time %lld nodes %llu nps %llu hashfull %i%s cpuload 1000\n", (long long)elapsed,
              (unsigned long long)nodes, nps(nodes, elapsed), hash_full(), tb_hits_text(pool).c_str());
}

// ---- Limits ------------------------------------------------------------------------

// Looks at the input (main thread), the node limit and the clock; sets
// `stopped` when the search must end.
static void check_limits(SearchThread& t) {
    SearchPool& pool = *t.pool;
    if (t.id == 0 && pool.poll_input) pool.poll_input();
    if (stopped(t)) return;
    const bool main_thread = t.id == 0;
    U64 nodes = pool.threads.size() == 1 ? t.nodes.load(std::memory_order_relaxed) : search_nodes(pool);
    if (pool.limits.nodes && nodes >= pool.limits.nodes) search_stop(pool);
    if (!main_thread) return;
    if (pool.use_clock && !pool.pondering.load(std::memory_order_relaxed) && !pool.limits.infinite &&
        t.completed_depth >= 1 && elapsed_ms(pool) >= pool.budget.hard)
        search_stop(pool);
    if (nodes >= pool.next_report) {
        pool.next_report = nodes + NODE_REPORT_INTERVAL;
        print_node_report(pool, nodes);
    }
}

static inline void count_node(SearchThread& t) {
    U64 n = t.nodes.load(std::memory_order_relaxed) + 1;
    t.nodes.store(n, std::memory_order_relaxed);
    if ((n & t.check_mask) == 0 || (t.pool->limits.nodes && n >= t.pool->limits.nodes)) check_limits(t);
}

// ---- Draws ---------------------------------------------------------------------------

bool insufficient_material(const BoardState& board) {
    const U64* p = board.pieces;
    if (p[W_PAWN] | p[B_PAWN] | p[W_ROOK] | p[B_ROOK] | p[W_QUEEN] | p[B_QUEEN]) return false;
    return popcount(p[W_KNIGHT] | p[B_KNIGHT] | p[W_BISHOP] | p[B_BISHOP]) <= 1;
}

// The fifty-move rule draws only when the side to move is not checkmated: a
// mate given on the hundredth half-move stands.
bool is_draw_by_rule(Position& pos, PlyRecord* rec) {
    if (insufficient_material(pos.board)) return true;
    if (pos.info.halfmove_clock < 100) return false;
    return rec->check_count == 0 || count_legal_moves(pos, rec) > 0;
}

// ---- Quiescence ----------------------------------------------------------------------

static inline void pv_clear(SearchThread& t, int ply) { t.pv_length[ply] = ply; }

static inline void pv_update(SearchThread& t, int ply, Move m) {
    t.pv[ply][ply] = int(m);
    for (int i = ply + 1; i < t.pv_length[ply + 1]; i++) t.pv[ply][i] = t.pv[ply + 1][i];
    t.pv_length[ply] = t.pv_length[ply + 1] > ply + 1 ? t.pv_length[ply + 1] : ply + 1;
}

// Everything a tactical move can gain: the victim, and a queen for a promotion.
static inline int tactical_gain(const BoardState& board, Move m) {
    int gain = (m & MOVE_EN_PASSANT) ? piece_value[W_PAWN]
               : board.mailbox[move_to(m)] == NO_PIECE ? 0 : piece_value[board.mailbox[move_to(m)]];
    if (m & MOVE_PROMOTION) gain += piece_value[W_QUEEN] - piece_value[W_PAWN];
    return gain;
}

int quiesce(SearchThread& t, int alpha, int beta, PlyRecord* rec) {
    Position& pos = t.pos;
    const int ply = pos.info.ply;
    count_node(t);
    if (stopped(t)) return 0;
    pv_clear(t, ply);
    if (ply > t.seldepth) t.seldepth = ply;
    if (ply > 0 && (is_repetition(pos, rec) || is_draw_by_rule(pos, rec))) return 0;
    const bool in_check = rec->check_count != 0;
    if (ply >= MAX_PLY) return in_check ? 0 : evaluate(pos, rec, &t.pawns);

    TTHit hit;
    bool found = hash_probe(rec->key, ply, hit);
    if (found && ((hit.bound == BOUND_EXACT) || (hit.bound == BOUND_LOWER && hit.score >= beta) ||
                  (hit.bound == BOUND_UPPER && hit.score <= alpha)))
        return hit.score;

    int best, stand_pat = EVAL_NONE, board_eval = EVAL_NONE;
    const int entry_alpha = alpha;
    int scores[MAX_MOVES];
    if (in_check) {
        best = -MATE;
        generate_moves(pos, rec);
        score_moves(pos.board, t.ordering, rec, scores, found ? hit.move : 0, stack_at(t, ply)->killers, 0);
    } else {
        board_eval = found && hit.eval != EVAL_NONE ? hit.eval : evaluate_board(pos, rec, &t.pawns);
        stand_pat = fifty_move_scaled(board_eval, pos.info.halfmove_clock);
        if (stand_pat >= beta) {
            if (!found) hash_store(rec->key, ply, 0, stand_pat, board_eval, 0, BOUND_LOWER);
            return stand_pat;
        }
        if (stand_pat > alpha) alpha = stand_pat;
        best = stand_pat;
        generate_captures(pos, rec);
        score_captures(pos.board, rec, scores);
    }

    PlyRecord* next = rec->next;
    Move best_move = 0;
    int legal = 0;
    for (int i = 0; i < rec->move_count; i++) {
        pick_move(rec, scores, i);
        Move m = rec->moves[i];
        if (!in_check) {
            // Captures that cannot lift the score to alpha, or that lose material.
            if (!(m & MOVE_PROMOTION) && stand_pat + tactical_gain(pos.board, m) + DELTA_MARGIN <= alpha) continue;
            if (see(pos.board, m) < 0) continue;
        }
        hash_prefetch(key_after(pos, rec, m));
        if (!make_move(pos, i, rec, next)) continue;
        legal++;
        update_check_info(pos, next);
        int score = -quiesce(t, -beta, -alpha, next);
        unmake_move(pos, i, rec);
        if (stopped(t)) return 0;
        if (score > best) {
            best = score;
            if (score > alpha) {
                best_move = m;
                alpha = score;
                if (score >= beta) break;
            }
        }
    }
    if (in_check && legal == 0) return ply - MATE;
    int bound = best >= beta ? BOUND_LOWER : best > entry_alpha ? BOUND_EXACT : BOUND_UPPER;
    hash_store(rec->key, ply, best_move, best, board_eval, 0, bound);
    return best;
}

// ---- Alpha-beta ---------------------------------------------------------------------

// Null move needs material that makes zugzwang unlikely.
static bool null_move_material(const BoardState& board, int side) {
    const U64* p = board.pieces;
    if (p[make_piece(ROOK, side)] | p[make_piece(QUEEN, side)]) return true;
    return popcount(p[make_piece(KNIGHT, side)] | p[make_piece(BISHOP, side)]) >= 2;
}

// Quiet moves tried after this many are pruned at low depth.
static inline int late_move_limit(int depth, bool improving) { return (3 + depth * depth) / (improving ? 1 : 2); }

int search(SearchThread& t, int alpha, int beta, int depth, PlyRecord* rec, bool cut_node) {
    Position& pos = t.pos;
    const int ply = pos.info.ply;
    const bool pv_node = beta - alpha > 1;
    if (depth <= 0) return quiesce(t, alpha, beta, rec);
    count_node(t);
    if (stopped(t)) return 0;
    pv_clear(t, ply);
    const bool in_check = rec->check_count != 0;
    StackEntry* ss = stack_at(t, ply);
    const Move excluded = ss->excluded;  // a singular-extension search of this node

    // 1. Draws and the ply limit; mate-distance pruning: no line from here
    // can do better than mating at once or worse than being mated now.
    if (is_repetition(pos, rec) || is_draw_by_rule(pos, rec)) return 0;
    if (ply >= MAX_PLY) return in_check ? 0 : evaluate(pos, rec, &t.pawns);
    if (alpha < ply - MATE) alpha = ply - MATE;
    if (beta > MATE - ply - 1) beta = MATE - ply - 1;
    if (alpha >= beta) return alpha;

    // 2. The transposition table: a deep enough bound ends a non-PV node.
    TTHit hit;
    bool found = hash_probe(rec->key, ply, hit);
    Move hash_move = found ? hit.move : 0;
    if (found && !pv_node && !excluded && hit.depth >= depth &&
        ((hit.bound == BOUND_EXACT) || (hit.bound == BOUND_LOWER && hit.score >= beta) ||
         (hit.bound == BOUND_UPPER && hit.score <= alpha)))
        return hit.score;

    // 2b. The tablebases, after a capture or a pawn move (the tables know
    // nothing of the fifty-move counter, so only its zero is exact) without
    // castling rights. A win or loss is a bound: the search may still find a
    // mate. Deep enough nodes only, unless smaller tables are cheap to probe.
    int tb_best = -MATE, max_value = MATE;
    const SearchPool& pool = *t.pool;
    if (pool.tb_men && ply > 0 && !excluded && pos.info.halfmove_clock == 0 && rec->castling == 0) {
        const int men = syzygy_men(pos.board);
        if (men <= pool.tb_men && (depth >= pool.limits.tb_probe_depth || men < pool.tb_largest)) {
            int wdl = syzygy_probe_wdl(pos, rec);
            if (wdl != WDL_NONE) {
                t.tb_hits.store(t.tb_hits.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
                const int value = tablebase_score(wdl, ply, pool.limits.tb_rule50);
                const int bound = value > TABLEBASE_WIN_BOUND    ? BOUND_LOWER
                                  : value < -TABLEBASE_WIN_BOUND ? BOUND_UPPER
                                                                 : BOUND_EXACT;
                if (bound == BOUND_EXACT || (bound == BOUND_LOWER ? value >= beta : value <= alpha)) {
                    int stored_depth = depth + TB_STORE_DEPTH_BONUS < MAX_PLY - 1 ? depth + TB_STORE_DEPTH_BONUS
                                                                                   : MAX_PLY - 1;
                    hash_store(rec->key, ply, 0, value, EVAL_NONE, stored_depth, bound);
                    return value;
                }
                // A PV node searches on within what the table allows.
                if (pv_node) {
                    if (bound == BOUND_LOWER) {
                        tb_best = value;
                        if (alpha < value) alpha = value;
                    } else {
                        max_value = value;
                    }
                }
            }
        }
    }

    // 3. Static evaluation, sharpened by a stored bound on the real score.
    int eval = EVAL_NONE, board_eval = EVAL_NONE;
    if (!in_check) {
        board_eval = found && hit.eval != EVAL_NONE ? hit.eval : evaluate_board(pos, rec, &t.pawns);
        int static_eval = fifty_move_scaled(board_eval, pos.info.halfmove_clock);
        eval = static_eval;
        if (found && ((hit.bound == BOUND_LOWER && hit.score > eval) || (hit.bound == BOUND_UPPER && hit.score < eval)))
            eval = hit.score;
        ss->static_eval = static_eval;
    } else {
        ss->static_eval = EVAL_NONE;
    }
    const bool improving = !in_check && ply >= 2 && (ss - 2)->static_eval != EVAL_NONE &&
                           ss->static_eval > (ss - 2)->static_eval;
    (ss + 1)->killers[0] = (ss + 1)->killers[1] = 0;
    PlyRecord* next = rec->next;

    if (!pv_node && !in_check && !excluded) {
        // 4. Reverse futility: far above beta, a quiet position stays there.
        if (depth <= RFP_MAX_DEPTH && eval - RFP_MARGIN * (depth - improving) >= beta && eval < TABLEBASE_WIN_BOUND)
            return eval;

        // 5. Razoring: far below alpha, only captures could help.
        if (depth <= RAZOR_MAX_DEPTH && eval + RAZOR_MARGIN * depth <= alpha) {
            int score = quiesce(t, alpha, alpha + 1, rec);
            if (score <= alpha) return score;
        }

        // 6. Null move: if passing still fails high, a real move will too.
        if (depth >= NULL_MIN_DEPTH && eval >= beta && ply > 0 && (ss - 1)->move != 0 &&
            beta > -TABLEBASE_WIN_BOUND && beta < TABLEBASE_WIN_BOUND && null_move_material(pos.board, pos.board.side)) {
            int excess = (eval - beta) / NULL_EVAL_DIVISOR;
            int r = NULL_BASE_REDUCTION + depth / NULL_DEPTH_DIVISOR + (excess < 3 ? excess : 3);
            ss->move = 0;
            make_null_move(pos, rec, next);
            hash_prefetch(next->key);
            next->check_count = 0;
            int score = -search(t, -beta, -beta + 1, depth - 1 - r, next, !cut_node);
            unmake_null_move(pos, rec);
            if (stopped(t)) return 0;
            if (score >= beta) {
                if (score >= TABLEBASE_WIN_BOUND) score = beta;  // an unproven mate or table win
                hash_store(rec->key, ply, 0, score, board_eval, depth, BOUND_LOWER);
                return score;
            }
        }
    }

    // 6b. ProbCut: a capture that beats beta by a margin in a quiescence
    // search and then in a shallow search would very likely beat beta in a
    // full one. Runs before this node's move list is made (it fills it).
    const int probcut_beta = beta + PROBCUT_MARGIN;
    if (!pv_node && !in_check && !excluded && depth >= PROBCUT_MIN_DEPTH && beta > -TABLEBASE_WIN_BOUND &&
        beta < TABLEBASE_WIN_BOUND &&
        !(found && hit.depth >= depth - PROBCUT_REDUCTION && hit.score < probcut_beta && hit.bound != BOUND_LOWER)) {
        generate_captures(pos, rec);
        int scores[MAX_MOVES];
        score_captures(pos.board, rec, scores);
        for (int i = 0; i < rec->move_count; i++) {
            pick_move(rec, scores, i);
            Move m = rec->moves[i];
            if (see(pos.board, m) < probcut_beta - eval) continue;
            hash_prefetch(key_after(pos, rec, m));
            if (!make_move(pos, i, rec, next)) continue;
            ss->move = m;
            update_check_info(pos, next);
            int score = -quiesce(t, -probcut_beta, -probcut_beta + 1, next);
            if (score >= probcut_beta)
                score = -search(t, -probcut_beta, -probcut_beta + 1, depth - PROBCUT_REDUCTION, next, !cut_node);
            unmake_move(pos, i, rec);
            if (stopped(t)) return 0;
            if (score >= probcut_beta) {
                hash_store(rec->key, ply, m, score, board_eval, depth - PROBCUT_REDUCTION + 1, BOUND_LOWER);
                return score;
            }
        }
    }

    // 7. Internal iterative reduction: without a hash move the ordering is
    // poor, so a cheaper search comes first.
    if (depth >= IIR_MIN_DEPTH && !hash_move && (pv_node || cut_node)) depth--;

    // 7b. Singular extension: when a search without the hash move stays well
    // below its stored lower bound, the hash move alone holds the node and is
    // searched a ply deeper. When even the others reach beta, two moves
    // refute the node (multi-cut). Runs before this node's move list is
    // made, since the search of the others fills the same list.
    int hash_move_extension = 0;
    if (!excluded && ply > 0 && hash_move && depth >= SINGULAR_MIN_DEPTH && found &&
        hit.depth >= depth - SINGULAR_DEPTH_MARGIN && hit.bound != BOUND_UPPER && hit.score > -TABLEBASE_WIN_BOUND &&
        hit.score < TABLEBASE_WIN_BOUND && ply < 2 * (t.completed_depth + 1)) {
        const int singular_beta = hit.score - SINGULAR_MARGIN * depth;
        ss->excluded = hash_move;
        int score = search(t, singular_beta - 1, singular_beta, (depth - 1) / 2, rec, cut_node);
        ss->excluded = 0;
        if (stopped(t)) return 0;
        if (score < singular_beta) hash_move_extension = 1;
        else if (singular_beta >= beta) return singular_beta;
    }

    // 8. The moves.
    generate_moves(pos, rec);
    int scores[MAX_MOVES];
    Move previous = (ss - 1)->move;
    score_moves(pos.board, t.ordering, rec, scores, hash_move, ss->killers, previous);

    const int entry_alpha = alpha;
    int best = tb_best, legal = 0, quiet_count = 0;
    Move best_move = 0;
    Move quiets[MAX_MOVES];
    bool skip_quiets = false;
    const auto& reduction = lmr().r;
    for (int i = 0; i < rec->move_count; i++) {
        pick_move(rec, scores, i);
        Move m = rec->moves[i];
        if (m == excluded) continue;
        const bool quiet = !is_tactical(m);
        if (quiet && skip_quiets) continue;

        // 8a. Pruning of moves that are very unlikely to matter, once a move
        // has saved the node from being mated.
        if (!pv_node && best > -TABLEBASE_WIN_BOUND && !in_check) {
            if (quiet) {
                if (depth <= LMP_MAX_DEPTH && quiet_count >= late_move_limit(depth, improving)) {
                    skip_quiets = true;
                    continue;
                }
                int lmr_depth = depth - 1 - reduction[depth < 64 ? depth : 63][legal + 1 < 64 ? legal + 1 : 63];
                if (lmr_depth <= FUTILITY_MAX_DEPTH && eval + FUTILITY_BASE + FUTILITY_MARGIN * lmr_depth <= alpha) {
                    skip_quiets = true;
                    continue;
                }
                if (depth <= SEE_PRUNE_MAX_DEPTH && see(pos.board, m) < -SEE_QUIET_MARGIN * depth) continue;
            } else if (depth <= SEE_PRUNE_MAX_DEPTH && scores[i] < SCORE_GOOD_CAPTURE / 2 &&
                       see(pos.board, m) < -SEE_CAPTURE_MARGIN * depth) {
                continue;
            }
        }

        hash_prefetch(key_after(pos, rec, m));
        if (!make_move(pos, i, rec, next)) continue;
        legal++;
        ss->move = m;
        update_check_info(pos, next);
        const bool gives_check = next->check_count != 0;
        int new_depth = depth - 1 + (m == hash_move ? hash_move_extension : gives_check ? 1 : 0);

        // 8b. Principal-variation search with late-move reductions.
        int score;
        if (legal == 1) {
            score = -search(t, -beta, -alpha, new_depth, next, !pv_node && !cut_node);
        } else {
            int r = 0;
            if (depth >= LMR_MIN_DEPTH && quiet) {
                r = reduction[depth < 64 ? depth : 63][legal < 64 ? legal : 63];
                r += !pv_node;
                r += cut_node;
                r -= improving;
                r -= gives_check;
                r -= scores[i] >= SCORE_COUNTER;  // killers and the counter move
                r -= t.ordering.history[pos.board.side ^ 1][move_from(m)][move_to(m)] / LMR_HISTORY_DIVISOR;
                if (r < 0) r = 0;
                if (r > new_depth - 1) r = new_depth - 1 > 0 ? new_depth - 1 : 0;
            }
            score = -search(t, -alpha - 1, -alpha, new_depth - r, next, true);
            if (score > alpha && r > 0) score = -search(t, -alpha - 1, -alpha, new_depth, next, !cut_node);
            if (score > alpha && score < beta) score = -search(t, -beta, -alpha, new_depth, next, false);
        }
        unmake_move(pos, i, rec);
        if (stopped(t)) return 0;

        if (score > best) {
            best = score;
            if (score > alpha) {
                best_move = m;
                if (pv_node) pv_update(t, ply, m);
                if (score >= beta) break;
                alpha = score;
            }
        }
        if (quiet && m != best_move) quiets[quiet_count++] = m;
    }

    // 9. No legal move: mate or stalemate. Without the excluded move, the
    // node only fails low.
    if (legal == 0) return excluded ? alpha : in_check ? ply - MATE : 0;

    if (best > max_value) best = max_value;  // never above what the table allows
    if (best >= beta && best_move && !is_tactical(best_move))
        update_quiet_stats(t.ordering, ss->killers, best_move, quiets, quiet_count, depth, previous);
    int bound = best >= beta ? BOUND_LOWER : best > entry_alpha && best_move ? BOUND_EXACT : BOUND_UPPER;
    if (!excluded) hash_store(rec->key, ply, best_move, best, board_eval, depth, bound);  // not this node's value
    return best;
}

// ---- Root and iterative deepening -----------------------------------------------------

struct RootResult {
    Move best_move;   // best of the iteration so far (0: none yet)
    int score;
    Move candidate;   // beat best_move on a null window, exact score not yet known
    int candidate_score;
};

// One iteration at the root over the legal moves of the root record from
// index `first` on (the moves before it are earlier lines of a multi-PV
// search), best first.
static int search_root(SearchThread& t, int alpha, int beta, int depth, int first, RootResult& result) {
    Position& pos = t.pos;
    PlyRecord* root = root_record(pos);
    PlyRecord* next = root->next;
    const bool main_thread = t.id == 0;
    int best = -MATE;
    pv_clear(t, 0);
    for (int i = first; i < root->move_count; i++) {
        Move m = root->moves[i];
        U64 nodes_before = t.nodes.load(std::memory_order_relaxed);
        make_move(pos, i, root, next);
        stack_at(t, 0)->move = m;
        update_check_info(pos, next);
        if (main_thread && depth > 5)
            log_print("info currmove %s currmovenumber %i\n", move_to_text(pos, m).c_str(), i + 1);
        int new_depth = depth - 1 + (next->check_count ? 1 : 0);
        int score;
        if (i == first) {
            score = -search(t, -beta, -alpha, new_depth, next, false);
        } else {
            score = -search(t, -alpha - 1, -alpha, new_depth, next, true);
            // A move that beats the best so far is proven better even if the
            // clock stops its exact search.
            if (score > alpha && !stopped(t)) {
                result.candidate = m;
                result.candidate_score = score;
                if (score < beta) score = -search(t, -beta, -alpha, new_depth, next, false);
                if (!stopped(t)) result.candidate = 0;
            }
        }
        unmake_move(pos, i, root);
        t.root_moves[i].nodes += t.nodes.load(std::memory_order_relaxed) - nodes_before;
        if (stopped(t)) break;
        if (score > best) best = score;
        if (score > alpha) {
            result.best_move = m;
            result.score = score;
            pv_update(t, 0, m);
            if (score >= beta) break;
            alpha = score;
        }
    }
    return best;
}

// From index `first` on: the best move first, the others by the effort
// their refutation took. The root record's list follows.
static void order_root_moves(SearchThread& t, int first, Move best) {
    PlyRecord* root = root_record(t.pos);
    RootMove* moves = t.root_moves;
    int n = root->move_count;
    int scores[MAX_MOVES];
    for (int i = first; i < n; i++) {
        U64 effort = moves[i].nodes >> 8;
        scores[i] = moves[i].move == best ? (1 << 30) : int(effort < (1u << 29) ? effort : (1u << 29));
    }
    // Stable insertion sort.
    for (int i = first + 1; i < n; i++) {
        int s = scores[i];
        RootMove m = moves[i];
        int j = i;
        for (; j > first && scores[j - 1] < s; j--) {
            scores[j] = scores[j - 1];
            moves[j] = moves[j - 1];
        }
        scores[j] = s;
        moves[j] = m;
    }
    for (int i = first; i < n; i++) {
        moves[i].nodes = 0;
        root->moves[i] = moves[i].move;
    }
}

// Keeps the line just searched from index `index` on, whose best move the
// ordering has put at that index: its score, depth and principal variation.
static void record_line(SearchThread& t, int index, int depth, int score) {
    RootMove& rm = t.root_moves[index];
    rm.previous_score = rm.score;
    rm.score = score;
    rm.depth = depth;
    if (t.pv_length[0] > 0 && Move(t.pv[0][0]) == rm.move) {
        rm.pv_length = t.pv_length[0];
        memcpy(rm.pv, t.pv[0], sizeof(int) * size_t(rm.pv_length));
    } else {
        rm.pv_length = 1;
        rm.pv[0] = int(rm.move);
    }
}

// Puts the first `lines` root moves in score order (stable); the root
// record's list follows.
static void sort_lines(SearchThread& t, int lines) {
    RootMove* moves = t.root_moves;
    for (int i = 1; i < lines; i++) {
        RootMove m = moves[i];
        int j = i;
        for (; j > 0 && moves[j - 1].score < m.score; j--) moves[j] = moves[j - 1];
        moves[j] = m;
    }
    PlyRecord* root = root_record(t.pos);
    for (int i = 0; i < lines; i++) root->moves[i] = moves[i].move;
}

// The lines of a multi-PV search, "multipv 1" first.
static void print_lines(const SearchThread& t, const RootMove* lines, int count) {
    for (int i = 0; i < count; i++) print_line(t, lines[i].depth, i + 1, lines[i].score, lines[i].pv, lines[i].pv_length);
}

// Keeps only the root moves "searchmoves" named (all when none of them is legal).
static void restrict_root_moves(PlyRecord* root, const SearchLimits& limits) {
    if (!limits.searchmove_count) return;
    int kept = 0;
    for (int i = 0; i < root->move_count; i++)
        for (int k = 0; k < limits.searchmove_count; k++)
            if (root->moves[i] == limits.searchmoves[k]) {
                root->moves[kept++] = root->moves[i];
                break;
            }
    if (kept) root->move_count = kept;
}

// An infinite or pondering search that has nothing left to do waits (without
// spinning) for "stop", "quit" or "ponderhit".
static void wait_while_told_to(SearchPool& pool) {
    while (!pool.stopped.load(std::memory_order_relaxed) &&
           (pool.limits.infinite || pool.pondering.load(std::memory_order_relaxed))) {
        if (!pool.poll_input) return;  // nobody could tell us
        wait_for_input();
        pool.poll_input();
    }
}

static void print_bestmove(const SearchPool& pool, Move best, Move ponder) {
    if (search_quitting(pool)) return;
    const Position& game = pool.threads[0]->pos;  // the main thread's copy: the game's castling rooks and mode
    if (ponder) log_print("bestmove %s ponder %s \n", move_to_text(game, best).c_str(), move_to_text(game, ponder).c_str());
    else log_print("bestmove %s \n", move_to_text(game, best).c_str());
}

// Whether a mate score ends the search before its limits. "go mate N" ends at
// a mate in N or fewer. On the clock, a mate counts as settled only once the
// depth is well past its length: reductions and pruning find some mate first,
// not the shortest one nor the longest defence. Explicit depth, node and
// infinite searches run to their limit.
static bool mate_settled(const SearchPool& pool, int depth, int score) {
    const SearchLimits& l = pool.limits;
    if (score <= MATE_BOUND && score >= -MATE_BOUND) return false;
    const int plies = MATE - (score < 0 ? -score : score);
    if (l.mate) return score > 0 && plies <= 2 * l.mate - 1;
    if (!pool.use_clock || l.infinite || pool.pondering.load(std::memory_order_relaxed)) return false;
    return depth >= plies + MATE_PROOF_MARGIN;
}

static void set_time_limits(SearchPool& pool, const SearchLimits& l, int side) {
    bool other_limit = l.depth < MAX_SEARCH_DEPTH || l.nodes || l.mate || l.infinite;
    pool.use_clock = l.move_time > 0 || l.clock_given || !other_limit;
    if (l.move_time > 0) pool.budget = time_budget_fixed(l.move_time, l.move_overhead);
    else if (l.clock_given)
        pool.budget = time_budget(l.time_given[side] ? l.time[side] : DEFAULT_CLOCK_MS, l.increment[side],
                                  l.moves_to_go, l.move_overhead);
    else pool.budget = time_budget(DEFAULT_CLOCK_MS, 0, 0, l.move_overhead);
}

// Fresh records of the root record's moves.
static void set_root_moves(SearchThread& t) {
    PlyRecord* root = root_record(t.pos);
    for (int i = 0; i < root->move_count; i++) {
        RootMove& rm = t.root_moves[i];
        rm.move = root->moves[i];
        rm.score = rm.previous_score = -MATE;
        rm.depth = 0;
        rm.nodes = 0;
        rm.pv_length = 0;
    }
}

// A thread's own state at the start of a search: the game, its legal root
// moves, a fresh stack and counters, aged history.
static void prepare_thread(SearchThread& t, const Position& game) {
    SearchPool& pool = *t.pool;
    copy_position(t.pos, game);
    t.pos.info.ply = 0;
    PlyRecord* root = root_record(t.pos);
    root->key = compute_full_key(t.pos, root);
    generate_legal_moves(t.pos, root);
    restrict_root_moves(root, pool.limits);
    update_check_info(t.pos, root);
    for (StackEntry& e : t.stack) e = StackEntry{EVAL_NONE, 0, {0, 0}, 0};
    // The root's own evaluation: nodes two plies down compare with it (improving).
    stack_at(t, 0)->static_eval = root->check_count ? EVAL_NONE : evaluate(t.pos, root, &t.pawns);
    set_root_moves(t);
    age_move_ordering(t.ordering);
    t.nodes.store(0, std::memory_order_relaxed);
    t.tb_hits.store(0, std::memory_order_relaxed);
    t.seldepth = 0;
    t.completed_depth = 0;
    t.pv_length[0] = 0;
    t.check_mask = pool.limits.nodes && pool.threads.size() > 1 ? HELPER_NODE_LIMIT_CHECK - 1 : CHECK_EVERY_NODES - 1;
}

// A root in the tables keeps only the moves that hold their best result
// (every thread's root, through the searchmoves list), and shows that result.
// The kept moves are still searched: a win is driven on to mate.
static void restrict_to_table_moves(SearchPool& pool, SearchThread& main) {
    PlyRecord* root = root_record(main.pos);
    if (!pool.tb_men || syzygy_men(main.pos.board) > pool.tb_men) return;
    SyzygyRoot tables = syzygy_probe_root(main.pos, root, pool.limits.tb_rule50);
    if (!tables.found) return;
    main.tb_hits.store(1, std::memory_order_relaxed);
    pool.root_in_tables = true;
    pool.root_table_score = tablebase_score(tables.wdl, 0, pool.limits.tb_rule50);
    SearchLimits& limits = pool.limits;
    limits.searchmove_count = tables.kept_count;
    for (int i = 0; i < tables.kept_count; i++) limits.searchmoves[i] = tables.kept[i];
    restrict_root_moves(root, limits);
    set_root_moves(main);
}

SearchThread& search_prepare(SearchPool& pool, const SearchLimits& given, const Position& game) {
    SearchLimits limits = given;
    if (limits.elo) {
        // A level: a node budget, and lines enough to pick from.
        U64 budget = strength_nodes(limits.elo);
        if (!limits.nodes || limits.nodes > budget) limits.nodes = budget;
        if (strength_spread(limits.elo) < STRENGTH_MIN_SPREAD) limits.elo = 0;  // the budget alone
        else if (limits.multipv < STRENGTH_CANDIDATES) limits.multipv = STRENGTH_CANDIDATES;
    }
    pool.limits = limits;
    pool.start_time = now_ms();
    pool.pondering.store(limits.ponder, std::memory_order_relaxed);
    pool.stopped.store(false, std::memory_order_relaxed);
    pool.quitting.store(false, std::memory_order_relaxed);
    pool.stop_on_ponderhit.store(false, std::memory_order_relaxed);
    pool.next_report = NODE_REPORT_INTERVAL;
    set_time_limits(pool, limits, game.board.side);
    int max_depth = limits.depth > 0 && limits.depth < MAX_SEARCH_DEPTH ? limits.depth : MAX_SEARCH_DEPTH;
    // A mate in N shows within 2N - 1 plies; a little more leaves room for the quiescence.
    if (limits.mate > 0 && 2 * limits.mate + 1 < max_depth) max_depth = 2 * limits.mate + 1;
    pool.max_depth = max_depth;
    for (SearchThread* t : pool.threads) {
        t->nodes.store(0, std::memory_order_relaxed);
        t->tb_hits.store(0, std::memory_order_relaxed);
    }
    pool.tb_largest = syzygy_largest();
    pool.tb_men = pool.tb_largest < limits.tb_probe_limit ? pool.tb_largest : limits.tb_probe_limit;
    pool.root_in_tables = false;
    SearchThread& main = *pool.threads[0];
    prepare_thread(main, game);
    restrict_to_table_moves(pool, main);
    return main;
}

// One aspiration-window iteration over the root moves from `first` on; the
// window widens until the score falls inside it.
static int aspiration_search(SearchThread& t, int depth, int first, int previous_score, Move previous_best,
                             RootResult& result) {
    int delta = ASPIRATION_WINDOW;
    int alpha = -MATE, beta = MATE;
    if (depth >= ASPIRATION_MIN_DEPTH && previous_score > -TABLEBASE_WIN_BOUND && previous_score < TABLEBASE_WIN_BOUND) {
        alpha = previous_score - delta;
        beta = previous_score + delta;
    }
    for (;;) {
        int score = search_root(t, alpha, beta, depth, first, result);
        if (stopped(t)) return score;
        if (score <= alpha) {
            beta = (alpha + beta) / 2;
            alpha = score - delta > -MATE ? score - delta : -MATE;
        } else if (score >= beta) {
            beta = score + delta < MATE ? score + delta : MATE;
        } else {
            return score;
        }
        delta += delta / 2;
        order_root_moves(t, first, result.best_move ? result.best_move : previous_best);
    }
}

// A helper's iterative deepening: the same root, no output, no clock; it
// ends when the main thread stops the search or at the last depth.
static void helper_search(SearchThread& t) {
    SearchPool& pool = *t.pool;
    PlyRecord* root = root_record(t.pos);
    if (root->move_count == 0) return;
    int pattern = (t.id - 1) % SKIP_PATTERNS;
    Move best_move = root->moves[0];
    int best_score = 0;
    for (int depth = 1; depth <= pool.max_depth && !stopped(t); depth++) {
        if (((depth + SKIP_PHASE[pattern]) / SKIP_SIZE[pattern]) % 2) continue;
        RootResult result{0, 0, 0, 0};
        int score = aspiration_search(t, depth, 0, best_score, best_move, result);
        if (stopped(t)) break;
        best_move = result.best_move ? result.best_move : best_move;
        best_score = score;
        t.completed_depth = depth;
        order_root_moves(t, 0, best_move);
    }
}

// A helper waits for each search, runs it and reports back. `seen` is the
// generation when the helper was made: searches up to it are not its own.
static void helper_loop(SearchPool& pool, SearchThread& t, int seen) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.wake.wait(lock, [&] { return pool.exiting || pool.generation != seen; });
            if (pool.exiting) return;
            seen = pool.generation;
        }
        helper_search(t);
        {
            std::lock_guard<std::mutex> lock(pool.mutex);
            pool.running--;
        }
        pool.done.notify_all();
    }
}

// Sets the helpers going on the main thread's position (already prepared).
static void start_helpers(SearchPool& pool) {
    if (pool.threads.size() < 2) return;
    const Position& game = pool.threads[0]->pos;
    for (size_t i = 1; i < pool.threads.size(); i++) prepare_thread(*pool.threads[i], game);
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.running = int(pool.threads.size()) - 1;
        pool.generation++;
    }
    pool.wake.notify_all();
}

// Stops the helpers and waits until every one has left its search.
static void stop_helpers(SearchPool& pool) {
    if (pool.threads.size() < 2) return;
    search_stop(pool);
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.done.wait(lock, [&] { return pool.running == 0; });
}

SearchResult think(SearchPool& pool, const SearchLimits& given, const Position& game) {
    hash_new_search();
    SearchThread& t = search_prepare(pool, given, game);
    const SearchLimits& limits = pool.limits;  // as a level adjusted them
    Position& pos = t.pos;
    PlyRecord* root = root_record(pos);
    int n = root->move_count;

    // No legal move: mated or stalemated, say so at once.
    if (n == 0) {
        wait_while_told_to(pool);
        const char* wdl = !limits.show_wdl ? "" : root->check_count ? " wdl 0 0 1000" : " wdl 0 1000 0";
        if (!search_quitting(pool)) log_print("info depth 0 score %s%s\n", root->check_count ? "mate 0" : "cp 0", wdl);
        print_bestmove(pool, 0, 0);
        return {0, root->check_count ? -MATE : 0};
    }
    // One legal move: nothing to think about when the clock runs.
    if (n == 1 && !limits.infinite && !limits.ponder && pool.use_clock) {
        t.pv[0][0] = int(root->moves[0]);
        t.pv_length[0] = 1;
        int64_t elapsed = elapsed_ms(pool);
        const int score = shown_score(pool, 0);
        std::string wdl = limits.show_wdl ? wdl_text(score, game_phase(pos.board)) : "";
        log_print("info depth 0 score %s%s nodes 0 time %lld nps %llu%s pv %s\n", score_text(score).c_str(),
                  wdl.c_str(), (long long)elapsed, nps(0, elapsed), tb_hits_text(pool).c_str(),
                  move_to_text(pos, root->moves[0]).c_str());
        print_bestmove(pool, root->moves[0], 0);
        return {root->moves[0], score};
    }

    start_helpers(pool);
    const int lines = limits.multipv > 1 ? (limits.multipv < n ? limits.multipv : n) : 1;
    std::vector<RootMove> shown;  // the lines of the last depth whose lines were all searched
    Move best_move = root->moves[0], ponder_move = 0;
    int best_score = 0, previous_score = 0;
    int saved_pv[MAX_PLY + 2], saved_length = 0;
    double stretch = 1.0;
    int last_depth = 0;

    for (int depth = 1; depth <= pool.max_depth; depth++) {
        if (depth > 2) log_print("info depth %i\n", depth);
        RootResult result{0, 0, 0, 0};
        int score = aspiration_search(t, depth, 0, best_score, best_move, result);

        if (stopped(t)) {
            // An unfinished iteration is trusted only for a move it proved
            // better than the last iteration's, which it searched first. That
            // move may score far below the last iteration: then the deeper
            // search has just refuted the old one.
            Move proven = result.candidate ? result.candidate : result.best_move;
            int proven_score = result.candidate ? result.candidate_score : result.score;
            if (proven && proven != best_move) {
                best_move = proven;
                best_score = proven_score;
                saved_length = 0;
                ponder_move = 0;
                // A move searched to the end has its whole line; a candidate
                // cut off on its way to an exact score has only itself.
                if (!result.candidate && t.pv_length[0] > 0 && Move(t.pv[0][0]) == proven) {
                    memcpy(saved_pv, t.pv[0], sizeof(int) * size_t(t.pv_length[0]));
                    saved_length = t.pv_length[0];
                    ponder_move = saved_length > 1 ? Move(saved_pv[1]) : 0;
                }
            }
            break;
        }

        // The iteration is complete.
        if (depth >= 4) stretch = time_stretch(stretch, result.best_move != best_move, previous_score, score);
        best_move = result.best_move ? result.best_move : best_move;
        best_score = previous_score = score;
        t.completed_depth = last_depth = depth;
        memcpy(saved_pv, t.pv[0], sizeof(int) * size_t(t.pv_length[0]));
        saved_length = t.pv_length[0];
        ponder_move = saved_length > 1 ? Move(saved_pv[1]) : 0;
        order_root_moves(t, 0, best_move);
        record_line(t, 0, depth, score);
        if (lines == 1) {
            print_score_line(t, depth, score);
        } else {
            // The other lines: each the best of the moves not yet shown.
            for (int line = 1; line < lines && !stopped(t); line++) {
                RootResult other{0, 0, 0, 0};
                const Move first_tried = t.root_moves[line].move;  // the ordering moves the records
                int line_score = aspiration_search(t, depth, line, t.root_moves[line].score, first_tried, other);
                if (stopped(t)) break;
                order_root_moves(t, line, other.best_move ? other.best_move : first_tried);
                record_line(t, line, depth, line_score);
            }
            if (stopped(t)) break;
            // Line 1 is the best line found, and it gives the move.
            sort_lines(t, lines);
            const RootMove& first = t.root_moves[0];
            best_move = first.move;
            best_score = previous_score = first.score;
            memcpy(saved_pv, first.pv, sizeof(int) * size_t(first.pv_length));
            saved_length = first.pv_length;
            ponder_move = saved_length > 1 ? Move(saved_pv[1]) : 0;
            print_lines(t, t.root_moves, lines);
            shown.assign(t.root_moves, t.root_moves + lines);
        }

        if (mate_settled(pool, depth, score)) break;
        if (pool.use_clock && !limits.infinite && !limits.move_time &&
            !time_next_iteration(pool.budget, elapsed_ms(pool), stretch)) {
            if (!pool.pondering.load(std::memory_order_relaxed)) break;
            pool.stop_on_ponderhit.store(true, std::memory_order_relaxed);
        }
    }

    wait_while_told_to(pool);
    stop_helpers(pool);
    if (search_quitting(pool)) return {best_move, best_score};
    if (limits.elo && shown.size() > 1) {
        const RootMove& pick = pick_weaker_line(shown, limits.elo);
        best_move = pick.move;
        best_score = pick.score;
        memcpy(saved_pv, pick.pv, sizeof(int) * size_t(pick.pv_length));
        saved_length = pick.pv_length;
        ponder_move = saved_length > 1 ? Move(saved_pv[1]) : 0;
        last_depth = pick.depth;
    }
    // The closing score line with the whole principal variation.
    if (lines > 1) {
        // The move played leads with its own line, then the other lines of
        // the last depth that completed them all.
        std::vector<RootMove> closing(1);
        RootMove& chosen = closing[0];
        chosen.move = best_move;
        chosen.score = best_score;
        chosen.depth = last_depth;
        chosen.pv_length = saved_length ? saved_length : ponder_move ? 2 : 1;
        if (saved_length) memcpy(chosen.pv, saved_pv, sizeof(int) * size_t(saved_length));
        chosen.pv[0] = int(best_move);
        if (!saved_length) chosen.pv[1] = int(ponder_move);
        for (const RootMove& rm : shown)
            if (rm.move != best_move && int(closing.size()) < lines) closing.push_back(rm);
        print_lines(t, closing.data(), int(closing.size()));
        print_bestmove(pool, best_move, ponder_move);
        return {best_move, shown_score(pool, best_score)};
    }
    if (saved_length) {
        memcpy(t.pv[0], saved_pv, sizeof(int) * size_t(saved_length));
        t.pv_length[0] = saved_length;
    } else {
        t.pv[0][0] = int(best_move);
        t.pv_length[0] = 1;
        if (ponder_move) {
            t.pv[0][1] = int(ponder_move);
            t.pv_length[0] = 2;
        }
    }
    print_score_line(t, last_depth, best_score);
    print_bestmove(pool, best_move, ponder_move);
    return {best_move, shown_score(pool, best_score)};
}
