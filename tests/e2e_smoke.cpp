#include <gtest/gtest.h>

#include "engine_process.h"

TEST(EndToEnd, HandshakeAndQuit) {
    EngineProcess e;
    ASSERT_TRUE(engine_start_uci(e));
    engine_send(e, "isready\n");
    EXPECT_TRUE(engine_wait_for(e, "readyok"));
    engine_send(e, "quit\n");
    EXPECT_TRUE(engine_wait_exit(e));
    EXPECT_EQ(e.exit_status, 0);
    engine_stop(e);
}
