// The self-play data generator: the book reader, the rules that end a game,
// whole games from known positions, and the properties of generated data
// (and of the committed sample the tuner's tests read).
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "datagen_lib.h"
#include "movegen.h"
#include "search.h"
#include "test_support.h"

namespace {

const std::string BOOK = std::string(BRIK_TEST_DATA) + "/datagen_book.epd";
const std::string SAMPLE = std::string(BRIK_TEST_DATA) + "/datagen_sample.txt";

std::vector<GameRecord> play_games(const DatagenConfig& config) {
    setup_position(START_FEN);  // the engine's tables
    std::vector<std::string> book;
    EXPECT_TRUE(read_book(BOOK.c_str(), book));
    std::vector<GameRecord> games;
    EXPECT_TRUE(generate_games(config, book, [](const GameRecord& game, void* context) {
        static_cast<std::vector<GameRecord>*>(context)->push_back(game);
    }, &games));
    return games;
}

std::vector<std::string> lines_of(const std::vector<GameRecord>& games) {
    std::vector<std::string> lines;
    for (const GameRecord& game : games)
        for (size_t i = 0; i < game.positions.size(); i++)
            lines.push_back(data_line(game.positions[i], game.result, game.scores[i]));
    return lines;
}

// Checks one output line (the score is left out in older files); the result
// it carries, or -1 when it is malformed.
int check_line(const std::string& line) {
    static const std::regex format(
        "([1-8pnbrqkPNBRQK/]+ [wb] (-|[KQkq]+) (-|[a-h][36]) \\d+ (\\d+)) \\| (1\\.0|0\\.5|0\\.0)( \\| (-?\\d+))?");
    std::smatch m;
    if (!std::regex_match(line, m, format)) {
        ADD_FAILURE() << "malformed: " << line;
        return -1;
    }
    std::string fen = m[1].str();
    PlyRecord* root = setup_position(fen.c_str());
    Position& pos = test_pos();
    EXPECT_EQ(position_problem(pos.board), "") << line;
    EXPECT_EQ(position_to_fen(pos, root), fen + " ") << line;
    EXPECT_EQ(root->check_count, 0) << line;
    EXPECT_GT(generate_legal_moves(pos, root), 0) << line;
    // Games start at move 1 of the book position: positions of the first
    // eight plies are the book's choice and never kept.
    EXPECT_GE(std::stoi(m[4].str()), 5) << line;
    if (m[6].matched) {
        EXPECT_LT(std::abs(std::stoi(m[7].str())), 2000) << line;
    }
    std::string result = m[5].str();
    return result == "1.0" ? WHITE_WINS : result == "0.5" ? DRAWN : BLACK_WINS;
}

}  // namespace

TEST(Datagen, BookTakesTheFirstFourFieldsOfEveryPositionLine) {
    std::vector<std::string> book;
    ASSERT_TRUE(read_book(BOOK.c_str(), book));
    ASSERT_EQ(book.size(), 6u);
    EXPECT_EQ(book[0], "rnbqkbnr/pp2pppp/3p4/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -");
    EXPECT_EQ(book[2], "rnbqkb1r/pppppppp/5n2/8/2PP4/8/PP2PPPP/RNBQKBNR b KQkq c3");
    EXPECT_EQ(book[3], "8/8/8/8/8/8/8/8 w - -");
    EXPECT_FALSE(read_book("no-such-book.epd", book));
}

