// Fixed-depth search over a set of middle-game and endgame positions.
//
// Every position gets a fresh search memory (as after "ucinewgame" and "go"),
// so the node total is fully determined by the search and evaluation code:
// it is the search's signature, and it changes only when their behaviour
// does. The wall-clock speed of the same run gives nodes per second.
//
//   build-<dir>/bench/bench_search [google-benchmark flags]
//
// The tables are built in a private temporary directory, so nothing is read
// from or left in the working directory. The environment variable
// BRIK_BENCH_DEPTH overrides the search depth; the signature is only
// comparable between runs at the same depth.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "board.h"
#include "uci.h"
#include "movegen.h"
#include "search.h"
#include "tt.h"

namespace {

constexpr int DEFAULT_DEPTH = 7;
// Same table size as Stockfish's bench, so both programs pay for similar
// cache misses on the hash table.
constexpr int BENCH_HASH_MB = 16;

std::string positions_path() {
    std::string here = __FILE__;
    size_t slash = here.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : here.substr(0, slash);
    return dir + "/search_positions.txt";
}

std::vector<std::string> load_positions() {
    std::vector<std::string> fens;
    std::ifstream in(positions_path());
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        size_t last = line.find_last_not_of(" \t\r");
        fens.push_back(line.substr(first, last - first + 1));
    }
    return fens;
}

int bench_depth() {
    const char* text = getenv("BRIK_BENCH_DEPTH");
    int depth = text ? atoi(text) : 0;
    return depth >= 1 && depth <= 60 ? depth : DEFAULT_DEPTH;
}

// The search prints every "info" line; those would swamp the report and cost
// terminal time that is not the engine's. Send them to /dev/null meanwhile.
class QuietStdout {
public:
    QuietStdout() {
        fflush(stdout);
        saved_ = dup(1);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~QuietStdout() {
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};

// While it searches, the engine polls standard input for commands, and the
// end of input counts as "quit" (the search would stop early). Standard input
// is therefore replaced by a pipe whose write end stays open and silent for
// the life of the process: whatever the caller connected (a terminal,
// /dev/null, nothing), the search never sees a command or an end of input.
void give_search_an_idle_stdin() {
    int fds[2];
    if (pipe(fds) != 0) {
        perror("bench_search: pipe");
        exit(1);
    }
    if (fds[0] != 0) {  // already 0 when the caller closed standard input
        dup2(fds[0], 0);
        close(fds[0]);
    }
    // fds[1] is deliberately kept open (and leaked) until exit.
}

// The Zobrist keys are drawn after the magic tables from the same random
// sequence, so they differ between a start that finds "magics.txt" and one
// that has to search the magics, and with the keys the hash-table collisions
// and the node counts. The usual case is a start that finds the file: build
// the tables twice in a private directory (the first start writes the file,
// the second reads it) so that the signature does not depend on what the
// working directory holds.
void build_tables_as_with_magics_file() {
    char dir[] = "/tmp/brik_bench_XXXXXX";
    if (!mkdtemp(dir)) {
        perror("bench_search: mkdtemp");
        exit(1);
    }
    int here = open(".", O_RDONLY | O_DIRECTORY);
    if (here < 0 || chdir(dir) != 0) {
        perror("bench_search: chdir");
        exit(1);
    }
    {
        QuietStdout quiet;  // the magic search prints what it finds
        init_engine_tables();
        if (access("magics.txt", R_OK) != 0)
            fprintf(stderr, "bench_search: magics.txt was not written; the node count will differ\n");
        init_engine_tables();
    }
    unlink("magics.txt");
    if (fchdir(here) != 0) {
        perror("bench_search: fchdir");
        exit(1);
    }
    close(here);
    rmdir(dir);
}

bool tables_ready = false;

void prepare_engine() {
    if (tables_ready) return;
    tables_ready = true;
    give_search_an_idle_stdin();
    build_tables_as_with_magics_file();
    if (!hash_allocate(BENCH_HASH_MB)) {
        fprintf(stderr, "bench_search: cannot allocate a %d MB hash table\n", BENCH_HASH_MB);
        exit(1);
    }
}

struct RunResult {
    uint64_t nodes = 0;
    double seconds = 0;
};

Position& scratch() {
    static Position* pos = new_position();
    return *pos;
}

RunResult search_all(const std::vector<std::string>& fens, int depth) {
    RunResult result;
    static SearchPool pool;
    Position& pos = scratch();
    PlyRecord* root = root_record(pos);
    QuietStdout quiet;
    auto start = std::chrono::steady_clock::now();
    for (const std::string& fen : fens) {
        clear_search_memory(pool);
        parse_fen(pos, fen.c_str(), root);
        update_check_info(pos, root);
        SearchLimits limits = default_limits();
        limits.depth = depth;  // only the depth limit ends the search
        think(pool, limits, pos);
        result.nodes += search_nodes(pool);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

bool check_positions(const std::vector<std::string>& fens) {
    if (fens.empty()) {
        fprintf(stderr, "bench_search: no positions in %s\n", positions_path().c_str());
        return false;
    }
    for (const std::string& fen : fens) {
        parse_fen(scratch(), fen.c_str(), root_record(scratch()));
        std::string problem = position_problem(scratch().board);
        if (!problem.empty()) {
            fprintf(stderr, "bench_search: illegal position (%s): %s\n", problem.c_str(), fen.c_str());
            return false;
        }
    }
    return true;
}

void BM_search_positions(benchmark::State& state) {
    prepare_engine();
    static const std::vector<std::string> fens = load_positions();
    if (!check_positions(fens)) {
        state.SkipWithError("bad position file");
        return;
    }
    const int depth = bench_depth();
    RunResult total;
    uint64_t signature = 0;
    for (auto _ : state) {
        RunResult run = search_all(fens, depth);
        if (signature && run.nodes != signature) {
            // The same search twice must count the same nodes.
            state.SkipWithError("node count differs between runs");
            return;
        }
        signature = run.nodes;
        total.nodes += run.nodes;
        total.seconds += run.seconds;
        state.SetIterationTime(run.seconds);
    }
    double nps = total.seconds > 0 ? double(total.nodes) / total.seconds : 0;
    state.counters["positions"] = double(fens.size());
    state.counters["depth"] = depth;
    state.counters["nodes"] = double(signature);
    state.counters["nps"] = nps;
    fprintf(stderr, "bench_search: positions %zu depth %d nodes %llu time %.3f s nps %.0f\n", fens.size(), depth,
            (unsigned long long)signature, total.seconds, nps);
}

}  // namespace

// One pass is a long, deterministic run; repeat with --benchmark_repetitions.
BENCHMARK(BM_search_positions)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
