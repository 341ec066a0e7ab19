// Several principal variations over the pipes: the MultiPV option, its lines
// in order with legal variations, a count larger than the legal moves,
// searchmoves with it, and the closing lines after "stop". Also the
// win/draw/loss figures that UCI_ShowWDL adds to each line.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

const char* const MIDDLE_GAME = "position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
// White has three legal moves: Ka2, Kb1 and Kb2.
const char* const THREE_MOVES = "position fen 7k/8/8/8/8/8/7p/K7 w - - 0 1";

struct ScoreLine {
    int depth = 0;
    int multipv = 0;  // 0: no multipv field
    int score = 0;    // centipawns, or +-(100000 - n) for mate in n
    int wdl[3] = {-1, -1, -1};  // per mille; -1: no wdl field
    std::vector<std::string> pv;
};

bool parse_score_line(const std::string& line, ScoreLine& out) {
    static const std::regex form(
        "info depth (\\d+) seldepth \\d+( multipv (\\d+))? score (cp|mate) (-?\\d+)( wdl (\\d+) (\\d+) (\\d+))? nodes \\d+ "
        "time \\d+ nps \\d+ pv (.*)");
    std::smatch m;
    if (!std::regex_match(line, m, form)) return false;
    out.depth = std::stoi(m[1].str());
    out.multipv = m[3].matched ? std::stoi(m[3].str()) : 0;
    int value = std::stoi(m[5].str());
    out.score = m[4].str() == "cp" ? value : value > 0 ? 100000 - value : -100000 - value;
    for (int i = 0; i < 3; i++) out.wdl[i] = m[6].matched ? std::stoi(m[7 + i].str()) : -1;
    std::istringstream moves(m[10].str());
    out.pv.clear();
    for (std::string move; moves >> move;) out.pv.push_back(move);
    return true;
}

std::vector<ScoreLine> score_lines(const std::vector<std::string>& lines) {
    std::vector<ScoreLine> found;
    for (const std::string& l : lines) {
        ScoreLine s;
        if (parse_score_line(l, s)) found.push_back(s);
    }
    return found;
}

// The move and ponder move of the last line, which must be a bestmove line.
void bestmove_of(const std::vector<std::string>& lines, std::string& move, std::string& ponder) {
    ASSERT_FALSE(lines.empty());
    std::smatch m;
    static const std::regex form("bestmove (\\S+)( ponder (\\S+))? ");
    ASSERT_TRUE(std::regex_match(lines.back(), m, form)) << lines.back();
    move = m[1].str();
    ponder = m[3].matched ? m[3].str() : "";
}

// The engine takes the whole variation after the position without a complaint.
void expect_legal_line(EngineProcess& e, const std::string& position, const std::vector<std::string>& pv) {
    std::string command = position + " moves";
    for (const std::string& m : pv) command += " " + m;
    for (const std::string& l : engine_reply_to(e, command)) EXPECT_EQ(l.find("info string"), std::string::npos) << l;
}

class MultiPv : public ::testing::Test {
protected:
    EngineProcess e;
    void SetUp() override { ASSERT_TRUE(engine_start_uci(e)); }
    void TearDown() override { engine_stop(e); }

    std::vector<std::string> search(const std::string& position, const std::string& go) {
        engine_send(e, position + "\n" + go + "\n");
        std::vector<std::string> seen;
        EXPECT_TRUE(engine_wait_for(e, "bestmove", &seen, 60000)) << go;
        return seen;
    }
};

}  // namespace

