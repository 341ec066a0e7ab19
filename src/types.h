// Shared vocabulary: squares, colours, piece codes, the Move word, scores.
#pragma once

#include <cstdint>

using U64 = uint64_t;
using Move = uint32_t;

// Squares: a1 = 0, h1 = 7, a8 = 56, h8 = 63.
constexpr int file_of(int sq) { return sq & 7; }
constexpr int rank_of(int sq) { return sq >> 3; }
constexpr int make_square(int file, int rank) { return rank * 8 + file; }
constexpr U64 bit(int sq) { return 1ULL << sq; }

// Colours: 1 = White, 0 = Black (the low bit of a piece code).
enum Colour : int { BLACK = 0, WHITE = 1 };

// Piece kinds and codes: code = 2 * kind + colour, letters "pPnNbBrRqQkK".
enum PieceKind : int { PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };
enum PieceCode : int {
    B_PAWN, W_PAWN, B_KNIGHT, W_KNIGHT, B_BISHOP, W_BISHOP,
    B_ROOK, W_ROOK, B_QUEEN, W_QUEEN, B_KING, W_KING
};
constexpr int NO_PIECE = 255;
constexpr const char* PIECE_LETTERS = "pPnNbBrRqQkK";

constexpr int make_piece(int kind, int colour) { return 2 * kind + colour; }
constexpr int colour_of(int piece) { return piece & 1; }
constexpr int kind_of(int piece) { return piece >> 1; }

// Castling rights bits. A right's index is its bit position; whatever the
// king's and rook's start squares (Chess960), the king ends on the g- or
// c-file and the rook on the f- or d-file of their first rank.
enum : int { WHITE_SHORT = 1, WHITE_LONG = 2, BLACK_SHORT = 4, BLACK_LONG = 8 };
constexpr int castling_index(int colour, bool long_side) { return (colour == WHITE ? 0 : 2) + (long_side ? 1 : 0); }
constexpr int castling_right(int index) { return 1 << index; }
constexpr int castling_colour(int index) { return index < 2 ? WHITE : BLACK; }
constexpr int castling_king_to(int index) { return (index < 2 ? 0 : 56) + ((index & 1) ? 2 : 6); }
constexpr int castling_rook_to(int index) { return (index < 2 ? 0 : 56) + ((index & 1) ? 3 : 5); }

// The Move word:
//   bits 0-1   promotion piece when bit 4 is set: 0 knight, 1 bishop, 2 rook, 3 queen
//   bit 2      capture (not set for en passant)
//   bit 3      castling (from: the king's square, to: its destination, g or c;
//              the two are the same square when the king starts there)
//   bit 4      promotion
//   bit 5      en-passant capture
//   bit 6      pawn double step
//   bits 8-13  to square, bits 16-21 from square, bits 24-31 moving piece code
// Word 0 is the empty move.
constexpr Move MOVE_CAPTURE = 0x04;
constexpr Move MOVE_CASTLE = 0x08;
constexpr Move MOVE_PROMOTION = 0x10;
constexpr Move MOVE_EN_PASSANT = 0x20;
constexpr Move MOVE_DOUBLE_STEP = 0x40;

constexpr int move_to(Move m) { return (m >> 8) & 63; }
constexpr int move_from(Move m) { return (m >> 16) & 63; }
constexpr int move_piece(Move m) { return int(m >> 24); }
constexpr int move_promotion_kind(Move m) { return KNIGHT + int(m & 3); }
constexpr int move_kind(Move m) { return int(m & 0xFC); }
constexpr Move make_move_word(int from, int to, int piece, Move flags) {
    return Move(piece) << 24 | Move(from) << 16 | Move(to) << 8 | flags;
}
// The right a castling move uses: the mover's colour and the king's destination file.
constexpr int castling_index_of(Move m) { return castling_index(colour_of(move_piece(m)), file_of(move_to(m)) == 2); }

// Scores: centipawns from the side to move's view; a side mated at ply p scores p - MATE.
constexpr int MATE = 32767;
constexpr int MATE_BOUND = 32000;  // beyond +-MATE_BOUND a score is a mate score
// A tablebase win found at ply p scores TABLEBASE_WIN - p: a band of its own
// below the mate band, so that no table result is ever taken for a mate.
// Beyond +-TABLEBASE_WIN_BOUND a score is decisive: a table result or a mate.
// The band is two spans deep: a win read from the hash table at some ply may
// lie up to a whole search further on.
constexpr int TABLEBASE_PLY_SPAN = 128;  // more than any search ply
constexpr int TABLEBASE_WIN = MATE_BOUND - 1 - TABLEBASE_PLY_SPAN;
constexpr int TABLEBASE_WIN_BOUND = TABLEBASE_WIN - 2 * TABLEBASE_PLY_SPAN;
