#include "search.h"

#include <cstdlib>
#include <cstring>

#include "attacks.h"
#include "engine.h"
#include "eval.h"
#include "movegen.h"
#include "platform.h"

// ---- Transposition table -------------------------------------------------------
//
// One flat table, slot = low key half & (count - 1), no buckets. A store keeps
// the old entry only when it comes from this search and is deeper. Mate
// scores are stored relative to the node (distance to mate from here) and
// turned back into distances from the root when probed.

HashTable hash_table;
int hash_generation;

size_t hash_entry_count(int megabytes) {
    size_t fit = size_t(megabytes) * 1048576 / sizeof(HashEntry);
    size_t count = 1;
    while (count * 2 <= fit) count *= 2;
    return count;
}

bool hash_allocate(int megabytes) {
    size_t count = hash_entry_count(megabytes);
    HashEntry* entries = static_cast<HashEntry*>(calloc(count, sizeof(HashEntry)));
    if (!entries) return false;
    free(hash_table.entries);
    hash_table.entries = entries;
    hash_table.count = count;
    return true;
}

void hash_clear() { memset(hash_table.entries, 0, hash_table.count * sizeof(HashEntry)); }

static inline HashEntry* hash_slot(U64 key) { return &hash_table.entries[uint32_t(key) & (hash_table.count - 1)]; }
static inline bool hash_matches(const HashEntry* e, U64 key) {
    return e->key_low == uint32_t(key) && e->key_high == uint32_t(key >> 32);
}

const HashEntry* hash_lookup(const PlyRecord* rec) {
    const HashEntry* e = hash_slot(rec->key);
    return hash_matches(e, rec->key) ? e : nullptr;
}

void hash_probe(int& beta, int& alpha, Move& move, int depth, const PlyRecord* rec) {
    const HashEntry* e = hash_slot(rec->key);
    if (!hash_matches(e, rec->key)) {
        move = 0;
        return;
    }
    move = e->move;
    if (e->generation != hash_generation || e->depth <= depth) return;
    int score = e->score;
    if (score > MATE_BOUND) score -= search_info.ply;
    if (score < -MATE_BOUND) score += search_info.ply;
    switch (e->bound) {
    case HASH_EXACT: alpha = beta = score; break;
    case HASH_UPPER: if (score <= beta) beta = score; break;
    case HASH_LOWER: if (score >= alpha) alpha = score; break;
    }
}

void hash_store(Move move, int score, int bound, int depth, const PlyRecord* rec) {
    HashEntry* e = hash_slot(rec->key);
    if (e->generation == hash_generation && e->depth > depth) return;
    if (score > MATE_BOUND) score += search_info.ply;
    if (score < -MATE_BOUND) score -= search_info.ply;
    e->generation = hash_generation;
    e->score = int16_t(score);
    e->key_low = uint32_t(rec->key);
    e->key_high = uint32_t(rec->key >> 32);
    e->depth = int8_t(depth);
    e->move = move;
    e->bound = uint8_t(bound);
}

// ---- PV table --------------------------------------------------------------------
//
// Every node writes {its key, the key after its best move, that move} at the
// slot of its key's low 16 bits; the principal variation is read back by
// following the keys from the root.

struct PvEntry {
    U64 key;
    U64 next_key;
    Move move;
};
constexpr int PV_TABLE_SIZE = 65536;
static PvEntry pv_table[PV_TABLE_SIZE];
constexpr int PV_MAX_MOVES = 41;

static inline void pv_store(U64 key, U64 next_key, Move move) {
    pv_table[key & (PV_TABLE_SIZE - 1)] = PvEntry{key, next_key, move};
}

static const PvEntry* pv_find(U64 key) {
    for (int i = int(key & (PV_TABLE_SIZE - 1)), n = 0; n < PV_TABLE_SIZE; i = (i + 1) & (PV_TABLE_SIZE - 1), n++) {
        if (pv_table[i].move == 0) return nullptr;
        if (pv_table[i].key == key) return &pv_table[i];
    }
    return nullptr;
}

