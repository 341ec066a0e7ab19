#include "uci.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>

#include "attacks.h"
#include "eval.h"
#include "movegen.h"
#include "platform.h"
#include "search.h"
#include "syzygy.h"
#include "tt.h"

constexpr int MAX_PERFT_DEPTH = 64;
constexpr int DEFAULT_MOVE_OVERHEAD = 30;
constexpr int MAX_MOVE_OVERHEAD = 5000;
constexpr long REPORT_LIMIT_BYTES = 16L << 20;  // the input log stops growing here
constexpr size_t ECHO_LIMIT = 200;               // longest piece of input quoted back
constexpr int BENCH_DEFAULT_DEPTH = 12;
constexpr int BENCH_HASH_MB = 16;
constexpr int CONSOLE_BENCH_DEPTH = 6;           // the console "bench": perft 1 to this
constexpr int DEFAULT_ELO = 2000;                 // UCI_Elo's default level

static FILE* report_file;
static long report_bytes;
static bool quit_requested = false;
static int move_overhead = DEFAULT_MOVE_OVERHEAD;
static bool ponder_option = false;
static int multipv_option = 1;
static bool show_wdl = false;
static bool limit_strength = false;
static int elo_option = DEFAULT_ELO;
static int tb_probe_depth = DEFAULT_TB_PROBE_DEPTH;
static bool tb_rule50 = true;
static int tb_probe_limit = SYZYGY_MAX_MEN;
// Lines read during a search that must wait until it is over ("go" among them).
static std::deque<std::string> deferred_lines;
static CommandBounds bounds = {0, 0, 0, 0};

// The game as "position" set it up, and the threads that search it.
static Position& game() {
    static Position* position = new_position();
    return *position;
}

static SearchPool& pool() {
    static SearchPool search_pool;
    return search_pool;
}

static PlyRecord* game_root() { return root_record(game()); }

const Position& uci_game() { return game(); }

// ---- Words ------------------------------------------------------------------------

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0, n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) i++;
        size_t start = i;
        while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') i++;
        if (i > start) words.emplace_back(line, start, i - start);
    }
    return words;
}