TEST(MultiPvOption, IsOfferedAndBadValuesAreRefused) {
    EngineProcess e;
    ASSERT_TRUE(engine_start(e));
    engine_send(e, "uci\n");
    std::vector<std::string> seen;
    ASSERT_TRUE(engine_wait_for(e, "uciok", &seen));
    int offered = 0;
    for (const std::string& l : seen) offered += l == "option name MultiPV type spin default 1 min 1 max 256";
    EXPECT_EQ(offered, 1);
    for (const char* bad : {"0", "257", "three"}) {
        std::vector<std::string> reply = engine_reply_to(e, std::string("setoption name MultiPV value ") + bad);
        ASSERT_EQ(reply.size(), 1u) << bad;
        EXPECT_EQ(reply[0].rfind("info string MultiPV must be a number from 1 to 256", 0), 0u) << reply[0];
    }
    engine_stop(e);
}

// Every depth shows lines 1 to 3, best first, of three different moves with
// legal variations; the bestmove is line 1 of the last depth.
TEST_F(MultiPv, ThreeLinesInOrderWithLegalVariations) {
    EXPECT_EQ(engine_reply_to(e, "setoption name MultiPV value 3"), std::vector<std::string>{});
    std::vector<ScoreLine> lines = score_lines(search(MIDDLE_GAME, "go depth 8"));
    ASSERT_GE(lines.size(), 3u * 8);
    std::vector<std::string> seen_moves;
    for (int depth = 1; depth <= 8; depth++) {
        std::vector<ScoreLine> of_depth;
        for (const ScoreLine& s : lines)
            if (s.depth == depth && of_depth.size() < 3) of_depth.push_back(s);
        ASSERT_EQ(of_depth.size(), 3u) << depth;
        std::set<std::string> first_moves;
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(of_depth[i].multipv, i + 1) << depth;
            ASSERT_FALSE(of_depth[i].pv.empty());
            first_moves.insert(of_depth[i].pv[0]);
            if (i) {
                EXPECT_GE(of_depth[i - 1].score, of_depth[i].score) << depth;
            }
        }
        EXPECT_EQ(first_moves.size(), 3u) << depth;
    }
    // The closing lines repeat the last depth; the bestmove is their line 1.
    std::vector<std::string> out = search(MIDDLE_GAME, "go depth 6");
    std::string move, ponder;
    bestmove_of(out, move, ponder);
    std::vector<ScoreLine> last = score_lines(out);
    ASSERT_GE(last.size(), 3u);
    const ScoreLine& one = last[last.size() - 3];
    EXPECT_EQ(one.multipv, 1);
    EXPECT_EQ(one.pv[0], move);
    if (one.pv.size() > 1) {
        EXPECT_EQ(one.pv[1], ponder);
    }
    for (size_t i = last.size() - 3; i < last.size(); i++) expect_legal_line(e, MIDDLE_GAME, last[i].pv);
}

// One line is the plain output: no multipv field at all.
TEST_F(MultiPv, OneLineHasNoMultipvField) {
    for (const ScoreLine& s : score_lines(search(MIDDLE_GAME, "go depth 6"))) EXPECT_EQ(s.multipv, 0);
}

TEST_F(MultiPv, MoreLinesThanLegalMovesShowsEachMoveOnce) {
    EXPECT_EQ(engine_reply_to(e, "setoption name MultiPV value 10"), std::vector<std::string>{});
    std::vector<ScoreLine> lines = score_lines(search(THREE_MOVES, "go depth 5"));
    for (int depth = 1; depth <= 5; depth++) {
        std::set<std::string> moves;
        int count = 0;
        for (const ScoreLine& s : lines)
            if (s.depth == depth) {
                EXPECT_LE(s.multipv, 3);
                moves.insert(s.pv.at(0));
                count++;
            }
        // Three lines a depth, and three more when the last depth closes.
        EXPECT_EQ(moves, (std::set<std::string>{"a1a2", "a1b1", "a1b2"})) << depth;
        EXPECT_EQ(count, depth == 5 ? 6 : 3) << depth;
    }
}

