#include "engine.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>

#include "attacks.h"
#include "eval.h"
#include "movegen.h"
#include "platform.h"
#include "search.h"

constexpr int DEFAULT_HASH_MB = 1;
constexpr int MAX_HASH_MB = 512;
constexpr int DEFAULT_CLOCK_MS = 100000;
constexpr int MAX_SEARCH_DEPTH = 98;
constexpr int MAX_PERFT_DEPTH = 64;
constexpr int DEFAULT_MOVE_OVERHEAD = 30;
constexpr int MAX_MOVE_OVERHEAD = 5000;
constexpr int SOFT_LIMIT_DIVISOR = 50;   // share of the clock one move may use
constexpr int HARD_LIMIT_FACTOR = 5;     // the hard limit as a multiple of the soft one

static FILE* report_file;
static bool go_enabled = true;
static bool searching = false;
static int move_overhead = DEFAULT_MOVE_OVERHEAD;
// Lines that would change the position or the tables while a search runs
// wait here until it is over.
static std::deque<std::string> deferred_lines;

static void close_report() {
    if (report_file) fclose(report_file);
    report_file = nullptr;
}

static void log_input(const std::string& line, bool line_end) {
    if (!report_file || line.empty()) return;
    fprintf(report_file, line_end ? "[[%s\n" : "[[%s", line.c_str());
    fflush(report_file);
}

const char* find_token(const char* line, const char* word) {
    const char* p = strchr(line, word[0]);
    if (!p) return nullptr;
    size_t len = strlen(word);
    return strncmp(p, word, len) == 0 ? p + len : nullptr;
}

int parse_decimal(const char* text) {
    long value = 0;
    for (; isdigit((unsigned char)*text); text++)
        if (value < 1000000000) value = value * 10 + (*text - '0');
    return int(value > 1000000000 ? 1000000000 : value);
}

// ---- Whole-word helpers for the UCI words beyond the original command set ----

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

static std::string first_word(const char* line) {
    while (is_blank(*line)) line++;
    const char* end = line;
    while (*end && !is_blank(*end)) end++;
    return std::string(line, end);
}

// Position just past the whole word `word` in `line`, or null.
static const char* find_word(const char* line, const char* word) {
    size_t len = strlen(word);
    for (const char* p = strstr(line, word); p; p = strstr(p + 1, word))
        if ((p == line || is_blank(p[-1])) && (p[len] == 0 || is_blank(p[len]))) return p + len;
    return nullptr;
}

// Value after the whole word, or `fallback` when the word is missing.
static long long word_value(const char* line, const char* word, long long fallback) {
    const char* p = find_word(line, word);
    if (!p) return fallback;
    while (is_blank(*p)) p++;
    return parse_decimal(p);
}

// ---- Start-up ------------------------------------------------------------------

void init_engine_tables() {
    srand(1502314);
    hash_generation = 0;
    if (!hash_table.entries) hash_allocate(DEFAULT_HASH_MB);
    init_square_tables();
    load_or_find_magics(fopen("magics.txt", "rb"));
    init_piece_square_tables();
    init_castle_mask();
    init_eval_masks();
    build_proximity_tables();
    init_zobrist_keys();
    hash_clear();
    init_position_stack();
    clear_move_counters();
    reset_search_state();
    search_info.state = SEARCH_IDLE;
}

static void print_uci_identity() {
    log_print("id name %s v%s\n", ENGINE_NAME, ENGINE_VERSION);
    log_print("id author %s\n", ENGINE_AUTHOR);
    log_print("option name Hash type spin default 1 min 1 max 128\n");
    log_print("option name Move Overhead type spin default %i min 0 max %i\n", DEFAULT_MOVE_OVERHEAD,
              MAX_MOVE_OVERHEAD);
    log_print("uciok\n");
}

static void report_long_line() {
    log_print("info string Input line longer than %zu bytes ignored\n", MAX_LINE_LENGTH);
}