void pv_text(char* buffer, size_t size) {
    size_t used = 0;
    buffer[0] = 0;
    U64 key = search_info.root_key;
    for (int n = 0; n < PV_MAX_MOVES; n++) {
        const PvEntry* e = pv_find(key);
        if (!e) break;
        const char* text = move_to_text(e->move);
        size_t len = strlen(text);
        if (used + len + 2 > size) break;
        if (used) buffer[used++] = ' ';
        memcpy(buffer + used, text, len + 1);
        used += len;
        key = e->next_key;
        if (key == 0 || key == search_info.root_key) break;
    }
}

// ---- Move ordering -----------------------------------------------------------------

int history[64][64];
Move killers[STACK_SIZE][2];

constexpr int HASH_MOVE_BAND = 0x4000000;
constexpr int PROMOTION_BAND = 0x2000000;
constexpr int WINNING_CAPTURE_BAND = 0x1000000;
constexpr int LOSING_CAPTURE_SHIFT = 0x10000;
constexpr int HISTORY_LIMIT = 59999;

void clear_search_memory() {
    hash_clear();
    memset(history, 0, sizeof history);
    memset(killers, 0, sizeof killers);
}

// Advanced pawns first among equals, then the bands: hash move, promotions,
// winning captures by SEE; losing captures sink below quiet moves; quiet
// moves gain a little for every enemy piece they attack from their new square.
void order_moves(PlyRecord* rec) {
    Move hash_move = 0;
    const HashEntry* e = hash_lookup(rec);
    if (e && e->generation == hash_generation) hash_move = e->move;
    U64 occ = board.occupancy[0] | board.occupancy[1];
    U64 enemies = board.occupancy[board.side ^ 1];
    int scores[MAX_MOVES];
    for (int i = 0; i < rec->move_count; i++) {
        Move m = rec->moves[i];
        int from = move_from(m), to = move_to(m), piece = move_piece(m);
        int score = history[from][to];
        int r = rank_of(from);
        if (piece == W_PAWN) score += r == 5 ? 0x100000 : r == 6 ? 0x200000 : 0;
        if (piece == B_PAWN) score += r == 3 ? 0x100000 : r == 2 ? 0x200000 : r == 1 ? 0x400000 : 0;
        if (hash_move && m == hash_move) {
            score += HASH_MOVE_BAND;
        } else if (m & MOVE_PROMOTION) {
            score += PROMOTION_BAND;
        } else if (m & MOVE_CAPTURE) {
            int gain = see(m);
            if (gain > 0) score += gain + WINNING_CAPTURE_BAND;
            else if (gain < 0) score += gain - LOSING_CAPTURE_SHIFT;
        } else if (kind_of(piece) != KING) {
            U64 threats;
            switch (kind_of(piece)) {
            case PAWN: threats = pawn_attacks[colour_of(piece) ^ 1][to]; break;
            case KNIGHT: threats = knight_attacks[to]; break;
            case BISHOP: threats = bishop_attacks(to, occ); break;
            case ROOK: threats = rook_attacks(to, occ); break;
            default: threats = queen_attacks(to, occ); break;
            }
            threats &= enemies;
            if (threats) score += 8;
            while (threats) score += piece_value[board.mailbox[pop_lowest(threats)]] >> 5;
        }
        scores[i] = score;
    }
    sort_by_score(scores, rec->moves, rec->move_count);
}

// ---- Quiescence --------------------------------------------------------------------

static inline void count_node() {
    search_info.nodes++;
    search_info.total_nodes++;
}