TEST_F(MultiPv, SearchmovesLimitTheLines) {
    EXPECT_EQ(engine_reply_to(e, "setoption name MultiPV value 3"), std::vector<std::string>{});
    std::vector<std::string> out = search("position startpos", "go depth 6 searchmoves g1f3 e2e4");
    std::vector<ScoreLine> lines = score_lines(out);
    ASSERT_FALSE(lines.empty());
    for (const ScoreLine& s : lines) {
        EXPECT_LE(s.multipv, 2);
        EXPECT_TRUE(s.pv.at(0) == "g1f3" || s.pv.at(0) == "e2e4") << s.pv[0];
    }
    std::string move, ponder;
    bestmove_of(out, move, ponder);
    EXPECT_TRUE(move == "g1f3" || move == "e2e4") << move;
}

// After "stop" the closing line keeps the whole variation of the move
// played, and its second move is the ponder move; with one line and three.
TEST_F(MultiPv, StopKeepsTheVariation) {
    for (int count : {1, 3}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(engine_reply_to(e, "setoption name MultiPV value " + std::to_string(count)),
                  std::vector<std::string>{});
        engine_send(e, std::string(MIDDLE_GAME) + "\ngo infinite\n");
        EXPECT_FALSE(engine_wait_for(e, "bestmove", nullptr, 1500));
        engine_send(e, "stop\n");
        std::vector<std::string> out;
        ASSERT_TRUE(engine_wait_for(e, "bestmove", &out, 20000));
        std::string move, ponder;
        bestmove_of(out, move, ponder);
        std::vector<ScoreLine> lines = score_lines(out);
        ASSERT_GE(lines.size(), size_t(count));
        const ScoreLine& one = lines[lines.size() - size_t(count)];
        EXPECT_EQ(one.multipv, count == 1 ? 0 : 1);
        ASSERT_GE(one.pv.size(), 1u);
        EXPECT_EQ(one.pv[0], move);
        // A move proven better just before the stop may have only itself.
        EXPECT_EQ(one.pv.size() > 1 ? one.pv[1] : "", ponder);
        expect_legal_line(e, MIDDLE_GAME, one.pv);
    }
}

// Each line carries its own win/draw/loss figures when asked: they add up to
// 1000, and the win share grows with the score, from a lost position through
// a level one to a won one. Off again, the field goes.
TEST_F(MultiPv, WinDrawLossFollowTheScore) {
    const char* const positions[] = {
        "position fen rnbqkb1r/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1",  // Black a knight down
        "position startpos",
        "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKB1R b KQkq - 0 1",  // White a knight down
        "position fen rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",  // Black a queen down
    };
    EXPECT_EQ(engine_reply_to(e, "setoption name UCI_ShowWDL value true"), std::vector<std::string>{});
    for (int count : {1, 3}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(engine_reply_to(e, "setoption name MultiPV value " + std::to_string(count)),
                  std::vector<std::string>{});
        std::vector<std::pair<int, int>> score_and_win;
        for (const char* position : positions) {
            std::vector<ScoreLine> lines = score_lines(search(position, "go depth 6"));
            ASSERT_FALSE(lines.empty()) << position;
            for (const ScoreLine& s : lines) {
                ASSERT_GE(s.wdl[0], 0) << position;
                EXPECT_EQ(s.wdl[0] + s.wdl[1] + s.wdl[2], 1000) << position;
            }
            const ScoreLine& best = lines[lines.size() - size_t(count)];
            score_and_win.push_back({best.score, best.wdl[0]});
        }
        std::sort(score_and_win.begin(), score_and_win.end());
        for (size_t i = 1; i < score_and_win.size(); i++) {
            EXPECT_LT(score_and_win[i - 1].first, score_and_win[i].first);
            EXPECT_LT(score_and_win[i - 1].second, score_and_win[i].second);
        }
        EXPECT_GT(score_and_win.back().second, 900);  // a queen up
    }
    EXPECT_EQ(engine_reply_to(e, "setoption name UCI_ShowWDL value false"), std::vector<std::string>{});
    for (const ScoreLine& s : score_lines(search("position startpos", "go depth 5"))) EXPECT_EQ(s.wdl[0], -1);
}