TEST(Datagen, GameEndsByTheRules) {
    struct Case {
        const char* fen;
        const char* moves;
        bool over;
        GameEnd end;  // these two only when over
        int result;
    };
    const char* const SHUFFLE = " g1f3 g8f6 f3g1 f6g8";
    const Case cases[] = {
        {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "", true, GameEnd::Checkmate, BLACK_WINS},
        {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 1 1", "", true, GameEnd::Checkmate, WHITE_WINS},
        // Mate on the move that reaches the fifty-move limit still wins.
        {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 100 80", "", true, GameEnd::Checkmate, WHITE_WINS},
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "", true, GameEnd::Stalemate, DRAWN},
        {"8/8/4k3/8/8/3K4/8/R7 w - - 100 80", "", true, GameEnd::FiftyMoves, DRAWN},
        {"8/8/4k3/8/8/3K4/8/R7 w - - 99 80", "", false, GameEnd::Checkmate, DRAWN},
        {"8/8/4k3/8/8/3K4/8/R7 w - - 98 80", "a1a2", false, GameEnd::Checkmate, DRAWN},
        {"8/8/4k3/8/8/3K4/8/R7 w - - 98 80", "a1a2 e6e5", true, GameEnd::FiftyMoves, DRAWN},
        {"8/8/4k3/8/8/3KN3/8/8 w - - 0 1", "", true, GameEnd::Material, DRAWN},
        {"8/8/4k3/8/8/3KB3/8/8 b - - 0 1", "", true, GameEnd::Material, DRAWN},
        {"8/8/4k3/8/8/3KP3/8/8 b - - 0 1", "", false, GameEnd::Checkmate, DRAWN},
        // The start position a second time, then the one after 3... Nf6 4. Ng1
        // a second time, then the start position a third time.
        {START_FEN, SHUFFLE, false, GameEnd::Checkmate, DRAWN},
        {START_FEN, " g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1", false, GameEnd::Checkmate, DRAWN},
        {START_FEN, " g1f3 g8f6 f3g1 f6g8 g1f3 g8f6 f3g1 f6g8", true, GameEnd::Repetition, DRAWN},
    };
    for (const Case& c : cases) {
        PlyRecord* root = setup_position(c.fen);
        Position& pos = test_pos();
        apply_move_list(pos, c.moves, root);
        update_check_info(pos, root);
        GameEnd end = GameEnd::Checkmate;
        int result = DRAWN;
        bool over = game_over_by_rule(pos, end, result);
        EXPECT_EQ(over, c.over) << c.fen << c.moves;
        if (!over || !c.over) continue;
        EXPECT_EQ(int(end), int(c.end)) << c.fen << c.moves;
        EXPECT_EQ(result, c.result) << c.fen << c.moves;
    }
}

TEST(Datagen, PlayedGamesEndAndScoreForTheWinner) {
    struct Case {
        const char* fen;
        bool starts;
        int result;
        int max_plies;
    };
    const Case cases[] = {
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", true, WHITE_WINS, 1},   // Ra8 mates
        {"r5k1/8/8/8/8/8/5PPP/6K1 b - - 0 1", true, BLACK_WINS, 1},   // Ra1 mates
        {"8/8/4k3/8/8/3K4/8/8 w - - 0 1", false, DRAWN, 0},           // over before it starts
        {"8/8/8/8/8/8/8/8 w - - 0 1", false, DRAWN, 0},               // no kings
        // Two queens up, whoever moves first: mated or given up soon.
        {"4k3/pppppppp/8/8/8/8/PPPPPPPP/QQ2K3 b - - 0 1", true, WHITE_WINS, 40},
        {"qq2k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - - 0 1", true, BLACK_WINS, 40},
    };
    DatagenConfig config = default_datagen_config();
    config.nodes = 500;
    for (const Case& c : cases) {
        setup_position(START_FEN);  // the engine's tables
        std::unique_ptr<SelfPlay> selfplay(new SelfPlay);  // a fresh game
        Rng rng{1};
        ASSERT_EQ(start_game(*selfplay, c.fen, rng, 0), c.starts) << c.fen;
        if (!c.starts) continue;
        GameRecord game = play_game(*selfplay, rng, config);
        EXPECT_EQ(game.result, c.result) << c.fen;
        EXPECT_TRUE(game.end == GameEnd::Checkmate || game.end == GameEnd::WinAdjudicated) << c.fen;
        EXPECT_GE(game.plies, 1) << c.fen;
        EXPECT_LE(game.plies, c.max_plies) << c.fen;
        EXPECT_TRUE(game.positions.empty()) << c.fen;  // near the start, or decided
    }
}

// A queen up, White's positions score above zero whichever side is to move:
// the scores are White's, not the mover's.
TEST(Datagen, ScoresAreFromWhitesPointOfView) {
    setup_position(START_FEN);  // the engine's tables
    std::unique_ptr<SelfPlay> selfplay(new SelfPlay);
    Rng rng{3};
    ASSERT_TRUE(start_game(*selfplay, "rn2kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", rng, 0));
    DatagenConfig config = default_datagen_config();
    config.nodes = 500;
    GameRecord game = play_game(*selfplay, rng, config);
    ASSERT_EQ(game.scores.size(), game.positions.size());
    int by_side[2] = {0, 0};
    for (size_t i = 0; i < game.positions.size(); i++) {
        EXPECT_GT(game.scores[i], 0) << game.positions[i];
        by_side[game.positions[i].find(" w ") != std::string::npos]++;
    }
    EXPECT_GT(by_side[WHITE], 0);
    EXPECT_GT(by_side[BLACK], 0);
    EXPECT_EQ(game.result, WHITE_WINS);
}

TEST(Datagen, GeneratedPositionsAreQuietLabelledAndReproducible) {
    DatagenConfig config = default_datagen_config();
    config.seed = 7;
    config.games = 6;
    config.nodes = 400;
    config.per_game = 4;
    std::vector<GameRecord> games = play_games(config);
    ASSERT_EQ(games.size(), 6u);
    size_t total = 0, full = 0;
    for (const GameRecord& game : games) {
        EXPECT_LE(game.positions.size(), size_t(config.per_game));
        full += game.positions.size() == size_t(config.per_game);
        ASSERT_EQ(game.scores.size(), game.positions.size());
        for (size_t i = 0; i < game.positions.size(); i++)
            EXPECT_EQ(check_line(data_line(game.positions[i], game.result, game.scores[i])), game.result);
        total += game.positions.size();
    }
    EXPECT_GT(full, 0u);  // some game had more quiet positions than it may keep

    // The same seed plays the same games; another seed other ones.
    EXPECT_EQ(lines_of(play_games(config)), lines_of(games));
    config.seed = 8;
    EXPECT_NE(lines_of(play_games(config)), lines_of(games));
    EXPECT_GT(total, 0u);
}

TEST(Datagen, CommittedSampleIsWellFormed) {
    std::ifstream in(SAMPLE);
    ASSERT_TRUE(in) << SAMPLE;
    int count = 0, by_result[3] = {0, 0, 0};
    for (std::string line; std::getline(in, line); count++) {
        int result = check_line(line);
        if (result >= 0) by_result[result]++;
    }
    EXPECT_EQ(count, 200);
    for (int r : {BLACK_WINS, DRAWN, WHITE_WINS}) EXPECT_GT(by_result[r], 0) << result_text(r);
}
