#include "search.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "attacks.h"
#include "eval.h"
#include "movegen.h"
#include "movepick.h"
#include "platform.h"
#include "timeman.h"
#include "tt.h"

// ---- Tunables ----------------------------------------------------------------

constexpr int DEFAULT_CLOCK_MS = 100000;    // a "go" without any limit plays as on this clock
constexpr U64 CHECK_EVERY_NODES = 1024;     // clock, node limit and input looked at this often
constexpr U64 NODE_REPORT_INTERVAL = 0x80000;
constexpr int EVAL_NONE = 32001;            // no static evaluation (in check)

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
constexpr int DELTA_MARGIN = 200;           // quiescence: a capture that cannot reach alpha

// ---- State of the running search ----------------------------------------------

struct SearchState {
    SearchLimits limits;
    int64_t start_time;
    TimeBudget budget;
    bool use_clock;
    bool pondering;
    bool stopped;           // "stop", a limit or "quit": unwind now
    bool quitting;
    U64 nodes;
    U64 next_report;
    int seldepth;
    int completed_depth;
    PlyRecord* root;
};

static SearchState ss;
void (*search_poll_input)() = nullptr;

static int pv[MAX_PLY + 2][MAX_PLY + 2];
static int pv_length[MAX_PLY + 2];
static int eval_stack[STACK_SIZE];
static Move move_stack[STACK_SIZE];      // move made at each ply, 0 for a null move
static int lmr_table[64][64];
static U64 root_move_nodes[MAX_MOVES];

SearchLimits default_limits() {
    SearchLimits l;
    memset(&l, 0, sizeof l);
    l.depth = MAX_SEARCH_DEPTH;
    return l;
}

void search_stop() { ss.stopped = true; }
void search_quit() {
    ss.quitting = true;
    ss.stopped = true;
}
void search_ponderhit() {
    if (!ss.pondering) return;
    ss.pondering = false;
    ss.start_time = now_ms();
}
bool search_quitting() { return ss.quitting; }
U64 search_nodes() { return ss.nodes; }

void clear_search_memory() {
    hash_clear();
    clear_move_ordering();
}

// ---- Output ----------------------------------------------------------------------

const char* score_text(int score) {
    static char text[32];
    if (score > MATE_BOUND) snprintf(text, sizeof text, "mate %i", (MATE - score) / 2 + 1);
    else if (score < -MATE_BOUND) snprintf(text, sizeof text, "mate %i", -((score + MATE) / 2));
    else snprintf(text, sizeof text, "cp %i", score);
    return text;
}

static int64_t elapsed_ms() { return now_ms() - ss.start_time; }

static unsigned long long nps(int64_t elapsed) {
    return elapsed > 0 ? (unsigned long long)(ss.nodes * 1000 / U64(elapsed)) : 0;
}

// The principal variation of the root as text, cut to fit a line.
static std::string pv_string() {
    std::string text;
    for (int i = 0; i < pv_length[0] && text.size() < 3000; i++) {
        if (i) text += ' ';
        text += move_to_text(Move(pv[0][i]));
    }
    return text;
}

static void print_score_line(int depth, int score) {
    int64_t elapsed = elapsed_ms();
    log_print("info depth %i seldepth %i score %s nodes %llu time %lld nps %llu pv %s\n", depth, ss.seldepth,
              score_text(score), (unsigned long long)ss.nodes, (long long)elapsed, nps(elapsed), pv_string().c_str());
}

static void print_node_report() {
    int64_t elapsed = elapsed_ms();
    log_print("info time %lld nodes %llu nps %llu hashfull %i cpuload 1000\n", (long long)elapsed,
              (unsigned long long)ss.nodes, nps(elapsed), hash_full());
}

// ---- Limits ------------------------------------------------------------------------

