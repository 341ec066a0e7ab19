// Chess960 over the pipes: the UCI_Chess960 option, castling sent and
// answered as the king taking its own rook, FENs in Shredder-FEN, refused
// castling letters, and standard chess left as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

const char* const CHESS960_ON = "setoption name UCI_Chess960 value true";
const std::string START_FEN_LINE = "fen: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 ";

class Chess960 : public ::testing::Test {
protected:
    EngineProcess e;
    void SetUp() override {
        ASSERT_TRUE(engine_start_uci(e));
        EXPECT_EQ(engine_reply_to(e, CHESS960_ON), std::vector<std::string>{});
    }
    void TearDown() override { engine_stop(e); }

    std::string fen() {
        std::vector<std::string> lines = engine_reply_to(e, ".");
        return lines.empty() ? "" : lines.back();
    }

    // Searches and returns every line up to the bestmove.
    std::vector<std::string> search(const std::string& position, const std::string& go) {
        engine_send(e, position + "\n" + go + "\n");
        std::vector<std::string> seen;
        EXPECT_TRUE(engine_wait_for(e, "bestmove", &seen, 60000)) << position;
        return seen;
    }
};

std::string bestmove_of(const std::vector<std::string>& lines) {
    std::smatch m;
    static const std::regex form("bestmove (\\S+)( ponder \\S+)? ");
    return !lines.empty() && std::regex_match(lines.back(), m, form) ? m[1].str() : "";
}

// The variation of the last line with one.
std::vector<std::string> last_pv(const std::vector<std::string>& lines) {
    std::vector<std::string> pv;
    for (const std::string& line : lines) {
        size_t at = line.find(" pv ");
        if (line.rfind("info ", 0) != 0 || at == std::string::npos) continue;
        std::istringstream moves(line.substr(at + 4));
        pv.clear();
        for (std::string move; moves >> move;) pv.push_back(move);
    }
    return pv;
}

}  // namespace

