#include "datagen_lib.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "movegen.h"
#include "platform.h"
#include "search.h"

// ---- Tunables ----------------------------------------------------------------

constexpr uint64_t DEFAULT_SEED = 1;
constexpr int DEFAULT_GAMES = 100;
constexpr U64 DEFAULT_NODES = 1500;
constexpr int DEFAULT_PER_GAME = 0;             // all quiet positions
constexpr int DEFAULT_RANDOM_PLIES = 2;

constexpr int MAX_GAME_PLIES = 400;             // from the book position; a longer game is drawn
constexpr int MIN_SAMPLE_PLY = 8;               // nearer the book, a position is the book's choice, not play
constexpr int DECIDED_SCORE = 2000;             // positions scored at least this far from equal are not kept
// Adjudication ends a game only once it is plain: a side this far ahead in
// every search of the run, or a level score for this many plies late on.
constexpr int WIN_ADJUDICATION_SCORE = 2500;    // White's view, every search of the run
constexpr int WIN_ADJUDICATION_PLIES = 10;
constexpr int DRAW_ADJUDICATION_MIN_PLY = 120;
constexpr int DRAW_ADJUDICATION_SCORE = 10;
constexpr int DRAW_ADJUDICATION_PLIES = 20;
constexpr int MAX_START_ATTEMPTS = 1000;        // openings tried for one game before giving up
constexpr uint64_t GAME_SEED_MULTIPLIER = 0xD1B54A32D192ED03ULL;

DatagenConfig default_datagen_config() {
    return DatagenConfig{DEFAULT_SEED, DEFAULT_GAMES, DEFAULT_NODES, DEFAULT_PER_GAME, DEFAULT_RANDOM_PLIES};
}

// ---- Random numbers -------------------------------------------------------------

uint64_t rng_next(Rng& rng) {
    uint64_t z = (rng.state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int rng_below(Rng& rng, int n) { return int(((rng_next(rng) >> 32) * uint64_t(n)) >> 32); }

// Each game draws from a generator of its own, so a game does not depend on
// how many numbers the games before it used.
static Rng game_rng(uint64_t seed, int game) {
    Rng mixer{seed ^ (uint64_t(game) + 1) * GAME_SEED_MULTIPLIER};
    return Rng{rng_next(mixer)};
}

// ---- The book ----------------------------------------------------------------------

bool read_book(const char* path, std::vector<std::string>& book) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    for (std::string line; std::getline(in, line);) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        std::string fen;
        size_t at = first;
        int fields = 0;
        for (; fields < 4 && at < line.size(); fields++) {
            size_t end = line.find_first_of(" \t\r", at);
            if (end == std::string::npos) end = line.size();
            fen += (fields ? " " : "") + line.substr(at, end - at);
            at = line.find_first_not_of(" \t\r", end);
            if (at == std::string::npos) at = line.size();
        }
        if (fields == 4) book.push_back(fen);
    }
    return true;
}

// ---- Playing -------------------------------------------------------------------------

// The game's moves are made into the root record itself, so the game history
// holds every position for the repetition and fifty-move tests.
static void play_move(Position& pos, Move m) {
    PlyRecord* root = root_record(pos);
    generate_legal_moves(pos, root);
    for (int i = 0; i < root->move_count; i++)
        if (root->moves[i] == m) {
            make_move(pos, i, root, root);
            break;
        }
    update_check_info(pos, root);
}

// The same position, side to move included, twice before since the last
// capture or pawn move.
static bool repeated_three_times(const Position& pos) {
    const U64 key = pos.records[0].key;
    int seen = 1;
    for (int i = pos.info.history_count - 2; i >= pos.info.irreversible_index; i -= 2)
        if (pos.history[i].key == key && ++seen == 3) return true;
    return false;
}

bool game_over_by_rule(Position& pos, GameEnd& end, int& result) {
    PlyRecord* root = root_record(pos);
    if (generate_legal_moves(pos, root) == 0) {
        bool mated = root->check_count != 0;
        end = mated ? GameEnd::Checkmate : GameEnd::Stalemate;
        result = !mated ? DRAWN : pos.board.side == WHITE ? BLACK_WINS : WHITE_WINS;
        return true;
    }
    result = DRAWN;
    if (pos.info.halfmove_clock >= 100) end = GameEnd::FiftyMoves;
    else if (repeated_three_times(pos)) end = GameEnd::Repetition;
    else if (insufficient_material(pos.board)) end = GameEnd::Material;
    else return false;
    return true;
}

