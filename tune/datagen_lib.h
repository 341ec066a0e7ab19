// Self-play at a fixed node budget per move, and the quiet positions of each
// game labelled with its result: training data for tuning the evaluation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board.h"
#include "search.h"

// Game results from White's point of view.
enum GameResult : int { BLACK_WINS = 0, DRAWN = 1, WHITE_WINS = 2 };

enum class GameEnd { Checkmate, Stalemate, FiftyMoves, Repetition, Material, PlyCap, WinAdjudicated, DrawAdjudicated };

struct DatagenConfig {
    uint64_t seed;
    int games;
    U64 nodes;         // search budget of every move
    int per_game;      // positions kept from one game at most (0: all of its quiet positions)
    int random_plies;  // random legal plies played after the book position
};
DatagenConfig default_datagen_config();

struct GameRecord {
    int result;
    GameEnd end;
    int plies;                           // from the book position, the random plies included
    std::vector<std::string> positions;  // the kept positions as 6-field FENs, in game order
    std::vector<int> scores;             // their search scores, centipawns from White's point of view
};

// Small seeded generator (splitmix64): the same numbers on every platform.
struct Rng {
    uint64_t state;
};
uint64_t rng_next(Rng& rng);
// Uniform in [0, n), n >= 1.
int rng_below(Rng& rng, int n);

// The first four FEN fields of every line that has them (blank lines and
// lines starting with '#' skipped). False when the file cannot be read.
bool read_book(const char* path, std::vector<std::string>& book);

// One game being played: its position (the game's moves are made into the
// root record) and the search that picks the moves. Large: allocate it.
struct SelfPlay {
    Position pos;
    SearchPool pool;
    SelfPlay() { init_position(pos); }
};

// Sets up `fen` (four or more FEN fields) in the root record and plays
// `random_plies` random legal moves. False when the position is not playable
// or the game is already over there.
bool start_game(SelfPlay& game, const std::string& fen, Rng& rng, int random_plies);

// Whether the game in the root record is over by the rules (mate, stalemate,
// fifty moves, threefold repetition, insufficient material); the result when so.
bool game_over_by_rule(Position& pos, GameEnd& end, int& result);

// Plays the game on from the root record to its end with a fresh search
// memory, and keeps at most config.per_game of its quiet positions with the
// scores their searches found. The
// searches print nothing: engine output is muted until the game is over.
GameRecord play_game(SelfPlay& game, Rng& rng, const DatagenConfig& config);

// Plays config.games games from openings of the book picked at random and
// hands each to on_game. Game i depends only on the seed, i and the book.
// False when no opening of the book could start a game.
bool generate_games(const DatagenConfig& config, const std::vector<std::string>& book,
                    void (*on_game)(const GameRecord& game, void* context), void* context);

// "1.0", "0.5" or "0.0".
const char* result_text(int result);
// One line of output: "<FEN> | <result> | <score>", the score in centipawns
// from White's point of view.
std::string data_line(const std::string& fen, int result, int score);