// Before "uci" only "uci" and "quit" are understood.
static void uci_handshake() {
    std::string line;
    for (;;) {
        LineStatus status = read_line(line);
        if (status == LineStatus::EndOfInput) {
            close_report();
            exit(0);
        }
        if (status == LineStatus::TooLong) {
            report_long_line();
            continue;
        }
        log_input(line, false);
        if (find_token(line.c_str(), "quit")) {
            close_report();
            exit(0);
        }
        if (find_token(line.c_str(), "uci")) {
            print_uci_identity();
            return;
        }
    }
}

int engine_main() {
    input_available();
    report_file = fopen("report.txt", "wb");
    init_engine_tables();
    log_print("%s v%s by %s\n", ENGINE_NAME, ENGINE_VERSION, ENGINE_AUTHOR);
    uci_handshake();
    srand(unsigned(time(nullptr)));
    PlyRecord* root = &position_stack[0];
    parse_fen(START_FEN, root);
    update_check_info(root);
    for (;;) {
        if (deferred_lines.empty() && !input_available()) wait_for_input();
        if (command_step(root)) break;
    }
    return 0;
}

// ---- Commands --------------------------------------------------------------------

static void set_position(const char* args, PlyRecord* root) {
    std::string fen;
    const char* moves = nullptr;
    if (const char* fen_text = find_token(args, "fen ")) {
        moves = find_token(fen_text, "moves ");
        // The FEN ends where its move list begins.
        const char* end = moves ? moves - strlen("moves ") : fen_text + strlen(fen_text);
        fen.assign(fen_text, end);
    } else {
        const char* after = find_token(args, "startpos");
        moves = find_token(after, " moves ");
        fen = START_FEN;
    }
    parse_fen(fen.c_str(), root);
    std::string problem = position_problem();
    if (!problem.empty()) {
        log_print("info string Illegal position (%s): the start position is set up instead\n", problem.c_str());
        parse_fen(START_FEN, root);
        moves = nullptr;
    }
    if (moves) apply_move_list(moves, root);
    update_check_info(root);
}

// Soft and hard time limits for the side to move.
static void set_time_limits(const char* line) {
    SearchInfo& si = search_info;
    long long wtime = find_token(line, "wtime ") ? parse_decimal(find_token(line, "wtime ")) : DEFAULT_CLOCK_MS;
    long long btime = find_token(line, "btime ") ? parse_decimal(find_token(line, "btime ")) : DEFAULT_CLOCK_MS;
    long long movetime = word_value(line, "movetime", 0);
    long long movestogo = word_value(line, "movestogo", 0);
    long long inc = word_value(line, board.side == WHITE ? "winc" : "binc", 0);
    long long t = board.side == WHITE ? wtime : btime;

    if (movetime > 0) {
        si.soft_limit = si.hard_limit = movetime > move_overhead ? movetime - move_overhead : 1;
        return;
    }
    if (t == 0) {
        si.soft_limit = si.hard_limit = 0;
        return;
    }
    long long avail = t > move_overhead ? t - move_overhead : 1;
    long long divisor = movestogo > 0 && movestogo < SOFT_LIMIT_DIVISOR ? movestogo : SOFT_LIMIT_DIVISOR;
    long long soft = avail / divisor + inc * 3 / 4;
    if (soft > avail) soft = avail;
    long long hard = soft * HARD_LIMIT_FACTOR;
    if (hard > avail) hard = avail;
    si.soft_limit = soft;
    si.hard_limit = hard;
}