// Looks at the input, the node limit and the clock; sets `stopped` when the
// search must end.
static void check_limits() {
    if (search_poll_input) search_poll_input();
    if (ss.stopped) return;
    if (ss.limits.nodes && ss.nodes >= ss.limits.nodes) ss.stopped = true;
    if (ss.use_clock && !ss.pondering && !ss.limits.infinite && ss.completed_depth >= 1 &&
        elapsed_ms() >= ss.budget.hard)
        ss.stopped = true;
    if (ss.nodes >= ss.next_report) {
        ss.next_report = ss.nodes + NODE_REPORT_INTERVAL;
        print_node_report();
    }
}

static inline void count_node() {
    ss.nodes++;
    if ((ss.nodes & (CHECK_EVERY_NODES - 1)) == 0 || (ss.limits.nodes && ss.nodes >= ss.limits.nodes)) check_limits();
}

// ---- Draws ---------------------------------------------------------------------------

bool insufficient_material() {
    const U64* p = board.pieces;
    if (p[W_PAWN] | p[B_PAWN] | p[W_ROOK] | p[B_ROOK] | p[W_QUEEN] | p[B_QUEEN]) return false;
    return popcount(p[W_KNIGHT] | p[B_KNIGHT] | p[W_BISHOP] | p[B_BISHOP]) <= 1;
}

bool is_draw_by_rule(const PlyRecord*) { return search_info.halfmove_clock >= 100 || insufficient_material(); }

// ---- Quiescence ----------------------------------------------------------------------

static inline void pv_clear(int ply) { pv_length[ply] = ply; }

static inline void pv_update(int ply, Move m) {
    pv[ply][ply] = int(m);
    for (int i = ply + 1; i < pv_length[ply + 1]; i++) pv[ply][i] = pv[ply + 1][i];
    pv_length[ply] = pv_length[ply + 1] > ply + 1 ? pv_length[ply + 1] : ply + 1;
}

// Everything a tactical move can gain: the victim, and a queen for a promotion.
static inline int tactical_gain(Move m) {
    int gain = (m & MOVE_EN_PASSANT) ? piece_value[W_PAWN]
               : board.mailbox[move_to(m)] == NO_PIECE ? 0 : piece_value[board.mailbox[move_to(m)]];
    if (m & MOVE_PROMOTION) gain += piece_value[W_QUEEN] - piece_value[W_PAWN];
    return gain;
}

