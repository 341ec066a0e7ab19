#include <gtest/gtest.h>

#include "uci.h"
#include "test_support.h"

TEST(Perft, StartPositionShallow) {
    PlyRecord* root = setup_position(START_FEN);
    Position& pos = test_pos();
    EXPECT_EQ(perft_count(pos, 1, root), 20u);
    EXPECT_EQ(perft_count(pos, 3, root), 8902u);
}