// Returns 1 when the engine must end ("quit" read during the search).
static int go(const char* line, PlyRecord* root) {
    SearchInfo& si = search_info;
    reset_search_state();
    go_enabled = false;
    si.state = SEARCH_RUNNING;
    si.infinite = (find_token(line, "infinite") || find_word(line, "infinite")) ? 1 : 0;
    int max_depth = int(word_value(line, "depth", MAX_SEARCH_DEPTH));
    if (max_depth < 1 || max_depth > MAX_SEARCH_DEPTH) max_depth = MAX_SEARCH_DEPTH;
    si.node_limit = U64(word_value(line, "nodes", 0));
    // A mate in N shows within 2N - 1 plies; a little more leaves room for the
    // quiescence to settle. A found mate stops the deepening by itself.
    int mate_moves = int(word_value(line, "mate", 0));
    if (mate_moves > 0 && 2 * mate_moves + 1 < max_depth) max_depth = 2 * mate_moves + 1;
    bool clock_given = find_token(line, "wtime ") || find_token(line, "btime ") || find_word(line, "movetime");
    bool other_limit = find_word(line, "depth") || si.node_limit || mate_moves > 0 || si.infinite;
    si.use_clock = clock_given || !other_limit;
    set_time_limits(line);

    // The table is not cleared around the search: entries of earlier searches
    // carry an older generation, which makes every probe and ordering look-up
    // ignore them, so a clear would only cost time (much of it with a big table).
    searching = true;
    think(max_depth, root);
    searching = false;
    go_enabled = true;
    return si.state == SEARCH_QUIT ? 1 : 0;
}

static void set_option(const char* line) {
    if (const char* hash = find_token(find_token(line, "setoption name "), "Hash ")) {
        const char* value = find_token(hash, "value ");
        int n = value ? parse_decimal(value) : 0;
        if (n < 1 || n > MAX_HASH_MB) log_print("info string I can't allocate more than 512Mb memory for hash\n");
        else if (!hash_allocate(n)) log_print("info string Not enough memory for %i MB of hash: the table is kept\n", n);
        return;
    }
    // "setoption name Move Overhead value N", words matched whole.
    const char* name = find_word(line, "name");
    const char* value = find_word(line, "value");
    if (!name || !value) return;
    std::string option(name, value - strlen("value"));
    while (!option.empty() && is_blank(option.back())) option.pop_back();
    while (!option.empty() && is_blank(option.front())) option.erase(0, 1);
    if (strcasecmp(option.c_str(), "Move Overhead") != 0) return;
    while (is_blank(*value)) value++;
    int n = parse_decimal(value);
    if (!isdigit((unsigned char)*value) || n > MAX_MOVE_OVERHEAD)
        log_print("info string Move Overhead must be between 0 and %i\n", MAX_MOVE_OVERHEAD);
    else
        move_overhead = n;
}

static void print_help() {
    log_print("\n");
    log_print(" setoption name [NAME] value [VALUE]             - set option state (UCI)\n");
    log_print(" position (fen [FEN] (moves [MOVES])) (startpos) - set new position (UCI)\n");
    log_print(" go (wtime [TIME]) (btime [TIME])                - start to analyse (UCI)\n");
    log_print(" isready                                         - don't sleep!     (UCI)\n");
    log_print(" quit                                            - exit             (UCI)\n\n");
    log_print(" perft ([DEPTH])                                 - performance test \n");
    log_print(" bench                                           - benchmark based on perft\n");
    log_print(" print                                           - print out position\n");
    log_print(" score                                           - position score\n");
    log_print(" .                                               - print out fen\n\n");
}

static void run_perft(const char* after_word, PlyRecord* root) {
    const char* blank = strchr(after_word, ' ');
    int depth = blank ? parse_decimal(blank + 1) : 0;
    if (depth == 0) depth = 1;
    if (depth > MAX_PERFT_DEPTH) {
        log_print("info string perft depth is limited to %i\n", MAX_PERFT_DEPTH);
        depth = MAX_PERFT_DEPTH;
    }
    perft_divide(depth, root);
}

// Commands that must wait while a search runs: they change the position or
// the tables the search is using.
static bool must_wait_for_search(const char* s) {
    std::string word = first_word(s);
    if (word == "ucinewgame") return true;
    if (find_token(s, "position ")) return true;
    if (find_token(s, "setoption name ")) return true;
    return find_token(s, "bench") || find_token(s, "perft") || find_token(s, "print") ||
           find_token(s, "score") || find_token(s, ".");
}

