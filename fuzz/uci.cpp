// The command loop: the input's lines go one by one to the handler standard
// input feeds after the handshake. Every "go" is a small node budget and perft
// depths and threads are capped, so one input runs in milliseconds. After every line the
// board must still be consistent (bitboards, mailbox, material, both keys).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board.h"
#include "uci.h"

constexpr uint64_t GO_NODES = 1000;
constexpr int PERFT_DEPTH = 2;
constexpr int HASH_MB = 1;
constexpr int THREADS = 2;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The engine's answers are formatted as always but go nowhere.
    if (!freopen("/dev/null", "w", stdout)) return 1;
    uci_set_bounds({GO_NODES, PERFT_DEPTH, HASH_MB, THREADS});
    init_engine_tables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uci_reset();
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // As the line reader does: no line end, no trailing carriage return.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool go_on = uci_execute(line);
        while (go_on && uci_has_deferred()) go_on = uci_execute_deferred();
        if (!board_is_consistent(uci_game(), &uci_game().records[0])) {
            fprintf(stderr, "board or key inconsistent after: %s\n", line.c_str());
            abort();
        }
        if (!go_on) break;  // "quit": the rest of the input is never read
        start = end + 1;
    }
    return 0;
}