int quiesce(int alpha, int beta, PlyRecord* rec) {
    const int ply = search_info.ply;
    count_node();
    if (ss.stopped) return 0;
    pv_clear(ply);
    if (ply > ss.seldepth) ss.seldepth = ply;
    if (ply > 0 && (is_repetition(rec) || is_draw_by_rule(rec))) return 0;
    const bool in_check = rec->check_count != 0;
    if (ply >= MAX_PLY) return in_check ? 0 : evaluate(rec);

    TTHit hit;
    bool found = hash_probe(rec->key, ply, hit);
    if (found && ((hit.bound == BOUND_EXACT) || (hit.bound == BOUND_LOWER && hit.score >= beta) ||
                  (hit.bound == BOUND_UPPER && hit.score <= alpha)))
        return hit.score;

    int best, stand_pat = EVAL_NONE;
    const int entry_alpha = alpha;
    int scores[MAX_MOVES];
    if (in_check) {
        best = -MATE;
        generate_moves(rec);
        score_moves(rec, scores, found ? hit.move : 0, ply, 0);
    } else {
        stand_pat = found && hit.eval != EVAL_NONE ? hit.eval : evaluate(rec);
        if (stand_pat >= beta) {
            if (!found) hash_store(rec->key, ply, 0, stand_pat, stand_pat, 0, BOUND_LOWER);
            return stand_pat;
        }
        if (stand_pat > alpha) alpha = stand_pat;
        best = stand_pat;
        generate_captures(rec);
        score_captures(rec, scores);
    }

    PlyRecord* next = rec->next;
    Move best_move = 0;
    int legal = 0;
    for (int i = 0; i < rec->move_count; i++) {
        pick_move(rec, scores, i);
        Move m = rec->moves[i];
        if (!in_check) {
            // Captures that cannot lift the score to alpha, or that lose material.
            if (!(m & MOVE_PROMOTION) && stand_pat + tactical_gain(m) + DELTA_MARGIN <= alpha) continue;
            if (see(m) < 0) continue;
        }
        if (!make_move(i, rec, next)) continue;
        legal++;
        update_check_info(next);
        int score = -quiesce(-beta, -alpha, next);
        unmake_move(i, rec);
        if (ss.stopped) return 0;
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
    hash_store(rec->key, ply, best_move, best, stand_pat, 0, bound);
    return best;
}

// ---- Alpha-beta ---------------------------------------------------------------------

// Null move needs material that makes zugzwang unlikely.
static bool null_move_material(int side) {
    const U64* p = board.pieces;
    if (p[make_piece(ROOK, side)] | p[make_piece(QUEEN, side)]) return true;
    return popcount(p[make_piece(KNIGHT, side)] | p[make_piece(BISHOP, side)]) >= 2;
}

static void init_lmr_table() {
    for (int d = 1; d < 64; d++)
        for (int m = 1; m < 64; m++) lmr_table[d][m] = int(LMR_BASE + std::log(double(d)) * std::log(double(m)) / LMR_DIVISOR);
}

// Quiet moves tried after this many are pruned at low depth.
static inline int late_move_limit(int depth, bool improving) { return (3 + depth * depth) / (improving ? 1 : 2); }

int search(int alpha, int beta, int depth, PlyRecord* rec, bool cut_node) {
    const int ply = search_info.ply;
    const bool pv_node = beta - alpha > 1;
    if (depth <= 0) return quiesce(alpha, beta, rec);
    count_node();
    if (ss.stopped) return 0;
    pv_clear(ply);
    const bool in_check = rec->check_count != 0;

    // 1. Draws and the ply limit; mate-distance pruning: no line from here
    // can do better than mating at once or worse than being mated now.
    if (is_repetition(rec) || is_draw_by_rule(rec)) return 0;
    if (ply >= MAX_PLY) return in_check ? 0 : evaluate(rec);
    if (alpha < ply - MATE) alpha = ply - MATE;
    if (beta > MATE - ply - 1) beta = MATE - ply - 1;
    if (alpha >= beta) return alpha;

    // 2. The transposition table: a deep enough bound ends a non-PV node.
    TTHit hit;
    bool found = hash_probe(rec->key, ply, hit);
    Move hash_move = found ? hit.move : 0;
    if (found && !pv_node && hit.depth >= depth &&
        ((hit.bound == BOUND_EXACT) || (hit.bound == BOUND_LOWER && hit.score >= beta) ||
         (hit.bound == BOUND_UPPER && hit.score <= alpha)))
        return hit.score;

    // 3. Static evaluation, sharpened by a stored bound on the real score.
    int eval = EVAL_NONE;
    if (!in_check) {
        int static_eval = found && hit.eval != EVAL_NONE ? hit.eval : evaluate(rec);
        eval = static_eval;
        if (found && ((hit.bound == BOUND_LOWER && hit.score > eval) || (hit.bound == BOUND_UPPER && hit.score < eval)))
            eval = hit.score;
        eval_stack[ply] = static_eval;
    } else {
        eval_stack[ply] = EVAL_NONE;
    }
    const bool improving = !in_check && ply >= 2 && eval_stack[ply - 2] != EVAL_NONE && eval_stack[ply] > eval_stack[ply - 2];
    killers[ply + 1][0] = killers[ply + 1][1] = 0;
    PlyRecord* next = rec->next;

    if (!pv_node && !in_check) {
        // 4. Reverse futility: far above beta, a quiet position stays there.
        if (depth <= RFP_MAX_DEPTH && eval - RFP_MARGIN * (depth - improving) >= beta && eval < MATE_BOUND)
            return eval;

        // 5. Razoring: far below alpha, only captures could help.
        if (depth <= RAZOR_MAX_DEPTH && eval + RAZOR_MARGIN * depth <= alpha) {
            int score = quiesce(alpha, alpha + 1, rec);
            if (score <= alpha) return score;
        }

        // 6. Null move: if passing still fails high, a real move will too.
        if (depth >= NULL_MIN_DEPTH && eval >= beta && ply > 0 && move_stack[ply - 1] != 0 &&
            beta > -MATE_BOUND && beta < MATE_BOUND && null_move_material(board.side)) {
            int excess = (eval - beta) / NULL_EVAL_DIVISOR;
            int r = NULL_BASE_REDUCTION + depth / NULL_DEPTH_DIVISOR + (excess < 3 ? excess : 3);
            move_stack[ply] = 0;
            make_null_move(rec, next);
            next->check_count = 0;
            int score = -search(-beta, -beta + 1, depth - 1 - r, next, !cut_node);
            unmake_null_move(rec);
            if (ss.stopped) return 0;
            if (score >= beta) {
                if (score >= MATE_BOUND) score = beta;  // an unproven mate
                hash_store(rec->key, ply, 0, score, eval_stack[ply], depth, BOUND_LOWER);
                return score;
            }
        }
    }

    // 7. Internal iterative reduction: without a hash move the ordering is
    // poor, so a cheaper search comes first.
    if (depth >= IIR_MIN_DEPTH && !hash_move && (pv_node || cut_node)) depth--;

    // 8. The moves.
    generate_moves(rec);
    int scores[MAX_MOVES];
    Move previous = ply > 0 ? move_stack[ply - 1] : 0;
    score_moves(rec, scores, hash_move, ply, previous);

    const int entry_alpha = alpha;
    int best = -MATE, legal = 0, quiet_count = 0;
    Move best_move = 0;
    Move quiets[MAX_MOVES];
    bool skip_quiets = false;
    for (int i = 0; i < rec->move_count; i++) {
        pick_move(rec, scores, i);
        Move m = rec->moves[i];
        const bool quiet = !is_tactical(m);
        if (quiet && skip_quiets) continue;

        // 8a. Pruning of moves that are very unlikely to matter, once a move
        // has saved the node from being mated.
        if (!pv_node && best > -MATE_BOUND && !in_check) {
            if (quiet) {
                if (depth <= LMP_MAX_DEPTH && quiet_count >= late_move_limit(depth, improving)) {
                    skip_quiets = true;
                    continue;
                }
                int lmr_depth = depth - 1 - lmr_table[depth < 64 ? depth : 63][legal + 1 < 64 ? legal + 1 : 63];
                if (lmr_depth <= FUTILITY_MAX_DEPTH && eval + FUTILITY_BASE + FUTILITY_MARGIN * lmr_depth <= alpha) {
                    skip_quiets = true;
                    continue;
                }
                if (depth <= SEE_PRUNE_MAX_DEPTH && see(m) < -SEE_QUIET_MARGIN * depth) continue;
            } else if (depth <= SEE_PRUNE_MAX_DEPTH && scores[i] < SCORE_GOOD_CAPTURE / 2 &&
                       see(m) < -SEE_CAPTURE_MARGIN * depth) {
                continue;
            }
        }

        if (!make_move(i, rec, next)) continue;
        legal++;
        move_stack[ply] = m;
        update_check_info(next);
        const bool gives_check = next->check_count != 0;
        int new_depth = depth - 1 + (gives_check ? 1 : 0);

        // 8b. Principal-variation search with late-move reductions.
        int score;
        if (legal == 1) {
            score = -search(-beta, -alpha, new_depth, next, !pv_node && !cut_node);
        } else {
            int r = 0;
            if (depth >= LMR_MIN_DEPTH && quiet) {
                r = lmr_table[depth < 64 ? depth : 63][legal < 64 ? legal : 63];
                r += !pv_node;
                r += cut_node;
                r -= improving;
                r -= gives_check;
                r -= scores[i] >= SCORE_COUNTER;  // killers and the counter move
                r -= history[board.side ^ 1][move_from(m)][move_to(m)] / LMR_HISTORY_DIVISOR;
                if (r < 0) r = 0;
                if (r > new_depth - 1) r = new_depth - 1 > 0 ? new_depth - 1 : 0;
            }
            score = -search(-alpha - 1, -alpha, new_depth - r, next, true);
            if (score > alpha && r > 0) score = -search(-alpha - 1, -alpha, new_depth, next, !cut_node);
            if (score > alpha && score < beta) score = -search(-beta, -alpha, new_depth, next, false);
        }
        unmake_move(i, rec);
        if (ss.stopped) return 0;

        if (score > best) {
            best = score;
            if (score > alpha) {
                best_move = m;
                if (pv_node) pv_update(ply, m);
                if (score >= beta) break;
                alpha = score;
            }
        }
        if (quiet && m != best_move) quiets[quiet_count++] = m;
    }

    // 9. No legal move: mate or stalemate.
    if (legal == 0) return in_check ? ply - MATE : 0;

    if (best >= beta && !is_tactical(best_move))
        update_quiet_stats(best_move, quiets, quiet_count, depth, ply, previous);
    int bound = best >= beta ? BOUND_LOWER : best > entry_alpha && best_move ? BOUND_EXACT : BOUND_UPPER;
    hash_store(rec->key, ply, best_move, best, eval_stack[ply], depth, bound);
    return best;
}

// ---- Root and iterative deepening -----------------------------------------------------

struct RootResult {
    Move best_move;   // best of the iteration so far (0: none yet)
    int score;
    Move candidate;   // beat best_move on a null window, exact score not yet known
    int candidate_score;
};

// One iteration at the root over the legal moves in root->moves, best first.
static int search_root(int alpha, int beta, int depth, RootResult& result) {
    PlyRecord* root = ss.root;
    PlyRecord* next = root->next;
    int best = -MATE;
    pv_clear(0);
    for (int i = 0; i < root->move_count; i++) {
        Move m = root->moves[i];
        U64 nodes_before = ss.nodes;
        make_move(i, root, next);
        move_stack[0] = m;
        update_check_info(next);
        if (depth > 5) log_print("info currmove %s currmovenumber %i\n", move_to_text(m), i + 1);
        int new_depth = depth - 1 + (next->check_count ? 1 : 0);
        int score;
        if (i == 0) {
            score = -search(-beta, -alpha, new_depth, next, false);
        } else {
            score = -search(-alpha - 1, -alpha, new_depth, next, true);
            // A move that beats the best so far is proven better even if the
            // clock stops its exact search.
            if (score > alpha && !ss.stopped) {
                result.candidate = m;
                result.candidate_score = score;
                if (score < beta) score = -search(-beta, -alpha, new_depth, next, false);
                if (!ss.stopped) result.candidate = 0;
            }
        }
        unmake_move(i, root);
        root_move_nodes[i] += ss.nodes - nodes_before;
        if (ss.stopped) break;
        if (score > best) best = score;
        if (score > alpha) {
            result.best_move = m;
            result.score = score;
            pv_update(0, m);
            if (score >= beta) break;
            alpha = score;
        }
    }
    return best;
}

// Best move first, the others by the effort their refutation took.
static void order_root_moves(Move best) {
    PlyRecord* root = ss.root;
    int n = root->move_count;
    int scores[MAX_MOVES];
    for (int i = 0; i < n; i++) {
        U64 effort = root_move_nodes[i] >> 8;
        scores[i] = root->moves[i] == best ? (1 << 30) : int(effort < (1u << 29) ? effort : (1u << 29));
    }
    // Stable insertion sort keeps the node counts paired with their moves.
    for (int i = 1; i < n; i++) {
        int s = scores[i];
        Move m = root->moves[i];
        U64 c = root_move_nodes[i];
        int j = i;
        for (; j > 0 && scores[j - 1] < s; j--) {
            scores[j] = scores[j - 1];
            root->moves[j] = root->moves[j - 1];
            root_move_nodes[j] = root_move_nodes[j - 1];
        }
        scores[j] = s;
        root->moves[j] = m;
        root_move_nodes[j] = c;
    }
    for (int i = 0; i < n; i++) root_move_nodes[i] = 0;
}

// Keeps only the root moves "searchmoves" named (all when none of them is legal).
static void restrict_root_moves(const SearchLimits& limits) {
    if (!limits.searchmove_count) return;
    PlyRecord* root = ss.root;
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
static void wait_while_told_to() {
    while (!ss.stopped && (ss.limits.infinite || ss.pondering)) {
        wait_for_input();
        if (search_poll_input) search_poll_input();
    }
}

static void print_bestmove(Move best, Move ponder) {
    if (ss.quitting) return;
    if (ponder) {
        std::string best_text = move_to_text(best);  // move_to_text reuses one buffer
        log_print("bestmove %s ponder %s \n", best_text.c_str(), move_to_text(ponder));
    }
    else log_print("bestmove %s \n", best ? move_to_text(best) : "0000");
}

static void set_time_limits(const SearchLimits& l, int side) {
    bool other_limit = l.depth < MAX_SEARCH_DEPTH || l.nodes || l.mate || l.infinite;
    ss.use_clock = l.move_time > 0 || l.clock_given || !other_limit;
    if (l.move_time > 0) ss.budget = time_budget_fixed(l.move_time, l.move_overhead);
    else if (l.clock_given)
        ss.budget = time_budget(l.time_given[side] ? l.time[side] : DEFAULT_CLOCK_MS, l.increment[side],
                                l.moves_to_go, l.move_overhead);
    else ss.budget = time_budget(DEFAULT_CLOCK_MS, 0, 0, l.move_overhead);
}

SearchResult think(const SearchLimits& limits, PlyRecord* root) {
    static bool tables_ready = false;
    if (!tables_ready) {
        init_lmr_table();
        tables_ready = true;
    }
    ss.limits = limits;
    ss.start_time = now_ms();
    ss.pondering = limits.ponder;
    ss.stopped = ss.quitting = false;
    ss.nodes = 0;
    ss.next_report = NODE_REPORT_INTERVAL;
    ss.seldepth = 0;
    ss.completed_depth = 0;
    ss.root = root;
    search_info.ply = 0;
    set_time_limits(limits, board.side);
    hash_new_search();
    age_move_ordering();

    root->key = compute_full_key(root);
    int n = generate_legal_moves(root);
    restrict_root_moves(limits);
    n = root->move_count;
    update_check_info(root);

    // No legal move: mated or stalemated, say so at once.
    if (n == 0) {
        wait_while_told_to();
        if (!ss.quitting) log_print("info depth 0 score %s\n", root->check_count ? "mate 0" : "cp 0");
        print_bestmove(0, 0);
        return {0, root->check_count ? -MATE : 0};
    }
    // One legal move: nothing to think about when the clock runs.
    if (n == 1 && !limits.infinite && !limits.ponder && ss.use_clock) {
        pv[0][0] = int(root->moves[0]);
        pv_length[0] = 1;
        int64_t elapsed = elapsed_ms();
        log_print("info depth 0 score cp 0 nodes %llu time %lld nps %llu pv %s\n", (unsigned long long)ss.nodes,
                  (long long)elapsed, nps(elapsed), move_to_text(root->moves[0]));
        print_bestmove(root->moves[0], 0);
        return {root->moves[0], 0};
    }

    int max_depth = limits.depth > 0 && limits.depth < MAX_SEARCH_DEPTH ? limits.depth : MAX_SEARCH_DEPTH;
    // A mate in N shows within 2N - 1 plies; a little more leaves room for the quiescence.
    if (limits.mate > 0 && 2 * limits.mate + 1 < max_depth) max_depth = 2 * limits.mate + 1;

    for (int i = 0; i < n; i++) root_move_nodes[i] = 0;
    Move best_move = root->moves[0], ponder_move = 0;
    int best_score = 0, previous_score = 0;
    int saved_pv[MAX_PLY + 2], saved_length = 0;
    double stretch = 1.0;
    int last_depth = 0;

    for (int depth = 1; depth <= max_depth; depth++) {
        if (depth > 2) log_print("info depth %i\n", depth);
        RootResult result{0, 0, 0, 0};
        int delta = ASPIRATION_WINDOW;
        int alpha = -MATE, beta = MATE;
        if (depth >= ASPIRATION_MIN_DEPTH && best_score > -MATE_BOUND && best_score < MATE_BOUND) {
            alpha = best_score - delta;
            beta = best_score + delta;
        }
        int score;
        for (;;) {
            score = search_root(alpha, beta, depth, result);
            if (ss.stopped) break;
            if (score <= alpha) {
                beta = (alpha + beta) / 2;
                alpha = score - delta > -MATE ? score - delta : -MATE;
            } else if (score >= beta) {
                beta = score + delta < MATE ? score + delta : MATE;
            } else {
                break;
            }
            delta += delta / 2;
            order_root_moves(result.best_move ? result.best_move : best_move);
        }

        if (ss.stopped) {
            // An unfinished iteration is trusted only for a move it proved
            // better than the last iteration's, which it searched first. That
            // move may score far below the last iteration: then the deeper
            // search has just refuted the old one.
            Move proven = result.candidate ? result.candidate : result.best_move;
            int proven_score = result.candidate ? result.candidate_score : result.score;
            if (proven && proven != best_move) {
                best_move = proven;
                ponder_move = !result.candidate && pv_length[0] > 1 ? Move(pv[0][1]) : 0;
                best_score = proven_score;
                saved_length = 0;
            }
            break;
        }

        // The iteration is complete.
        if (depth >= 4) stretch = time_stretch(stretch, result.best_move != best_move, previous_score, score);
        best_move = result.best_move ? result.best_move : best_move;
        best_score = previous_score = score;
        ss.completed_depth = last_depth = depth;
        memcpy(saved_pv, pv[0], sizeof(int) * size_t(pv_length[0]));
        saved_length = pv_length[0];
        ponder_move = saved_length > 1 ? Move(saved_pv[1]) : 0;
        print_score_line(depth, score);
        order_root_moves(best_move);

        // A proven mate will not get better by searching deeper.
        if (!limits.infinite && !ss.pondering && (score > MATE_BOUND || score < -MATE_BOUND)) {
            if (!limits.mate || MATE - (score < 0 ? -score : score) <= 2 * limits.mate) break;
        }
        if (ss.use_clock && !ss.pondering && !limits.infinite && !limits.move_time &&
            !time_next_iteration(ss.budget, elapsed_ms(), stretch))
            break;
    }

    wait_while_told_to();
    if (ss.quitting) return {best_move, best_score};
    // The closing score line with the whole principal variation.
    if (saved_length) {
        memcpy(pv[0], saved_pv, sizeof(int) * size_t(saved_length));
        pv_length[0] = saved_length;
    } else {
        pv[0][0] = int(best_move);
        pv_length[0] = 1;
        if (ponder_move) {
            pv[0][1] = int(ponder_move);
            pv_length[0] = 2;
        }
    }
    print_score_line(last_depth, best_score);
    print_bestmove(best_move, ponder_move);
    return {best_move, best_score};
}