static int execute_line(const std::string& line, PlyRecord* root) {
    const char* s = line.c_str();
    SearchInfo& si = search_info;
    if (find_token(s, "quit")) {
        close_report();
        si.state = SEARCH_QUIT;
        return 1;
    }
    if (searching && !find_token(s, "isready") && must_wait_for_search(s)) {
        deferred_lines.push_back(line);
        return 0;
    }
    std::string word = first_word(s);
    if (word == "ucinewgame") {
        clear_search_memory();
        return 0;
    }
    if (word == "uci") {
        print_uci_identity();
        return 0;
    }
    if (word == "debug" || word == "register" || word == "ponderhit") return 0;

    const char* p;
    if (find_token(s, "isready")) {
        log_print("readyok\n");
    } else if ((p = find_token(s, "position ")) && (find_token(p, "fen ") || find_token(p, "startpos"))) {
        set_position(p, root);
    } else if (find_token(s, "go")) {
        if (go_enabled) return go(s, root);
    } else if (find_token(s, "setoption name ")) {
        set_option(s);
    } else if (find_token(s, "bench")) {
        for (int depth = 1; depth <= 6; depth++) perft_divide(depth, root);
    } else if ((p = find_token(s, "perft"))) {
        run_perft(p, root);
    } else if (find_token(s, "print")) {
        print_board(root);
    } else if (find_token(s, "score")) {
        print_board(root);
        log_print(" Score: %i\n\n", evaluate(root));
    } else if (find_token(s, "stop")) {
        print_final_lines(si.best_score);
        si.state = SEARCH_IDLE;
    } else if (find_token(s, "help")) {
        print_help();
    } else if (find_token(s, ".")) {
        log_print("%s to move\n", board.side == WHITE ? "White" : "Black");
        log_print("fen: %s\n", position_to_fen(root).c_str());
    }
    return 0;
}

int command_step(PlyRecord* root) {
    if (search_info.state == SEARCH_QUIT) return 0;
    if (!searching && !deferred_lines.empty()) {
        std::string line = deferred_lines.front();
        deferred_lines.pop_front();
        return execute_line(line, root);
    }
    if (!input_available()) return 0;
    std::string line;
    switch (read_line(line)) {
    case LineStatus::EndOfInput:
        // Nobody can talk to us any more: leave as on "quit".
        close_report();
        search_info.state = SEARCH_QUIT;
        return 1;
    case LineStatus::TooLong:
        report_long_line();
        return 0;
    case LineStatus::Line:
        break;
    }
    log_input(line, true);
    return execute_line(line, root);
}

// ---- Perft -----------------------------------------------------------------------

uint64_t perft_count(int depth, PlyRecord* rec) {
    if (depth == 0) return 1;
    // The last ply is only counted: no move needs to be made there.
    if (depth == 1) return uint64_t(count_legal_moves(rec));
    generate_moves(rec);
    uint64_t total = 0;
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        if (!make_move(i, rec, next)) continue;
        total += perft_count(depth - 1, next);
        unmake_move(i, rec);
    }
    return total;
}

uint64_t perft_divide(int depth, PlyRecord* rec) {
    print_board(rec);
    log_print("\n");
    if (depth == 0) return 1;
    generate_moves(rec);
    if (rec->move_count == 0) return 0;
    int64_t start = now_ms();
    uint64_t total = 0;
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        search_info.perft_move = make_move(i, rec, next);
        if (!search_info.perft_move) continue;
        print_move(search_info.perft_move);
        uint64_t count = perft_count(depth - 1, next);
        unmake_move(i, rec);
        log_print(" - %lld\n", (long long)count);
        total += count;
    }
    log_print("\n Totally %lld nodes\n", (long long)total);
    int64_t elapsed = now_ms() - start;
    if (elapsed == 0) {
        log_print(" Generate time: less than 1/%i of second\n", 1000);
    } else {
        double seconds = double(elapsed) / 1000;
        log_print(" Generate time: %.3lf second(s)\n", seconds);
        log_print(" %4.3lf knps\n\n", double(total) / seconds / 1000);
    }
    return total;
}
