#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "uci.h"
#include "movegen.h"

static void init_once() {
    static bool done = false;
    if (done) return;
    done = true;
    init_engine_tables();
}

Position& test_pos() {
    static Position* pos = new_position();
    return *pos;
}

SearchPool& test_pool() {
    static SearchPool pool;
    return pool;
}

PlyRecord* setup_position(const char* fen, bool chess960) {
    init_once();
    Position& pos = test_pos();
    PlyRecord* root = root_record(pos);
    pos.chess960 = chess960;
    parse_fen(pos, fen, root);
    update_check_info(pos, root);
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

static std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

static std::vector<PerftCase> load_table(const char* file, bool chess960) {
    std::vector<PerftCase> cases;
    std::ifstream in(std::string(BRIK_TEST_DATA) + "/" + file);
    std::string line, name;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty()) {
            name.clear();
            continue;
        }
        if (line[0] == '#') {
            name = trim(line.substr(1));
            continue;
        }
        PerftCase c;
        c.name = name.empty() ? "line " + std::to_string(cases.size() + 1) : name;
        std::stringstream fields(line);
        std::string field;
        std::getline(fields, field, ';');
        c.fen = trim(field);
        c.chess960 = chess960;
        while (std::getline(fields, field, ';')) {
            int depth = 0;
            unsigned long long nodes = 0;
            if (sscanf(field.c_str(), " D%d %llu", &depth, &nodes) == 2 && depth == int(c.nodes.size()) + 1)
                c.nodes.push_back(nodes);
        }
        cases.push_back(c);
        name.clear();
    }
    return cases;
}

std::vector<PerftCase> load_perft_table() { return load_table("perft.epd", false); }
std::vector<PerftCase> load_perft960_table() { return load_table("perft960.epd", true); }