bool start_game(SelfPlay& game, const std::string& fen, Rng& rng, int random_plies) {
    Position& pos = game.pos;
    PlyRecord* root = root_record(pos);
    parse_fen(pos, fen.c_str(), root);
    if (!position_problem(pos.board).empty()) return false;
    update_check_info(pos, root);
    GameEnd end;
    int result;
    for (int i = 0; i < random_plies; i++) {
        if (game_over_by_rule(pos, end, result)) return false;
        play_move(pos, root->moves[rng_below(rng, root->move_count)]);
    }
    return !game_over_by_rule(pos, end, result);
}

static std::string current_fen(const Position& pos) {
    std::string fen = position_to_fen(pos, &pos.records[0]);
    while (!fen.empty() && fen.back() == ' ') fen.pop_back();
    return fen;
}

GameRecord play_game(SelfPlay& selfplay, Rng& rng, const DatagenConfig& config) {
    Position& pos = selfplay.pos;
    PlyRecord* root = root_record(pos);
    clear_search_memory(selfplay.pool);
    SearchLimits limits = default_limits();
    limits.nodes = config.nodes;
    GameRecord game{DRAWN, GameEnd::PlyCap, 0, {}, {}};
    std::vector<std::string> quiet;
    std::vector<int> quiet_scores;
    int white_ahead = 0, black_ahead = 0, level = 0;  // lengths of the current runs of scores
    log_mute(true);
    for (;;) {
        const int ply = pos.info.history_count;
        if (game_over_by_rule(pos, game.end, game.result)) break;
        if (ply >= MAX_GAME_PLIES) {
            game.end = GameEnd::PlyCap;
            game.result = DRAWN;
            break;
        }
        SearchResult found = think(selfplay.pool, limits, pos);
        const Move m = found.best_move;
        const bool tactical = (m & (MOVE_CAPTURE | MOVE_EN_PASSANT | MOVE_PROMOTION)) != 0;
        const int white_score = pos.board.side == WHITE ? found.score : -found.score;
        if (!root->check_count && !tactical && ply >= MIN_SAMPLE_PLY && std::abs(found.score) < DECIDED_SCORE) {
            quiet.push_back(current_fen(pos));
            quiet_scores.push_back(white_score);
        }

        white_ahead = white_score >= WIN_ADJUDICATION_SCORE ? white_ahead + 1 : 0;
        black_ahead = white_score <= -WIN_ADJUDICATION_SCORE ? black_ahead + 1 : 0;
        level = ply >= DRAW_ADJUDICATION_MIN_PLY && std::abs(white_score) <= DRAW_ADJUDICATION_SCORE ? level + 1 : 0;
        if (white_ahead >= WIN_ADJUDICATION_PLIES || black_ahead >= WIN_ADJUDICATION_PLIES) {
            game.end = GameEnd::WinAdjudicated;
            game.result = white_ahead ? WHITE_WINS : BLACK_WINS;
            break;
        }
        if (level >= DRAW_ADJUDICATION_PLIES) {
            game.end = GameEnd::DrawAdjudicated;
            game.result = DRAWN;
            break;
        }
        play_move(pos, m);
    }
    log_mute(false);
    game.plies = pos.info.history_count;

    // A random choice of the quiet positions, kept in game order.
    std::vector<int> order(quiet.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = int(i);
    size_t keep = config.per_game > 0 ? std::min(order.size(), size_t(config.per_game)) : order.size();
    for (size_t i = 0; i < keep; i++)
        std::swap(order[i], order[i + size_t(rng_below(rng, int(order.size() - i)))]);
    std::sort(order.begin(), order.begin() + std::ptrdiff_t(keep));
    for (size_t i = 0; i < keep; i++) {
        game.positions.push_back(quiet[size_t(order[i])]);
        game.scores.push_back(quiet_scores[size_t(order[i])]);
    }
    return game;
}

bool generate_games(const DatagenConfig& config, const std::vector<std::string>& book,
                    void (*on_game)(const GameRecord& game, void* context), void* context) {
    if (book.empty()) return false;
    std::unique_ptr<SelfPlay> selfplay(new SelfPlay);
    for (int g = 0; g < config.games; g++) {
        Rng rng = game_rng(config.seed, g);
        bool started = false;
        for (int attempt = 0; attempt < MAX_START_ATTEMPTS && !started; attempt++)
            started = start_game(*selfplay, book[size_t(rng_below(rng, int(book.size())))], rng, config.random_plies);
        if (!started) return false;
        on_game(play_game(*selfplay, rng, config), context);
    }
    return true;
}

// ---- Output ----------------------------------------------------------------------------

const char* result_text(int result) { return result == WHITE_WINS ? "1.0" : result == DRAWN ? "0.5" : "0.0"; }

std::string data_line(const std::string& fen, int result, int score) {
    return fen + " | " + result_text(result) + " | " + std::to_string(score);
}