// The GUI's castling moves, both wings for both sides, are played; the FEN
// comes back in Shredder-FEN.
TEST_F(Chess960, CastlingMovesFromTheGuiArePlayed) {
    struct Case {
        const char* position;
        const char* fen;
    };
    const Case cases[] = {
        {"position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1",
         "fen: nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1 "},
        {"position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1 moves e2e4 e7e5 f1c4 f8c5 e1e2 "
         "e8e7 d1g1 d8g8",
         "fen: nrb2rkn/ppppqppp/8/2b1p3/2B1P3/8/PPPPQPPP/NRB2RKN w - - 6 5 "},
        {"position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 0 1 moves d2d3 d7d6 c1d2 c8d7 d1b1 d8b8",
         "fen: n1krqbrn/pppbpppp/3p4/8/8/3P4/PPPBPPPP/N1KRQBRN w - - 4 4 "},
        // Double 960, X-FEN in, Shredder-FEN out.
        {"position fen rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w KQkq - 0 1",
         "fen: rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/BBQNNRKR w HFca - 0 1 "},
        {"position startpos", "fen: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(engine_reply_to(e, c.position), std::vector<std::string>{});
        EXPECT_EQ(fen(), c.fen);
    }
}

// Where castling mates, the engine finds it and writes it as the king taking
// its rook (the king's destination would be an ordinary king step). The
// move and the variation read back.
TEST_F(Chess960, CastlingIsAnsweredAsKingTakesRook) {
    struct Case {
        const char* position;
        const char* bestmove;
        const char* fen_after;
    };
    const Case cases[] = {
        {"position fen 2rkr3/2p1p3/8/8/8/8/8/RK6 w A - 0 1", "b1a1", "fen: 2rkr3/2p1p3/8/8/8/8/8/2KR4 b - - 1 1 "},
        {"position fen rk6/8/8/8/8/8/2P1P3/2RKR3 b a - 0 1", "b8a8", "fen: 2kr4/8/8/8/8/8/2P1P3/2RKR3 w - - 1 2 "},
        {"position fen 4rkr1/4p1p1/8/8/8/8/8/5K1R w H - 0 1", "f1h1", "fen: 4rkr1/4p1p1/8/8/8/8/8/5RK1 b - - 1 1 "},
        {"position fen 5k1r/8/8/8/8/8/4P1P1/4RKR1 b h - 0 1", "f8h8", "fen: 5rk1/8/8/8/8/8/4P1P1/4RKR1 w - - 1 2 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        std::vector<std::string> lines = search(c.position, "go depth 3");
        EXPECT_EQ(bestmove_of(lines), c.bestmove);
        EXPECT_EQ(last_pv(lines), std::vector<std::string>{c.bestmove});
        EXPECT_EQ(engine_reply_to(e, std::string(c.position) + " moves " + c.bestmove), std::vector<std::string>{});
        EXPECT_EQ(fen(), c.fen_after);
    }
}

// After both sides castled, and with castling still to come: the bestmove
// and the whole variation are taken back without a complaint.
TEST_F(Chess960, BestmoveAndVariationReadBack) {
    const char* positions[] = {
        ("position fen nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w KQkq - 0 1 moves e2e4 e7e5 f1c4 f8c5 e1e2 e8e7 "
         "d1g1 d8g8"),
        "position fen 1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1",
        "position fen 1r3k1r/B7/8/8/8/8/6b1/R1K4R w HAhb - 0 1",
    };
    for (const char* position : positions) {
        SCOPED_TRACE(position);
        std::vector<std::string> lines = search(position, "go depth 6");
        std::string best = bestmove_of(lines);
        std::vector<std::string> pv = last_pv(lines);
        ASSERT_FALSE(pv.empty());
        EXPECT_EQ(pv[0], best);
        std::string command = std::string(position) + (strstr(position, " moves ") ? "" : " moves");
        for (const std::string& move : pv) command += " " + move;
        EXPECT_EQ(engine_reply_to(e, command), std::vector<std::string>{});
        // Every move was played: White moves first in each position.
        std::vector<std::string> shown = engine_reply_to(e, ".");
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown[0], pv.size() % 2 == 0 ? "White to move" : "Black to move");
    }
}

// A castling letter without its rook refuses the position as other bad
// FENs are refused; standard chess reads the same field as before.
TEST_F(Chess960, CastlingLetterWithoutItsRookIsRefused) {
    struct Case {
        const char* fen;
        const char* reason;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/4K2R w C - 0 1", "castling letter C: no white rook on c1"},
        {"4k3/8/8/8/8/8/8/R3K3 w K - 0 1", "castling letter K: no white rook on the king's h-side"},
        {"4k2r/8/8/8/8/8/4K3/8 b q - 0 1", "castling letter q: no black rook on the king's a-side"},
        {"r3k3/8/8/8/8/8/8/R3K3 w Aa - 0 1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        engine_reply_to(e, "position startpos moves d2d4");
        std::vector<std::string> seen = engine_reply_to(e, std::string("position fen ") + c.fen);
        if (!*c.reason) {
            EXPECT_EQ(seen, std::vector<std::string>{});
            EXPECT_EQ(fen(), std::string("fen: ") + c.fen + " ");
            continue;
        }
        EXPECT_EQ(seen, std::vector<std::string>{std::string("info string Illegal position (") + c.reason +
                                                 "): the start position is set up instead"});
        EXPECT_EQ(fen(), "fen: rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 ");
    }
    // Standard chess keeps its lenient reading: the letter is skipped.
    EXPECT_EQ(engine_reply_to(e, "setoption name UCI_Chess960 value false"), std::vector<std::string>{});
    EXPECT_EQ(engine_reply_to(e, "position fen 4k3/8/8/8/8/8/8/4K2R w C - 0 1"), std::vector<std::string>{});
    EXPECT_EQ(fen(), "fen: 4k3/8/8/8/8/8/8/4K2R w - - 0 1 ");
}

// Switched back off, the engine is a standard engine again; a bad value is refused.
TEST_F(Chess960, SwitchingBackRestoresStandardOutput) {
    EXPECT_EQ(engine_reply_to(e, "setoption name UCI_Chess960 value maybe"),
              std::vector<std::string>{"info string UCI_Chess960 must be true or false, not \"maybe\""});
    EXPECT_EQ(engine_reply_to(e, "setoption name uci_chess960 value FALSE"), std::vector<std::string>{});
    EXPECT_EQ(engine_reply_to(e, "position startpos"), std::vector<std::string>{});
    EXPECT_EQ(fen(), START_FEN_LINE);
    std::vector<std::string> lines = search("position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "go depth 1 searchmoves e1g1");
    EXPECT_EQ(bestmove_of(lines), "e1g1");
    // A GUI that sends the king taking its rook in a standard game is understood.
    EXPECT_EQ(engine_reply_to(e, "position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1h1 e8a8"),
              std::vector<std::string>{});
    EXPECT_EQ(fen(), "fen: 2kr3r/8/8/8/8/8/8/R4RK1 w - - 2 2 ");
}

// The console perft lists castling as the king taking its rook too.
TEST_F(Chess960, PerftListsCastlingAsKingTakesRook) {
    engine_send(e, "position fen 1r4kr/pppppppp/8/8/8/8/PPPPPPPP/1R4KR w HBhb - 0 1\nperft 1\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(engine_wait_for(e, " Totally 24 nodes", &lines));
    int castling = 0;
    for (const std::string& line : lines) castling += line == " Kg1h1  - 1" || line == " Kg1b1  - 1";
    EXPECT_EQ(castling, 2);
}
