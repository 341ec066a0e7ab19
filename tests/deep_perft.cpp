// Full-depth perft counts of the tables in data/perft.epd and (read as
// Chess960) data/perft960.epd: each position is a test of its own, run at the
// deepest depth the table lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "uci.h"
#include "test_support.h"

namespace {


std::string test_name(const testing::TestParamInfo<PerftCase>& info) {
    std::string id;
    for (char ch : info.param.name) {
        if (isalnum(static_cast<unsigned char>(ch)))
            id += ch;
        else if (!id.empty() && id.back() != '_')
            id += '_';
    }
    while (!id.empty() && id.back() == '_') id.pop_back();
    return std::to_string(info.index) + "_" + id;
}

class DeepPerft : public testing::TestWithParam<PerftCase> {};

}  // namespace

TEST_P(DeepPerft, DeepestListedDepth) {
    const PerftCase& c = GetParam();
    ASSERT_FALSE(c.nodes.empty()) << c.fen;
    PlyRecord* root = setup_position(c.fen.c_str(), c.chess960);
    Position& pos = test_pos();
    int depth = int(c.nodes.size());
    EXPECT_EQ(perft_count(pos, depth, root), c.nodes.back()) << c.fen << " depth " << depth;
    EXPECT_TRUE(board_is_consistent(pos, root));
}

INSTANTIATE_TEST_SUITE_P(Table, DeepPerft, testing::ValuesIn(load_perft_table()), test_name);
INSTANTIATE_TEST_SUITE_P(Chess960, DeepPerft, testing::ValuesIn(load_perft960_table()), test_name);

// Guards against a missing or unreadable table silently running no test.
TEST(DeepPerftTable, IsPresent) {
    EXPECT_GE(load_perft_table().size(), 8u);
    EXPECT_GE(load_perft960_table().size(), 40u);
}
