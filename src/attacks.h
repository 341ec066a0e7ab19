// Attack tables: leaper and between tables, magic sliding attacks with their
// search and the "magics.txt" file, and the engine's random generator.
#pragma once

#include <cassert>
#include <cstdio>
#include <string>

#include "types.h"

struct Magic {
    U64 mask;
    U64 magic;
};

extern U64 knight_attacks[64];
extern U64 king_attacks[64];
// [0][s]: squares a white pawn on s attacks; [1][s]: squares a black pawn on s
// attacks. Read the other way round, [c][s] & pawns of colour c are the pawns
// of colour c that attack s.
extern U64 pawn_attacks[2][64];
extern U64 between[64][64];

extern Magic rook_magic[64];
extern Magic bishop_magic[64];
extern U64 rook_table[64][4096];
extern U64 bishop_table[64][512];

constexpr U64 NOT_FILE_A = 0xFEFEFEFEFEFEFEFEULL;
constexpr U64 NOT_FILE_H = 0x7F7F7F7F7F7F7F7FULL;
constexpr U64 NOT_FILES_AB = 0xFCFCFCFCFCFCFCFCULL;
constexpr U64 NOT_FILES_GH = 0x3F3F3F3F3F3F3F3FULL;

// Lowest set bit first, everywhere. Never called with 0. The builtin is one
// instruction on every x86-64 level (bsf, or tzcnt where BMI is there).
inline int lowest_square(U64 b) {
    assert(b);
    return __builtin_ctzll(b);
}
// Bit count by adding neighbouring fields; for targets without POPCNT, where
// the builtin would be a library call.
inline int popcount_portable(U64 b) {
    b -= (b >> 1) & 0x5555555555555555ULL;
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return int((b * 0x0101010101010101ULL) >> 56);
}
inline int popcount(U64 b) {
#if defined(__POPCNT__)
    return __builtin_popcountll(b);
#else
    return popcount_portable(b);
#endif
}
// Returns the lowest set square and clears it.
inline int pop_lowest(U64& b) {
    int sq = lowest_square(b);
    b &= b - 1;
    return sq;
}

inline U64 rook_attacks(int sq, U64 occ) {
    const Magic& m = rook_magic[sq];
    return rook_table[sq][((occ & m.mask) * m.magic) >> 52];
}
inline U64 bishop_attacks(int sq, U64 occ) {
    const Magic& m = bishop_magic[sq];
    return bishop_table[sq][((occ & m.mask) * m.magic) >> 55];
}
inline U64 queen_attacks(int sq, U64 occ) { return rook_attacks(sq, occ) | bishop_attacks(sq, occ); }

// The de Bruijn table lowest_square is defined by; kept to check the intrinsic against.
extern const int bit_index_table[64];
constexpr U64 BIT_INDEX_MULTIPLIER = 0x07EDD5E59A4E28C2ULL;
inline int lowest_square_by_table(U64 b) { return bit_index_table[((b & (0 - b)) * BIT_INDEX_MULTIPLIER) >> 58]; }

void init_square_tables();

U64 rook_mask(int sq);
U64 bishop_mask(int sq);
U64 rook_attacks_slow(int sq, U64 occ);
U64 bishop_attacks_slow(int sq, U64 occ);
U64 index_to_occupancy(int index, U64 mask);

// 64 random bits from four calls of the C library's rand().
U64 random64();
U64 random64_sparse();

// Fills the magic tables from the open "magics.txt" (null when missing), or
// searches them, prints them as C arrays and writes the file afresh (through a
// temporary file renamed into place).
void load_or_find_magics(FILE* magics_in);
// Reads the tables from an open "magics.txt" without closing it. False when the
// file is not exactly the whole text or its tables disagree with the ray walk;
// the tables are then left half-filled and must be searched.
bool read_magics(FILE* in);
// The same for the file's bytes in memory.
bool parse_magics(const char* text, size_t size);
// Sixteen hex digits (either case), the first the most significant; false
// when any of them is no hex digit.
bool parse_hex16(const char* text, U64& value);
// The search for one square, or all of them in file order with the C arrays
// printed; the file text is appended to `out` when given.
bool find_rook_magic(int sq, std::string* out);
bool find_bishop_magic(int sq, std::string* out);
void find_all_magics(std::string* out);