int quiesce(int alpha, int beta, PlyRecord* rec) {
    SearchInfo& si = search_info;
    count_node();
    if (si.ply > MAX_PLY) return evaluate(rec);
    update_check_info(rec);
    int best;
    if (rec->check_count) {
        generate_moves(rec);
        best = -MATE;
    } else {
        int stand_pat = evaluate(rec);
        if (stand_pat > alpha) {
            if (stand_pat >= beta) return stand_pat;
            alpha = stand_pat;
        }
        best = stand_pat;
        generate_captures(rec);
    }
    order_moves(rec);
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        if (!make_move(i, rec, next)) continue;
        int score = is_repetition(next) ? 0 : -quiesce(-beta, -alpha, next);
        unmake_move(i, rec);
        if (si.state != SEARCH_RUNNING) return 0;
        if (score > best) {
            if (score > alpha) {
                if (score >= beta) return score;
                alpha = score;
            }
            pv_store(rec->key, next->key, rec->moves[i]);
            best = score;
        }
    }
    if (best == -MATE) return si.ply - MATE;
    return best;
}

// ---- Alpha-beta --------------------------------------------------------------------

constexpr U64 POLL_AFTER_NODES = 0x4000;
constexpr int NULL_MOVE_REDUCTION = 3;

static bool null_move_material(int side) {
    const U64* p = board.pieces;
    if (p[make_piece(ROOK, side)] | p[make_piece(QUEEN, side)]) return true;
    return popcount(p[make_piece(KNIGHT, side)] | p[make_piece(BISHOP, side)]) >= 2;
}

int search(int alpha, int beta, int depth, PlyRecord* rec) {
    SearchInfo& si = search_info;
    count_node();
    if (depth == 0) return quiesce(alpha, beta, rec);

    // A stored bound may close the window at once.
    const int entry_alpha = alpha;
    Move hash_move;  // ordering looks the entry up itself
    hash_probe(beta, alpha, hash_move, depth, rec);
    if (alpha >= beta) return alpha != entry_alpha ? alpha : beta;
    if (si.ply > MAX_PLY) return alpha;

    // Once the search is under way every node looks at the clock and the input.
    if (si.nodes > POLL_AFTER_NODES || si.node_limit) {
        search_report();
        command_step(&position_stack[0]);
        if (si.state != SEARCH_RUNNING) return 0;
    }

    update_check_info(rec);
    const bool in_check = rec->check_count != 0;
    PlyRecord* next = rec->next;

    // Null move: if passing still fails high, a real move will too. Skipped in
    // check and without the material that makes zugzwang unlikely.
    if (depth > 1 && !in_check && beta <= MATE - 1 && null_move_material(board.side)) {
        make_null_move(rec, next);
        int score = depth <= NULL_MOVE_REDUCTION ? -quiesce(-beta, 1 - beta, next)
                                                 : -search(-beta, 1 - beta, depth - NULL_MOVE_REDUCTION, next);
        unmake_null_move(rec);
        if (si.state != SEARCH_RUNNING) return 0;
        if (score >= beta) {
            hash_store(0, score, HASH_LOWER, depth, rec);
            return score;
        }
    }

    generate_moves(rec);
    order_moves(rec);
    int best = -MATE, legal = 0;
    Move best_move = 0;
    int window_top = beta;
    for (int i = 0; i < rec->move_count; i++) {
        Move m = make_move(i, rec, next);
        if (!m) continue;
        legal++;
        int score;
        if (is_repetition(next)) {
            score = 0;
        } else {
            score = -search(-window_top, -alpha, depth - 1, next);
            if (i != 0 && score > alpha && score < beta) score = -search(-beta, -alpha, depth - 1, next);
        }
        unmake_move(i, rec);
        if (si.state != SEARCH_RUNNING) return 0;
        if (score > best) {
            if (score > alpha) {
                alpha = score;
                if (score >= beta) {
                    hash_store(m, score, HASH_LOWER, depth, rec);
                    if (!(m & MOVE_CAPTURE) && !in_check) {
                        Move* k = killers[si.ply];
                        if (k[0] != m) {
                            k[1] = k[0];
                            k[0] = m;
                        }
                        int& h = history[move_from(m)][move_to(m)];
                        h += depth * depth;
                        if (h > HISTORY_LIMIT)
                            for (auto& row : history)
                                for (int& v : row) v >>= 1;
                    }
                    return score;
                }
            }
            pv_store(rec->key, next->key, m);
            best = score;
            best_move = m;
        }
        window_top = alpha + 1;
    }
    if (legal) {
        hash_store(best_move, best, best > entry_alpha ? HASH_EXACT : HASH_UPPER, depth, rec);
        return best;
    }
    return in_check ? si.ply - MATE : 0;
}

