#include <gtest/gtest.h>

#include "uci.h"
#include "test_support.h"

TEST(Perft, StartPositionShallow) {
    PlyRecord* root = setup_position(START_FEN);
    EXPECT_EQ(perft_count(1, root), 20u);
    EXPECT_EQ(perft_count(3, root), 8902u);
}
