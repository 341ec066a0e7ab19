// brik-datagen: plays fast self-play games and writes their quiet positions,
// each labelled with the game's result and its search score, for training
// the evaluation.
//
//   brik-datagen --book FILE --out FILE [--games N] [--seed S] [--nodes N] [--per-game K|all]
//
// Output lines are "<FEN> | <result> | <score>", the result 1.0, 0.5 or 0.0
// and the score in centipawns, both from White's point of view. The same arguments give the same file. Progress
// goes to standard error. Like the engine, it keeps "magics.txt" in the
// current directory.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datagen_lib.h"
#include "platform.h"
#include "uci.h"

constexpr int PROGRESS_EVERY_GAMES = 100;

struct Progress {
    FILE* out;
    int games_wanted;
    int games;
    long long positions;
    int results[3];  // by GameResult
    int ends[8];     // by GameEnd
    long long plies;
    int64_t start_ms;
};

static const char* const END_NAMES[8] = {"checkmate", "stalemate", "fifty moves", "repetition",
                                         "material", "ply cap", "adjudicated win", "adjudicated draw"};

static void report(const Progress& p) {
    double seconds = double(now_ms() - p.start_ms) / 1000;
    if (seconds <= 0) seconds = 0.001;
    fprintf(stderr, "games %d/%d  positions %lld (%.1f per game)  %.2f games/s  %.1f positions/s  +%d =%d -%d\n",
            p.games, p.games_wanted, p.positions, p.games ? double(p.positions) / p.games : 0.0, p.games / seconds,
            double(p.positions) / seconds, p.results[WHITE_WINS], p.results[DRAWN], p.results[BLACK_WINS]);
}

static void write_game(const GameRecord& game, void* context) {
    Progress& p = *static_cast<Progress*>(context);
    for (size_t i = 0; i < game.positions.size(); i++) {
        std::string line = data_line(game.positions[i], game.result, game.scores[i]) + "\n";
        fwrite(line.data(), 1, line.size(), p.out);
    }
    p.games++;
    p.positions += (long long)game.positions.size();
    p.results[game.result]++;
    p.ends[int(game.end)]++;
    p.plies += game.plies;
    if (p.games % PROGRESS_EVERY_GAMES == 0) report(p);
}

static int usage() {
    fprintf(stderr,
            "usage: brik-datagen --book FILE --out FILE [--games N] [--seed S] [--nodes N] [--per-game K|all]\n"
            "  --book      openings, one EPD or FEN a line (its first four fields are used)\n"
            "  --out       output file: one \"<FEN> | <result> | <score>\" line per position\n"
            "  --nodes     search nodes a move (default 1500)\n"
            "  --per-game  quiet positions kept from a game at most (default all)\n");
    return 2;
}

// A whole decimal number from min up; false otherwise.
static bool parse_count(const char* text, uint64_t min, uint64_t max, uint64_t& value) {
    if (!*text || *text == '-' || *text == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 10);
    if (errno || *end || v < min || v > max) return false;
    value = v;
    return true;
}

int main(int argc, char** argv) {
    DatagenConfig config = default_datagen_config();
    const char* book_path = nullptr;
    const char* out_path = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        uint64_t n = 0;
        if (!strcmp(arg, "--book")) book_path = value;
        else if (!strcmp(arg, "--out")) out_path = value;
        else if (!strcmp(arg, "--seed") && parse_count(value, 0, UINT64_MAX, n)) config.seed = n;
        else if (!strcmp(arg, "--games") && parse_count(value, 1, INT32_MAX, n)) config.games = int(n);
        else if (!strcmp(arg, "--nodes") && parse_count(value, 1, UINT64_MAX, n)) config.nodes = n;
        else if (!strcmp(arg, "--per-game") && !strcmp(value, "all")) config.per_game = 0;
        else if (!strcmp(arg, "--per-game") && parse_count(value, 1, INT32_MAX, n)) config.per_game = int(n);
        else {
            fprintf(stderr, "brik-datagen: bad argument: %s %s\n", arg, value);
            return usage();
        }
    }
    if (!book_path || !out_path) return usage();

    std::vector<std::string> book;
    if (!read_book(book_path, book) || book.empty()) {
        fprintf(stderr, "brik-datagen: no openings in %s\n", book_path);
        return 1;
    }
    FILE* out = fopen(out_path, "wb");
    if (!out) {
        fprintf(stderr, "brik-datagen: cannot write %s: %s\n", out_path, strerror(errno));
        return 1;
    }
    log_mute(true);  // the magic search prints what it finds
    init_engine_tables();
    log_mute(false);

    const std::string kept = config.per_game ? "at most " + std::to_string(config.per_game) : std::string("all");
    fprintf(stderr, "brik-datagen: %d games, %" PRIu64 " nodes a move, %s quiet positions a game, seed %" PRIu64
            ", %zu openings\n", config.games, uint64_t(config.nodes), kept.c_str(), config.seed, book.size());
    Progress progress{out, config.games, 0, 0, {0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, 0, now_ms()};
    bool played = generate_games(config, book, write_game, &progress);
    if (progress.games % PROGRESS_EVERY_GAMES != 0) report(progress);
    if (progress.games) {
        fprintf(stderr, "%.1f plies a game; ends:", double(progress.plies) / progress.games);
        for (int i = 0; i < 8; i++) fprintf(stderr, "%s %s %d", i ? "," : "", END_NAMES[i], progress.ends[i]);
        fprintf(stderr, "\n");
    }
    bool written = !ferror(out);
    if (fclose(out) != 0) written = false;
    if (!played) {
        fprintf(stderr, "brik-datagen: no opening of %s starts a game\n", book_path);
        return 1;
    }
    if (!written) {
        fprintf(stderr, "brik-datagen: writing %s failed\n", out_path);
        return 1;
    }
    return 0;
}
