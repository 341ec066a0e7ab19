// Static evaluation and its tables.
#pragma once

#include "board.h"

// Piece-square values by piece code and square (the king's are its middle-game table).
extern int piece_square[12][64];
void init_piece_square_tables();

extern const int king_table_middle[64];
extern const int king_table_end[64];

extern int knight_proximity[64][64];
extern int bishop_proximity[64][64];
extern int rook_proximity[64][64];
extern int queen_proximity[64][64];

extern const int knight_mobility_a[5], knight_mobility_b[5];
extern const int bishop_mobility_a[15], bishop_mobility_b[15];
extern const int rook_mobility_a[15], rook_mobility_b[15];
extern const int queen_mobility_a[15], queen_mobility_b[15];
extern const int pawn_rank_table_1[8], pawn_rank_table_2[8], pawn_rank_table_3[8];
extern const int pawn_rank_table_4[8], pawn_rank_table_5[8];
extern const int eval_table_13[13];
extern const int eval_table_9[9];
extern const int eval_offsets_5[5];

// Kind: 1 knight, 2 bishop, 3 rook, 4 queen. Needs the leaper and magic tables.
void build_proximity_table(int sq, int kind);
void build_proximity_tables();
// Per-square pawn masks the evaluation reads.
void init_eval_masks();

// Score of the board position for the side to move, in centipawns.
int evaluate(const PlyRecord* rec);