// ---- Iterative deepening and output --------------------------------------------------

constexpr int ROOT_SCORE_SLOTS = MAX_MOVES;
constexpr int RECENT_BEST = 12;
constexpr int INSTABILITY_MARGIN = 220;
constexpr int INSTABILITY_ITERATIONS = 4;
constexpr int SCORE_JUMP = 50;
constexpr U64 NODE_REPORT_INTERVAL = 0x80000;

static int root_scores[ROOT_SCORE_SLOTS];
static PlyRecord* search_root;

void reset_search_state() {
    SearchInfo& si = search_info;
    si.state = SEARCH_RUNNING;
    si.infinite = 0;
    si.iteration_best_move = 0;
    si.perft_move = 0;
    si.best_score = 0;
    si.last_printed_score = 0;
    si.move_to_play = 0;
    si.last_report_time = 0;
    si.start_time = 0;
    si.soft_limit = 0;
    si.pv_changed = 0;
    si.root_key = 0;
    si.nodes = 0;
    si.ply = 0;
    si.depth = 0;
    si.total_nodes = 0;
    si.node_limit = 0;
    si.use_clock = 1;
    memset(pv_table, 0, sizeof pv_table);
}

void print_score_line(int score) {
    const SearchInfo& si = search_info;
    log_print("info depth %i ", si.depth);
    if (score > MATE_BOUND) log_print("score mate %i ", (MATE - score) / 2 + 1);
    else if (score < -MATE_BOUND) log_print("score mate %i ", -((score + MATE) / 2));
    else log_print("score cp %i ", score);
    int64_t elapsed = si.start_time ? now_ms() - si.start_time : 0;
    unsigned long long nps = elapsed > 0 ? si.total_nodes * 1000 / U64(elapsed) : 0;
    log_print("nodes %llu time %lld nps %llu ", (unsigned long long)si.total_nodes, (long long)elapsed, nps);
}

Move move_to_announce() {
    const SearchInfo& si = search_info;
    if (si.move_to_play) return si.move_to_play;
    if (si.iteration_best_move) return si.iteration_best_move;
    return search_root && si.state == SEARCH_RUNNING && search_root->move_count ? search_root->moves[0] : 0;
}

void print_final_lines(int score) {
    Move m = move_to_announce();
    print_score_line(score);
    log_print("pv %s\n", move_to_text(m));
    log_print("bestmove %s \n", move_to_text(m));
}

void search_report() {
    SearchInfo& si = search_info;
    if (si.state != SEARCH_RUNNING) return;
    int64_t now = now_ms();
    int64_t elapsed = now - si.start_time;
    bool go_on = si.infinite || !si.use_clock || si.move_to_play == 0 || si.depth < 3 || elapsed <= si.soft_limit;
    // The hard limit holds whatever the depth: never lose on time.
    if (si.use_clock && !si.infinite && elapsed > si.hard_limit) go_on = false;
    if (si.node_limit && si.total_nodes >= si.node_limit) go_on = false;
    if (!go_on) {
        print_final_lines(si.best_score);
        si.state = SEARCH_IDLE;
        return;
    }
    if (si.nodes > NODE_REPORT_INTERVAL) {
        unsigned long long nps = elapsed > 0 ? si.total_nodes * 1000 / U64(elapsed) : 0;
        log_print("info time %lld nodes %llu nps %llu cpuload 1000\n", (long long)elapsed,
                  (unsigned long long)si.total_nodes, nps);
        si.nodes = 0;
        si.last_report_time = now;
    }
    if (si.pv_changed && si.best_score != si.last_printed_score && si.depth > 2) {
        si.last_printed_score = si.best_score;
        char pv[1000];
        pv_text(pv, sizeof pv);
        print_score_line(si.best_score);
        log_print("pv %s\n", pv);
        si.pv_changed = 0;
    }
}

