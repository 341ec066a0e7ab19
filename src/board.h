// Board representation: the position record (board, ring of per-ply records,
// move counters, game history), Zobrist keys, FEN in and out, the board
// diagram and moves as text. Every thread plays on a position of its own.
#pragma once

#include <string>

#include "types.h"

// Most pseudo-legal moves a set-up position can produce: a side has at most
// 16 pieces (position set-up refuses more), so 15 queens and a king give
// fewer than 15 * 27 + 8 + 2 moves.
constexpr int MAX_MOVES = 512;
// Search and quiescence stop deepening past this ply.
constexpr int MAX_PLY = 100;
// Records in the position stack: nodes exist up to ply MAX_PLY + 1, so no
// record in use is ever reached twice round the ring.
constexpr int STACK_SIZE = 128;
// Entries of the game history (game moves and search moves together).
constexpr int HISTORY_SIZE = 5900;
// Game moves stop this many entries before the end, so a search always has room.
constexpr int HISTORY_SEARCH_RESERVE = 2 * MAX_PLY + 16;

struct BoardState {
    U64 pieces[12];     // one bitboard per piece code
    U64 occupancy[2];   // [BLACK], [WHITE]
    int side;           // side to move: WHITE or BLACK
    int mailbox[64];    // piece code per square, NO_PIECE when empty
    int material[2];    // piece values without the king, per colour
};

// One frame of the position stack: what make needs to take a move back, and
// the moves generated at this ply. Moves of ply n go from record n into n + 1.
struct PlyRecord {
    PlyRecord* next;
    int check_count;        // pieces giving check to the side to move
    int checker_square;     // one of them
    int castling;           // rights, WHITE_SHORT | ...
    int ep_square;          // en-passant target, 0 = none
    U64 key;                // full key = base key ^ castling key ^ en-passant key
    U64 base_key;           // pieces and side to move only
    U64 pawn_key;           // pawns only
    int captured;           // piece taken by the move made from here, NO_PIECE if none
    int saved_halfmove;     // counters before the move made from here, for unmake
    int saved_irreversible;
    U64 target_mask;        // squares non-king moves may reach (all, or the check line)
    U64 second_mask;
    int move_count;
    Move moves[MAX_MOVES];
};

// The ply and the move counters that make and unmake keep.
struct SearchInfo {
    int ply;                    // distance from the search root

    int irreversible_index;     // history count at the last capture or pawn move
    int halfmove_clock;
    int history_count;          // index of the newest game-history entry
    // For FEN output: the fullmove number and side to move of the set-up position.
    int start_fullmove;
    int start_side;
};

struct HistoryEntry {
    U64 key;
    int irreversible_index;
};

// Where each castling right's rook starts, and what castling with it needs.
// Fixed for a game: a right is lost as soon as its king or rook moves, so the
// squares of a right still held are the squares of the set-up position.
struct CastlingRules {
    int rook_square[4];    // by right index
    U64 empty_squares[4];  // king's and rook's ways to their destinations, less the two of them
    U64 king_path[4];      // squares the king crosses and reaches (its start only when it stays): none may be attacked
    int rights_kept[64];   // rights that survive a move from or to the square
};

// Everything make and unmake change. The records form a ring (each record's
// `next` points into the same position), so a position is never copied
// whole: copy_position carries a game over to another one.
struct Position {
    BoardState board;
    SearchInfo info;
    CastlingRules castling_rules;
    // Chess960: castling letters of a FEN name rooks, FENs are written in
    // Shredder-FEN and castling moves as the king taking its own rook. Set by
    // the caller before reading a FEN; FEN reading leaves it alone.
    bool chess960;
    PlyRecord records[STACK_SIZE];
    HistoryEntry history[HISTORY_SIZE];
};

extern U64 piece_keys[12][64];
extern U64 ep_keys[64];
extern U64 castle_keys[16];
extern U64 side_key;

extern const int piece_value[12];

constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// An empty board, linked records, cleared counters and history.
void init_position(Position& pos);
// A position on the heap, initialised (the record is too large for a stack).
Position* new_position();
void clear_move_counters(Position& pos);
void clear_history(Position& pos);
// The game's first record: FEN set-up and the moves of "position" go here.
inline PlyRecord* root_record(Position& pos) { return &pos.records[0]; }
// Makes `to` the game of `from` (board, counters, history and root record).
void copy_position(Position& to, const Position& from);

// Fills the key tables from a fixed-seed generator of their own: the same keys on
// every start, whatever rand() has been used for before.
void init_zobrist_keys();
// The en-passant square as the key sees it: only when a pawn of the side to
// move stands ready to take there (else 0), so that a double step nobody can
// answer does not make a repeated position look new.
int keyed_ep_square(const BoardState& board, int ep, int side_to_move);
// Refreshes the record's base key from the board and returns the full key.
U64 compute_full_key(const Position& pos, PlyRecord* rec);

// Castling from e1/e8 with the rooks on the corners, for every right.
void set_standard_castling(CastlingRules& rules);

// Lenient FEN reader: skips what it does not understand and drops castling
// rights that the placement cannot support. In Chess960 (pos.chess960) the
// castling field is read strictly: KQkq name the outermost rook on their wing
// (X-FEN), a file letter the rook on that file (Shredder-FEN, X-FEN inner
// rooks). Returns why a castling letter was refused (its right is not
// granted), empty when none was.
std::string parse_fen(Position& pos, const char* fen, PlyRecord* rec);
// Standard FEN; in Chess960 the castling field is Shredder-FEN (rook files).
std::string position_to_fen(const Position& pos, const PlyRecord* rec);
void print_board(const Position& pos, const PlyRecord* rec);
void print_bitboard(uint32_t low, uint32_t high);

// Move text: "e2e4", "e7e8q". parse_move_text gives only from, to and promotion bits.
Move parse_move_text(const char* text);
// The square a move's text names as its destination: for castling in
// Chess960 the king "takes" its own rook, in standard chess it names its destination.
int move_text_to(const Position& pos, Move m);
// Castling in standard chess is "e1g1" or "e1c1", in Chess960 the king takes its rook ("e1h1", "b1a1").
std::string move_to_text(const Position& pos, Move m);
// Does the word parse_move_text made (compared with or without its
// promotion bits) name m? Castling is also read as king takes rook in
// standard chess, but never by its destination in Chess960, where that can be
// an ordinary king step.
bool text_names_move(const Position& pos, Move m, Move word, bool compare_promotion);

// Recomputes everything make keeps incrementally; true when all agree.
bool board_is_consistent(const Position& pos, const PlyRecord* rec);