static bool same_word(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Signed decimal value; saturates instead of overflowing. False when the
// word is not a number at all.
static bool parse_number(const std::string& word, long long& value) {
    const char* p = word.c_str();
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    if (!isdigit((unsigned char)*p)) return false;
    long long v = 0;
    for (; isdigit((unsigned char)*p); p++) v = v > (LLONG_MAX - 9) / 10 ? LLONG_MAX : v * 10 + (*p - '0');
    if (*p) return false;
    value = negative ? -v : v;
    return true;
}

// Quotes a piece of input in one output line, shortened when long.
static std::string echo(const std::string& text) {
    if (text.size() <= ECHO_LIMIT) return text;
    return text.substr(0, ECHO_LIMIT) + "... (" + std::to_string(text.size()) + " characters)";
}

// ---- The input log -------------------------------------------------------------------

static void close_report() {
    if (report_file) fclose(report_file);
    report_file = nullptr;
}

// Every non-empty line is appended; handshake lines without their line end.
// Past the size limit one closing line is written and logging stops.
static void log_input(const std::string& line, bool line_end) {
    if (!report_file || line.empty()) return;
    long size = long(line.size()) + 3;
    if (report_bytes + size > REPORT_LIMIT_BYTES) {
        fprintf(report_file, "\n[[... input log stopped at %ld bytes\n", report_bytes);
        close_report();
        return;
    }
    report_bytes += size;
    fprintf(report_file, line_end ? "[[%s\n" : "[[%s", line.c_str());
    fflush(report_file);
}

// ---- Start-up ------------------------------------------------------------------------

void init_engine_tables() {
    srand(1502314);
    if (!hash_table.buckets) hash_allocate(DEFAULT_HASH_MB);
    init_square_tables();
    load_or_find_magics(fopen("magics.txt", "rb"));
    init_piece_square_tables();
    init_eval_masks();
    build_proximity_tables();
    init_zobrist_keys();
    init_position(game());
}

static void print_uci_identity() {
    log_print("id name %s v%s\n", ENGINE_NAME, ENGINE_VERSION);
    log_print("id author %s\n", ENGINE_AUTHOR);
    log_print("option name Hash type spin default %i min 1 max %i\n", DEFAULT_HASH_MB, MAX_HASH_MB);
    log_print("option name Threads type spin default 1 min 1 max %i\n", MAX_THREADS);
    log_print("option name Move Overhead type spin default %i min 0 max %i\n", DEFAULT_MOVE_OVERHEAD,
              MAX_MOVE_OVERHEAD);
    log_print("option name MultiPV type spin default 1 min 1 max %i\n", MAX_MULTIPV);
    log_print("option name Ponder type check default false\n");
    log_print("option name Clear Hash type button\n");
    log_print("option name UCI_ShowWDL type check default false\n");
    log_print("option name UCI_LimitStrength type check default false\n");
    log_print("option name UCI_Elo type spin default %i min %i max %i\n", DEFAULT_ELO, STRENGTH_MIN_ELO,
              STRENGTH_MAX_ELO);
    log_print("option name UCI_Chess960 type check default false\n");
    log_print("option name SyzygyPath type string default <empty>\n");
    log_print("option name SyzygyProbeDepth type spin default %i min 1 max %i\n", DEFAULT_TB_PROBE_DEPTH,
              MAX_TB_PROBE_DEPTH);
    log_print("option name Syzygy50MoveRule type check default true\n");
    log_print("option name SyzygyProbeLimit type spin default %i min 0 max %i\n", SYZYGY_MAX_MEN, SYZYGY_MAX_MEN);
    log_print("uciok\n");
}

static void report_long_line() {
    log_print("info string Input line longer than %zu bytes ignored\n", MAX_LINE_LENGTH);
}

// The command words, in no particular order; the first one in a line is its command.
static const char* const COMMANDS[] = {"uci",  "isready", "ucinewgame", "position", "go",   "setoption",
                                       "stop", "ponderhit", "quit",     "debug",    "register", "bench",
                                       "perft", "print",  "score",      ".",        "help"};

// Index of the first command word, or words.size() when there is none.
static size_t command_index(const std::vector<std::string>& words) {
    for (size_t i = 0; i < words.size(); i++)
        for (const char* c : COMMANDS)
            if (words[i] == c) return i;
    return words.size();
}

// Before "uci" only "uci" and "quit" are carried out. False: end the engine.
static bool uci_handshake() {
    std::string line;
    for (;;) {
        LineStatus status = read_line(line);
        if (status == LineStatus::EndOfInput) return false;
        if (status == LineStatus::TooLong) {
            report_long_line();
            continue;
        }
        log_input(line, false);
        std::vector<std::string> words = split_words(line);
        size_t at = command_index(words);
        if (at == words.size()) continue;
        if (words[at] == "quit") return false;
        if (words[at] == "uci") {
            print_uci_identity();
            return true;
        }
    }
}

// ---- Commands --------------------------------------------------------------------------

static void set_position(const std::vector<std::string>& words, size_t at) {
    Position& pos = game();
    PlyRecord* root = game_root();
    if (at >= words.size()) return;
    std::string fen;
    size_t i = at;
    if (words[i] == "startpos") {
        fen = START_FEN;
        i++;
    } else if (words[i] == "fen") {
        for (i++; i < words.size() && words[i] != "moves"; i++) fen += (fen.empty() ? "" : " ") + words[i];
    } else {
        log_print("info string position needs \"startpos\" or \"fen\", got \"%s\"\n", echo(words[i]).c_str());
        return;
    }
    std::string problem = parse_fen(pos, fen.c_str(), root);
    if (problem.empty()) problem = position_problem(pos.board);
    bool moves_ok = true;
    if (!problem.empty()) {
        log_print("info string Illegal position (%s): the start position is set up instead\n", problem.c_str());
        parse_fen(pos, START_FEN, root);
        moves_ok = false;
    }
    if (moves_ok && i < words.size() && words[i] == "moves") {
        std::string list;
        for (i++; i < words.size(); i++) list += " " + words[i];
        apply_move_list(pos, list.c_str(), root);
    }
    update_check_info(pos, root);
}

// The legal root move with this text (promotion letter in either case).
static Move legal_move_from_text(const std::string& text) {
    Move word = parse_move_text(text.c_str());
    if (!word || text.size() > 5) return 0;
    PlyRecord* root = game_root();
    generate_legal_moves(game(), root);
    bool promotion = (word & MOVE_PROMOTION) != 0;
    for (int i = 0; i < root->move_count; i++)
        if (text_names_move(game(), root->moves[i], word, promotion) &&
            (text.size() == 5) == ((root->moves[i] & MOVE_PROMOTION) != 0))
            return root->moves[i];
    return 0;
}

static void go(const std::vector<std::string>& words, size_t at) {
    SearchLimits limits = default_limits();
    limits.move_overhead = move_overhead;
    limits.multipv = multipv_option;
    limits.show_wdl = show_wdl;
    if (limit_strength) limits.elo = elo_option;
    limits.tb_probe_depth = tb_probe_depth;
    limits.tb_rule50 = tb_rule50;
    limits.tb_probe_limit = tb_probe_limit;
    for (size_t i = at; i < words.size(); i++) {
        const std::string& w = words[i];
        long long v = 0;
        bool has_value = i + 1 < words.size() && parse_number(words[i + 1], v);
        if (w == "infinite") limits.infinite = true;
        else if (w == "ponder") limits.ponder = true;
        else if (w == "searchmoves") {
            // Moves follow until a word that is not one; words that are not
            // legal moves are skipped.
            for (; i + 1 < words.size(); i++) {
                const std::string& next = words[i + 1];
                if (!parse_move_text(next.c_str())) break;
                Move m = legal_move_from_text(next);
                if (m && limits.searchmove_count < MAX_MOVES) limits.searchmoves[limits.searchmove_count++] = m;
                else if (!m) log_print("info string searchmoves: %s is not a legal move here\n", echo(next).c_str());
            }
        } else if (w == "wtime" || w == "btime" || w == "winc" || w == "binc" || w == "movestogo" ||
                   w == "movetime" || w == "depth" || w == "nodes" || w == "mate") {
            if (!has_value) {
                log_print("info string go: %s needs a number\n", w.c_str());
                continue;
            }
            i++;
            if (w == "wtime" || w == "btime") {
                limits.time[w[0] == 'w' ? WHITE : BLACK] = v;
                limits.time_given[w[0] == 'w' ? WHITE : BLACK] = true;
                limits.clock_given = true;
            } else if (w == "winc" || w == "binc") {
                limits.increment[w[0] == 'w' ? WHITE : BLACK] = v;
            } else if (w == "movestogo") {
                limits.moves_to_go = v > 0 && v < INT_MAX ? int(v) : 0;
            } else if (w == "movetime") {
                limits.move_time = v > 0 ? v : 1;
            } else if (w == "depth") {
                limits.depth = v >= 1 && v < MAX_SEARCH_DEPTH ? int(v) : MAX_SEARCH_DEPTH;
            } else if (w == "nodes") {
                limits.nodes = v > 0 ? U64(v) : 1;
            } else if (w == "mate") {
                limits.mate = v > 0 && v < MAX_SEARCH_DEPTH ? int(v) : 0;
            }
        }
    }
    if (bounds.go_nodes) {
        limits.infinite = limits.ponder = false;
        if (!limits.nodes || limits.nodes > bounds.go_nodes) limits.nodes = bounds.go_nodes;
    }
    think(pool(), limits, game());
    if (search_quitting(pool())) quit_requested = true;
}

// A check option takes "true" or "false" (in any case).
static void set_check(const char* name, const std::string& value, bool& option) {
    if (same_word(value, "true")) option = true;
    else if (same_word(value, "false")) option = false;
    else log_print("info string %s must be true or false, not \"%s\"\n", name, echo(value).c_str());
}

// "setoption name <name words> [value <value words>]"; names and true/false
// are matched without regard to case.
static void set_option(const std::vector<std::string>& words, size_t at) {
    std::string name, value;
    size_t i = at;
    if (i < words.size() && same_word(words[i], "name")) i++;
    for (; i < words.size() && !same_word(words[i], "value"); i++) name += (name.empty() ? "" : " ") + words[i];
    if (i < words.size()) {
        for (i++; i < words.size(); i++) value += (value.empty() ? "" : " ") + words[i];
    }
    long long n = 0;
    bool numeric = parse_number(value, n);
    if (same_word(name, "Hash")) {
        if (!numeric || n < 1 || n > MAX_HASH_MB)
            log_print("info string Hash must be a number of megabytes from 1 to %i, not \"%s\"\n", MAX_HASH_MB,
                      echo(value).c_str());
        else if (!hash_allocate(bounds.hash_mb && n > bounds.hash_mb ? bounds.hash_mb : int(n)))
            log_print("info string Not enough memory for %lld MB of hash: the table is kept\n", n);
    } else if (same_word(name, "Threads")) {
        if (!numeric || n < 1 || n > MAX_THREADS)
            log_print("info string Threads must be a number from 1 to %i, not \"%s\"\n", MAX_THREADS,
                      echo(value).c_str());
        else if (!set_thread_count(pool(), bounds.threads && n > bounds.threads ? bounds.threads : int(n)))
            log_print("info string Not enough memory for %lld threads: %i kept\n", n, thread_count(pool()));
    } else if (same_word(name, "Move Overhead")) {
        if (!numeric || n < 0 || n > MAX_MOVE_OVERHEAD)
            log_print("info string Move Overhead must be a number of milliseconds from 0 to %i, not \"%s\"\n",
                      MAX_MOVE_OVERHEAD, echo(value).c_str());
        else
            move_overhead = int(n);
    } else if (same_word(name, "MultiPV")) {
        if (!numeric || n < 1 || n > MAX_MULTIPV)
            log_print("info string MultiPV must be a number from 1 to %i, not \"%s\"\n", MAX_MULTIPV,
                      echo(value).c_str());
        else
            multipv_option = int(n);
    } else if (same_word(name, "Ponder")) {
        set_check("Ponder", value, ponder_option);
    } else if (same_word(name, "UCI_ShowWDL")) {
        set_check("UCI_ShowWDL", value, show_wdl);
    } else if (same_word(name, "UCI_LimitStrength")) {
        set_check("UCI_LimitStrength", value, limit_strength);
    } else if (same_word(name, "UCI_Elo")) {
        if (!numeric || n < STRENGTH_MIN_ELO || n > STRENGTH_MAX_ELO)
            log_print("info string UCI_Elo must be a number from %i to %i, not \"%s\"\n", STRENGTH_MIN_ELO,
                      STRENGTH_MAX_ELO, echo(value).c_str());
        else
            elo_option = int(n);
    } else if (same_word(name, "Clear Hash")) {
        clear_search_memory(pool());
    } else if (same_word(name, "UCI_Chess960")) {
        // The game record carries the mode: FEN reading, FEN and move text follow it.
        set_check("UCI_Chess960", value, game().chess960);
    } else if (same_word(name, "SyzygyPath")) {
        // The search has ended: setoption waits for it, so no thread probes now.
        for (const std::string& line : syzygy_load(value)) log_print("info string %s\n", line.c_str());
        hash_clear();  // results of the old tables (or of none) are not the new tables'
    } else if (same_word(name, "SyzygyProbeDepth")) {
        if (!numeric || n < 1 || n > MAX_TB_PROBE_DEPTH)
            log_print("info string SyzygyProbeDepth must be a number from 1 to %i, not \"%s\"\n", MAX_TB_PROBE_DEPTH,
                      echo(value).c_str());
        else
            tb_probe_depth = int(n);
    } else if (same_word(name, "Syzygy50MoveRule")) {
        bool before = tb_rule50;
        set_check("Syzygy50MoveRule", value, tb_rule50);
        if (tb_rule50 != before) hash_clear();  // stored table results followed the other rule
    } else if (same_word(name, "SyzygyProbeLimit")) {
        if (!numeric || n < 0 || n > SYZYGY_MAX_MEN)
            log_print("info string SyzygyProbeLimit must be a number from 0 to %i, not \"%s\"\n", SYZYGY_MAX_MEN,
                      echo(value).c_str());
        else if (tb_probe_limit != int(n)) {
            tb_probe_limit = int(n);
            hash_clear();  // stored table results may be of tables no longer probed
        }
    } else if (!name.empty()) {
        log_print("info string No such option: %s\n", echo(name).c_str());
    }
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

static void run_perft(const std::vector<std::string>& words, size_t at) {
    long long depth = 1;
    if (at < words.size() && (!parse_number(words[at], depth) || depth < 1)) depth = 1;
    if (depth > MAX_PERFT_DEPTH) {
        log_print("info string perft depth is limited to %i\n", MAX_PERFT_DEPTH);
        depth = MAX_PERFT_DEPTH;
    }
    if (bounds.perft_depth && depth > bounds.perft_depth) depth = bounds.perft_depth;
    perft_divide(game(), int(depth), game_root());
}

// Commands served at once while a search runs; all others wait for its end.
static bool is_immediate(const std::string& command) {
    return command == "stop" || command == "quit" || command == "isready" || command == "ponderhit";
}

static bool execute_words(const std::vector<std::string>& words) {
    size_t at = command_index(words);
    if (at == words.size()) return true;
    const std::string& c = words[at];
    size_t args = at + 1;
    Position& pos = game();
    PlyRecord* root = game_root();
    if (c == "quit") {
        quit_requested = true;
        return false;
    }
    if (c == "isready") log_print("readyok\n");
    else if (c == "uci") print_uci_identity();
    else if (c == "ucinewgame") clear_search_memory(pool());
    else if (c == "position") set_position(words, args);
    else if (c == "go") go(words, args);
    else if (c == "setoption") set_option(words, args);
    else if (c == "bench") {
        int deepest = bounds.perft_depth && bounds.perft_depth < CONSOLE_BENCH_DEPTH ? bounds.perft_depth
                                                                                  : CONSOLE_BENCH_DEPTH;
        for (int depth = 1; depth <= deepest; depth++) perft_divide(pos, depth, root);
    } else if (c == "perft") run_perft(words, args);
    else if (c == "print") print_board(pos, root);
    else if (c == "score") {
        print_board(pos, root);
        log_print(" Score: %i\n\n", evaluate(pos, root));
    } else if (c == "help") print_help();
    else if (c == ".") {
        log_print("%s to move\n", pos.board.side == WHITE ? "White" : "Black");
        log_print("fen: %s\n", position_to_fen(pos, root).c_str());
    }
    // "stop" and "ponderhit" with no search running, "debug", "register": nothing to do.
    return !quit_requested;
}

bool uci_execute(const std::string& line) { return execute_words(split_words(line)); }

bool uci_has_deferred() { return !deferred_lines.empty(); }

bool uci_execute_deferred() {
    std::string line = deferred_lines.front();
    deferred_lines.pop_front();
    return uci_execute(line);
}

void uci_set_bounds(const CommandBounds& new_bounds) { bounds = new_bounds; }

void uci_reset() {
    deferred_lines.clear();
    quit_requested = false;
    move_overhead = DEFAULT_MOVE_OVERHEAD;
    ponder_option = false;
    multipv_option = 1;
    show_wdl = false;
    limit_strength = false;
    elo_option = DEFAULT_ELO;
    tb_probe_depth = DEFAULT_TB_PROBE_DEPTH;
    tb_rule50 = true;
    tb_probe_limit = SYZYGY_MAX_MEN;
    syzygy_load("");
    if (thread_count(pool()) != 1) set_thread_count(pool(), 1);
    int hash_mb = bounds.hash_mb && bounds.hash_mb < DEFAULT_HASH_MB ? bounds.hash_mb : DEFAULT_HASH_MB;
    if (hash_table.bucket_count != hash_bucket_count(hash_mb)) hash_allocate(hash_mb);
    clear_search_memory(pool());
    game().chess960 = false;
    parse_fen(game(), START_FEN, game_root());
    update_check_info(game(), game_root());
}

// The search's window on the input: "stop", "quit", "isready" and
// "ponderhit" are served at once, every other line waits for the search.
static void poll_during_search() {
    while (input_available()) {
        std::string line;
        switch (read_line(line)) {
        case LineStatus::EndOfInput:
            // Nobody can talk to us any more: leave as on "quit".
            search_quit(pool());
            return;
        case LineStatus::TooLong:
            report_long_line();
            continue;
        case LineStatus::Line:
            break;
        }
        log_input(line, true);
        std::vector<std::string> words = split_words(line);
        size_t at = command_index(words);
        if (at == words.size()) continue;
        const std::string& c = words[at];
        if (!is_immediate(c)) deferred_lines.push_back(line);
        else if (c == "stop") search_stop(pool());
        else if (c == "quit") search_quit(pool());
        else if (c == "isready") log_print("readyok\n");
        else if (c == "ponderhit") search_ponderhit(pool());
    }
}

// ---- Perft --------------------------------------------------------------------------

uint64_t perft_count(Position& pos, int depth, PlyRecord* rec) {
    if (depth == 0) return 1;
    // The last ply is only counted: no move needs to be made there.
    if (depth == 1) return uint64_t(count_legal_moves_fast(pos, rec));
    generate_moves(pos, rec);
    uint64_t total = 0;
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        if (!make_move(pos, i, rec, next)) continue;
        total += perft_count(pos, depth - 1, next);
        unmake_move(pos, i, rec);
    }
    return total;
}

uint64_t perft_divide(Position& pos, int depth, PlyRecord* rec) {
    print_board(pos, rec);
    log_print("\n");
    if (depth == 0) return 1;
    generate_moves(pos, rec);
    if (rec->move_count == 0) return 0;
    int64_t start = now_ms();
    uint64_t total = 0;
    PlyRecord* next = rec->next;
    for (int i = 0; i < rec->move_count; i++) {
        Move m = make_move(pos, i, rec, next);
        if (!m) continue;
        print_move(pos, m);
        uint64_t count = perft_count(pos, depth - 1, next);
        unmake_move(pos, i, rec);
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

// ---- Benchmark -------------------------------------------------------------------------

// Middle games and endings from real play and well-known test positions.
static const char* const BENCH_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 10",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 11",
    "4rrk1/pp1n3p/3q2pQ/2p1pb2/2PP4/2P3N1/P2B2PP/4RRK1 b - - 7 19",
    "rq3rk1/ppp2ppp/1bnpb3/3N2B1/3NP3/7P/PPPQ1PP1/2KR3R w - - 7 14",
    "r1bq1r1k/1pp1n1pp/1p1p4/4p2Q/4Pp2/1BNP4/PPP2PPP/3R1RK1 w - - 2 14",
    "r3r1k1/2p2ppp/p1p1bn2/8/1q2P3/2NPQN2/PPP3PP/R4RK1 b - - 2 15",
    "r1bbk1nr/pp3p1p/2n5/1N4p1/2Np1B2/8/PPP2PPP/2KR1B1R w kq - 0 13",
    "r1bq1rk1/ppp1nppp/4n3/3p3Q/3P4/1BP1B3/PP1N2PP/R4RK1 w - - 1 16",
    "4r1k1/r1q2ppp/ppp2n2/4P3/5Rb1/1N1BQ3/PPP3PP/R5K1 w - - 1 17",
    "2rqkb1r/ppp2p2/2npb1p1/1N1Nn2p/2P1PP2/8/PP2B1PP/R1BQK2R b KQ - 0 11",
    "r1bq1r1k/b1p1npp1/p2p3p/1p6/3PP3/1B2NN2/PP3PPP/R2Q1RK1 w - - 1 16",
    "3r1rk1/p5pp/bpp1pp2/8/q1PP1P2/b3P3/P2NQRPP/1R2B1K1 b - - 6 22",
    "r1q2rk1/2p1bppp/2Pp4/p6b/Q1PNp3/4B3/PP1R1PPP/2K4R w - - 2 18",
    "4k2r/1pb2ppp/1p2p3/1R1p4/3P4/2r1PN2/P4PPP/1R4K1 b - - 3 22",
    "3q2k1/pb3p1p/4pbp1/2r5/PpN2N2/1P2P2P/5PP1/Q2R2K1 b - - 4 26",
    "6k1/6p1/6Pp/ppp5/3pn2P/1P3K2/1PP2P2/3N4 b - - 0 1",
    "3b4/5kp1/1p1p1p1p/pP1PpP1P/P1P1P3/3KN3/8/8 w - - 0 1",
    "2K5/p7/7P/5pR1/8/5k2/r7/8 w - - 0 1",
    "8/6pk/1p6/8/PP3p1p/5P2/4KP1q/3Q4 w - - 0 1",
    "7k/3p2pp/4q3/8/4Q3/5Kp1/P6b/8 w - - 0 1",
    "8/2p5/8/2kPKp1p/2p4P/2P5/3P4/8 w - - 0 1",
    "8/1p3pp1/7p/5P1P/2k3P1/8/2K2P2/8 w - - 0 1",
    "8/pp2r1k1/2p1p3/3pP2p/1P1P1P1P/P5KR/8/8 w - - 0 1",
    "8/3p4/p1bk3p/Pp6/1Kp1PpPp/2P2P1P/2P5/5B2 b - - 0 1",
    "5k2/7R/4P2p/5K2/p1r2P1p/8/8/8 b - - 0 1",
    "6k1/6p1/P6p/r1N5/5p2/7P/1b3PP1/4R1K1 w - - 0 1",
    "1r3k2/4q3/2Pp3b/3Bp3/2Q2p2/1p1P2P1/1P2KP2/3N4 w - - 0 1",
    "6k1/4pp1p/3p2p1/P1pPb3/R7/1r2P1PP/3B1P2/6K1 w - - 0 1",
    "8/3p3B/5p2/5P2/p7/PP5b/k7/6K1 w - - 0 1",
    "5rk1/q6p/2p3bR/1pPp1rP1/1P1Pp3/P3B1Q1/1K3P2/R7 w - - 93 90",
    "4rrk1/1p1nq3/p7/2p1P1pp/3P2bp/3Q1Bn1/PPPB4/1K2R1NR w - - 40 21",
    "r3k2r/3nnpbp/q2pp1p1/p7/Pp1PPPP1/4BNN1/1P5P/R2Q1RK1 w kq - 0 16",
    "3Qb1k1/1r2ppb1/pN1n2q1/Pp1Pp1Pr/4P2p/4BP2/4B1R1/1R5K b - - 11 40",
    "4k3/3q1r2/1N2r1b1/3ppN2/2nPP3/1B1R2n1/2R1Q3/3K4 w - - 5 1",
    "8/8/8/8/5kp1/P7/8/1K1N4 w - - 0 1",
    "8/8/8/5N2/8/p7/8/2NK3k w - - 0 1",
    "8/3k4/8/8/8/4B3/4KB2/2B5 w - - 0 1",
    "8/8/1P6/5pr1/8/4R3/7k/2K5 w - - 0 1",
    "8/2p4P/8/kr6/6R1/8/8/1K6 w - - 0 1",
    "8/8/3P3k/8/1p6/8/1P6/1K3n2 b - - 0 1",
    "8/R7/2q5/8/6k1/8/1P5p/K6R w - - 0 124",
    "6k1/3b3r/1p1p4/p1n2p2/1PPNpP1q/P3Q1p1/1R1RB1P1/5K2 b - - 0 1",
    "r2r1n2/pp2bk2/2p1p2p/3q4/3PN1QP/2P3R1/P4PP1/5RK1 w - - 0 1",
};

uint64_t run_bench(int depth) {
    hash_allocate(BENCH_HASH_MB);
    // A pool of its own: one thread, no input read, the game left alone.
    SearchPool bench_pool;
    Position* pos = new_position();
    uint64_t total = 0;
    int64_t start = now_ms();
    int count = int(sizeof BENCH_POSITIONS / sizeof BENCH_POSITIONS[0]);
    for (int i = 0; i < count; i++) {
        PlyRecord* root = root_record(*pos);
        parse_fen(*pos, BENCH_POSITIONS[i], root);
        update_check_info(*pos, root);
        SearchLimits limits = default_limits();
        limits.depth = depth;
        log_mute(true);
        think(bench_pool, limits, *pos);
        log_mute(false);
        U64 nodes = search_nodes(bench_pool);
        total += nodes;
        log_print("Position %2i/%i: %llu nodes\n", i + 1, count, (unsigned long long)nodes);
    }
    int64_t elapsed = now_ms() - start;
    unsigned long long nps = elapsed > 0 ? (unsigned long long)(total * 1000 / uint64_t(elapsed)) : 0;
    log_print("%llu nodes %llu nps\n", (unsigned long long)total, nps);
    delete pos;
    return total;
}

// ---- The program ------------------------------------------------------------------------

int uci_main(int argc, char** argv) {
    input_available();
    if (argc >= 2 && strcmp(argv[1], "bench") == 0) {
        long long depth = BENCH_DEFAULT_DEPTH;
        if (argc >= 3 && (!parse_number(argv[2], depth) || depth < 1 || depth >= MAX_SEARCH_DEPTH)) {
            fprintf(stderr, "usage: brik bench [depth from 1 to %i]\n", MAX_SEARCH_DEPTH - 1);
            return 2;
        }
        log_mute(true);  // the magic search prints what it finds
        init_engine_tables();
        log_mute(false);
        run_bench(int(depth));
        return 0;
    }
    report_file = fopen("report.txt", "wb");
    report_bytes = 0;
    init_engine_tables();
    log_print("%s v%s by %s\n", ENGINE_NAME, ENGINE_VERSION, ENGINE_AUTHOR);
    if (!uci_handshake()) {
        close_report();
        return 0;
    }
    srand(unsigned(time(nullptr)));
    pool().poll_input = poll_during_search;
    parse_fen(game(), START_FEN, game_root());
    update_check_info(game(), game_root());
    for (;;) {
        bool go_on;
        if (uci_has_deferred()) {
            go_on = uci_execute_deferred();
        } else {
            std::string line;
            LineStatus status = read_line(line);  // blocks: no busy-waiting while idle
            if (status == LineStatus::EndOfInput) break;
            if (status == LineStatus::TooLong) {
                report_long_line();
                continue;
            }
            log_input(line, true);
            go_on = uci_execute(line);
        }
        if (!go_on) break;
    }
    close_report();
    return 0;
}
