// Full-depth perft counts of the table in data/perft.epd: each position is a
// test of its own, run at the deepest depth the table lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine.h"
#include "test_support.h"

namespace {

struct PerftCase {
    std::string name;
    std::string fen;
    std::vector<uint64_t> nodes;  // nodes[d - 1] at depth d
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// Lines "FEN ;D1 n ;D2 n ..."; a comment line right above one names it.
std::vector<PerftCase> load_perft_table() {
    std::vector<PerftCase> cases;
    std::ifstream in(std::string(BRIK_TEST_DATA) + "/perft.epd");
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
    PlyRecord* root = setup_position(c.fen.c_str());
    int depth = int(c.nodes.size());
    EXPECT_EQ(perft_count(depth, root), c.nodes.back()) << c.fen << " depth " << depth;
    EXPECT_TRUE(board_is_consistent(root));
}

INSTANTIATE_TEST_SUITE_P(Table, DeepPerft, testing::ValuesIn(load_perft_table()), test_name);

// Guards against a missing or unreadable table silently running no test.
TEST(DeepPerftTable, IsPresent) { EXPECT_GE(load_perft_table().size(), 8u); }
