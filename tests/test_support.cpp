#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine.h"
#include "movegen.h"

static void init_once() {
    static bool done = false;
    if (done) return;
    done = true;
    init_engine_tables();
}

PlyRecord* setup_position(const char* fen) {
    init_once();
    PlyRecord* root = &position_stack[0];
    parse_fen(fen, root);
    update_check_info(root);
    return root;
}

std::string capture_output(void (*action)(void*), void* arg) {
    fflush(stdout);
    char path[] = "/tmp/brik_capture_XXXXXX";
    int fd = mkstemp(path);
    int saved = dup(1);
    dup2(fd, 1);
    action(arg);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}
