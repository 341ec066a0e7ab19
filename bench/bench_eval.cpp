// Static evaluation speed over positions recorded from real games
// (tests/data/eval_positions.txt, written by bench/make_eval_positions.sh).
//
// Each position is parsed once; the timed loop copies the stored board into
// the global one and evaluates, so FEN reading stays out of the figure.
// Start-up reads or writes "magics.txt" in the working directory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "board.h"
#include "uci.h"
#include "eval.h"

namespace {

struct StoredPosition {
    BoardState board;
    int castling;
};

Position& scratch() {
    static Position* pos = new_position();
    return *pos;
}

const std::vector<StoredPosition>& recorded_positions() {
    static std::vector<StoredPosition> positions;
    if (!positions.empty()) return positions;
    init_engine_tables();
    std::ifstream in(BRIK_TEST_DATA "/eval_positions.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        parse_fen(scratch(), line.c_str(), root_record(scratch()));
        positions.push_back({scratch().board, scratch().records[0].castling});
    }
    return positions;
}

void evaluate_recorded_positions(benchmark::State& state) {
    const std::vector<StoredPosition>& positions = recorded_positions();
    if (positions.empty()) {
        state.SkipWithError("no positions in " BRIK_TEST_DATA "/eval_positions.txt");
        return;
    }
    Position& pos = scratch();
    PlyRecord* rec = root_record(pos);
    static PawnTable pawns;
    int64_t evaluated = 0;
    for (auto _ : state) {
        int sum = 0;
        for (const StoredPosition& p : positions) {
            pos.board = p.board;
            rec->castling = p.castling;
            sum += evaluate(pos, rec, &pawns);
        }
        benchmark::DoNotOptimize(sum);
        evaluated += int64_t(positions.size());
    }
    state.counters["positions/s"] = benchmark::Counter(double(evaluated), benchmark::Counter::kIsRate);
    state.counters["positions"] = double(positions.size());
}

// The copy alone, to show how much of the figure above is not evaluation.
void copy_recorded_positions(benchmark::State& state) {
    const std::vector<StoredPosition>& positions = recorded_positions();
    int64_t copied = 0;
    for (auto _ : state) {
        for (const StoredPosition& p : positions) {
            scratch().board = p.board;
            benchmark::ClobberMemory();
        }
        copied += int64_t(positions.size());
    }
    state.counters["positions/s"] = benchmark::Counter(double(copied), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(evaluate_recorded_positions);
BENCHMARK(copy_recorded_positions);

BENCHMARK_MAIN();