void think(int max_depth, PlyRecord* root) {
    SearchInfo& si = search_info;
    search_root = root;
    memset(root_scores, 0, sizeof root_scores);
    si.state = SEARCH_RUNNING;
    si.move_to_play = 0;
    memset(history, 0, sizeof history);
    memset(killers, 0, sizeof killers);

    si.start_time = si.last_report_time = now_ms();
    root->key = compute_full_key(root);
    hash_generation++;
    si.ply = 0;

    int n = generate_legal_moves(root);
    if (n == 0) {
        si.state = SEARCH_IDLE;
        return;
    }
    if (n == 1) {
        si.move_to_play = root->moves[0];
        si.best_score = 0;
        si.state = SEARCH_IDLE;
        print_final_lines(0);
        return;
    }
    order_moves(root);

    int instability = 0, changes = 0, previous_alpha = 0;
    Move previous_best = 0;
    PlyRecord* next = root->next;
    for (int k = 1; k <= max_depth; k++) {
        if (k > 2) log_print("info depth %i\n", k);
        count_node();
        si.depth = k;
        si.pv_changed = 0;
        memset(root_scores, 0, sizeof root_scores);
        int recent[RECENT_BEST];
        for (int& r : recent) r = -1;
        int alpha = -MATE, best1 = -MATE, best2 = -MATE;

        for (int m = 0; m < n; m++) {
            make_move(m, root, next);
            if (si.depth > 5) log_print("info currmove %s currmovenumber %i\n", move_to_text(root->moves[m]), m + 1);
            int score = is_repetition(next) ? 0 : -search(-MATE, -alpha, k - 1, next);
            unmake_move(m, root);
            if (si.state != SEARCH_RUNNING) return;
            if (score > alpha) {
                if (m != recent[0]) {
                    memmove(recent + 1, recent, sizeof(int) * (RECENT_BEST - 1));
                    recent[0] = m;
                    best2 = best1;
                    best1 = score;
                }
                si.iteration_best_move = root->moves[m];
                si.best_score = score;
                si.root_key = root->key;
                pv_store(root->key, next->key, root->moves[m]);
                si.pv_changed = 1;
                search_report();
                if (si.state != SEARCH_RUNNING) return;
                alpha = score;
            }
        }
        for (int i = 0; i < RECENT_BEST; i++)
            if (recent[i] >= 0) root_scores[recent[i]] = RECENT_BEST - i;
        si.move_to_play = si.iteration_best_move;

        // A proven mate will not get better by searching deeper.
        if (si.iteration_best_move && (alpha > MATE_BOUND || alpha < -MATE_BOUND)) break;

        // Five unstable iterations in a row: play the previous iteration's best.
        if (si.infinite || best2 == -MATE || abs(best2 - best1) <= INSTABILITY_MARGIN) {
            instability = 0;
        } else if (++instability > INSTABILITY_ITERATIONS) {
            si.state = SEARCH_IDLE;
            si.move_to_play = root->moves[0];
            break;
        }

        // A changing best move or a jumping score buys more time.
        if (k >= 3) {
            if (si.iteration_best_move != previous_best && ++changes > 2)
                si.soft_limit = (si.soft_limit + si.hard_limit) >> 1;
            if (abs(alpha - previous_alpha) > SCORE_JUMP) si.soft_limit = (7 * si.soft_limit + si.hard_limit) >> 3;
        }
        if (k >= 2) previous_alpha = alpha;

        sort_by_score(root_scores, root->moves, n);
        if (k >= 3) previous_best = si.iteration_best_move;
    }
    si.state = SEARCH_IDLE;
    print_final_lines(si.best_score);
}
