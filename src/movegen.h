// Move generation, make and unmake with the game history, repetition, the
// legal move list, and applying the moves of a "position" command.
#pragma once

#include <string>

#include "board.h"

// Check analysis for the side to move: check count and one checker square.
void update_check_info(const Position& pos, PlyRecord* rec);
// All pseudo-legal moves; in check only those that may answer it.
void generate_moves(const Position& pos, PlyRecord* rec);
// Captures (en passant too), promotions and pawn steps to the seventh rank.
void generate_captures(const Position& pos, PlyRecord* rec);

// Generates the moves and returns how many are legal (the list keeps all).
int count_legal_moves(Position& pos, PlyRecord* rec);
// The same number, faster, but the list is left unfilled when not in check.
int count_legal_moves_fast(Position& pos, PlyRecord* rec);

// Plays move `index` of cur's list into next; 0 when the mover's king would be
// left attacked (or castling passes an attacked square): then nothing changed.
Move make_move(Position& pos, int index, PlyRecord* cur, PlyRecord* next);
void unmake_move(Position& pos, int index, PlyRecord* cur);
void make_null_move(Position& pos, PlyRecord* cur, PlyRecord* next);
void unmake_null_move(Position& pos, PlyRecord* cur);

// Finds the generated move whose from/to (and promotion when asked) match the
// word and makes it into the same record. 1 when a move matched, whatever
// make answered.
int make_move_by_word(Position& pos, Move word, int compare_promotion, PlyRecord* rec);
// 1 when the matched move was made, 0 when nothing matched or it was refused.
int find_and_make_text_move(Position& pos, Move move, int compare_promotion, PlyRecord* rec);
// Applies the moves of "position ... moves ..."; stops at the first bad one.
void apply_move_list(Position& pos, const char* text, PlyRecord* rec);

// Position seen since the last irreversible move, same side to move.
int is_repetition(const Position& pos, const PlyRecord* rec);

// The key after the move m from cur, before it is made: exact for plain
// moves and captures; for castling, promotions, en passant and double steps
// a near guess (the rook, the new piece, the taken pawn or the en-passant
// square left out), which is enough to fetch the hash bucket early.
inline U64 key_after(const Position& pos, const PlyRecord* cur, Move m) {
    const int from = move_from(m), to = move_to(m), piece = move_piece(m);
    const int* kept = pos.castling_rules.rights_kept;
    U64 key = cur->base_key ^ side_key ^ piece_keys[piece][from] ^ piece_keys[piece][to] ^ ep_keys[0] ^
              castle_keys[cur->castling & kept[from] & kept[to]];
    if (m & MOVE_CAPTURE) key ^= piece_keys[pos.board.mailbox[to]][to];
    return key;
}
// Legal moves first in the list; returns (and sets as move count) their number.
int generate_legal_moves(Position& pos, PlyRecord* rec);
void sort_by_score(int* scores, Move* moves, int count);

// Is square sq attacked by a piece of colour `by`?
bool square_attacked(const BoardState& board, int sq, int by);
// Empty when the board holds a position the engine can play from, else why not.
std::string position_problem(const BoardState& board);

void print_move(const Position& pos, Move m);
void print_move_list(const Position& pos, const PlyRecord* rec);
