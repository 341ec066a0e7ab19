// Inputs the fuzz targets found faults with (fuzz/, scripts/fuzz), cut to the
// lines that matter: each must be answered as any other input, and the engine
// must stay up. Under the sanitizers (CI runs the e2e tests there too) the
// fault itself would end the engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_process.h"

namespace {

int count_prefixed(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace

TEST(FuzzFindings, EachInputIsAnsweredAndTheEngineStaysUp) {
    struct Case {
        const char* name;
        const char* input;  // sent as is, then "stop"
        int bestmoves;      // then "isready" must bring no more
    } cases[] = {
        // A clock of 10^23 ms saturates to LLONG_MAX: the budget multiplied it.
        {"huge wtime", "position fen 8/2p5/3pon4/KP5r/1R3p1k/8/4P1P1/8 w sition fen 8/2p1e4 f4e3\n"
                       "go searchmoves b4b1 b4f4 wtime 99999999999999999999100 btime 100 movestogo 3\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineProcess e;
        ASSERT_TRUE(engine_start_uci(e));
        engine_send(e, std::string(c.input) + "stop\n");
        for (int i = 0; i < c.bestmoves; i++) EXPECT_TRUE(engine_wait_for(e, "bestmove", nullptr, 120000));
        engine_send(e, "isready\n");
        std::vector<std::string> seen;
        EXPECT_TRUE(engine_wait_for(e, "readyok", &seen, 120000));
        EXPECT_EQ(count_prefixed(seen, "bestmove"), 0);
        engine_send(e, "quit\n");
        EXPECT_TRUE(engine_wait_exit(e, 60000));
        EXPECT_EQ(e.exit_status, 0);
        engine_stop(e);
    }
}
