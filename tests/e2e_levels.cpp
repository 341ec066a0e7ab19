// Playing at a level over the pipes: UCI_LimitStrength and UCI_Elo are
// offered and checked, a weakened search keeps to its small node budget on
// any clock, and its random pick never throws away a queen or a mate.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

long long nodes_of(const std::string& line) {
    std::smatch m;
    static const std::regex nodes(" nodes (\\d+) ");
    return std::regex_search(line, m, nodes) ? std::stoll(m[1].str()) : -1;
}

std::string bestmove_of(const std::string& line) {
    std::smatch m;
    static const std::regex form("bestmove (\\S+).*");
    return std::regex_match(line, m, form) ? m[1].str() : "";
}

class Levels : public ::testing::Test {
protected:
    EngineProcess e;
    void SetUp() override { ASSERT_TRUE(engine_start_uci(e)); }
    void TearDown() override { engine_stop(e); }

    void set(const std::string& name, const std::string& value) {
        EXPECT_EQ(engine_reply_to(e, "setoption name " + name + " value " + value), std::vector<std::string>{});
    }
    std::vector<std::string> search(const std::string& position, const std::string& go) {
        engine_send(e, position + "\n" + go + "\n");
        std::vector<std::string> seen;
        EXPECT_TRUE(engine_wait_for(e, "bestmove", &seen, 60000)) << go;
        return seen;
    }
};

}  // namespace

TEST_F(Levels, OptionsAreOfferedAndBadValuesRefused) {
    engine_send(e, "uci\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "uciok", &seen));
    int offered = 0;
    for (const std::string& l : seen)
        offered += l == "option name UCI_LimitStrength type check default false" ||
                   l == "option name UCI_Elo type spin default 2000 min 1350 max 2100";
    EXPECT_EQ(offered, 2);
    const struct {
        const char* command;
        const char* reply;
    } bad[] = {
        {"setoption name UCI_Elo value 1349", "info string UCI_Elo must be a number from 1350 to 2100"},
        {"setoption name UCI_Elo value 2101", "info string UCI_Elo must be a number from 1350 to 2100"},
        {"setoption name UCI_Elo value strong", "info string UCI_Elo must be a number from 1350 to 2100"},
        {"setoption name UCI_LimitStrength value yes", "info string UCI_LimitStrength must be true or false"},
    };
    for (const auto& c : bad) {
        std::vector<std::string> reply = engine_reply_to(e, c.command);
        ASSERT_EQ(reply.size(), 1u) << c.command;
        EXPECT_EQ(reply[0].rfind(c.reply, 0), 0u) << reply[0];
    }
}

// The lowest level answers from a few hundred nodes even on a long clock,
// and turning the limit off gives back the full search.
TEST_F(Levels, NodeBudgetHoldsOnAnyClock) {
    set("UCI_LimitStrength", "true");
    set("UCI_Elo", "1350");
    std::vector<std::string> out = search("position startpos", "go wtime 600000 btime 600000");
    ASSERT_GE(out.size(), 2u);
    long long nodes = nodes_of(out[out.size() - 2]);
    EXPECT_GT(nodes, 0);
    EXPECT_LT(nodes, 5000) << out[out.size() - 2];

    set("UCI_LimitStrength", "false");
    out = search("position startpos", "go depth 9");
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[out.size() - 2].rfind("info depth 9 seldepth ", 0), 0u) << out[out.size() - 2];
    EXPECT_EQ(out[out.size() - 2].find(" multipv "), std::string::npos) << out[out.size() - 2];
}

// However the random pick falls, a level never leaves a queen hanging
// nor misses a mate in one: the spread is far smaller than either.
TEST_F(Levels, RandomPickKeepsToNearBestMoves) {
    const struct {
        const char* position;
        const char* move;
    } cases[] = {
        {"position fen 4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1", "d2d5"},  // the rook takes the queen
        {"position fen 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "a1a8"},  // back-rank mate
    };
    set("UCI_LimitStrength", "true");
    for (const char* elo : {"1350", "2000"}) {
        set("UCI_Elo", elo);
        for (const auto& c : cases)
            for (int round = 0; round < 10; round++) {
                std::vector<std::string> out = search(c.position, "go wtime 60000 btime 60000");
                EXPECT_EQ(bestmove_of(out.back()), c.move) << elo << " " << c.position;
            }
    }
}
