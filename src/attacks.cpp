#include "attacks.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

U64 knight_attacks[64];
U64 king_attacks[64];
U64 pawn_attacks[2][64];
U64 between[64][64];
// The squares from a square to the board's edge in each direction: the first
// four toward higher squares (north, east, north-east, north-west), the last
// four toward lower ones. Built by the compiler, so that the magic search and
// the walk check need no set-up before them.
constexpr int RAY_STEP[8][2] = {{0, 1}, {1, 0}, {1, 1}, {-1, 1}, {0, -1}, {-1, 0}, {-1, -1}, {1, -1}};
constexpr int RAY_N = 0, RAY_E = 1, RAY_NE = 2, RAY_NW = 3, RAY_S = 4, RAY_W = 5, RAY_SW = 6, RAY_SE = 7;
struct Rays {
    U64 squares[8][64];
};
static constexpr Rays make_rays() {
    Rays rays{};
    for (int d = 0; d < 8; d++)
        for (int s = 0; s < 64; s++)
            for (int f = file_of(s) + RAY_STEP[d][0], r = rank_of(s) + RAY_STEP[d][1]; f >= 0 && f < 8 && r >= 0 && r < 8;
                 f += RAY_STEP[d][0], r += RAY_STEP[d][1])
                rays.squares[d][s] |= bit(make_square(f, r));
    return rays;
}
static constexpr Rays RAYS = make_rays();

Magic rook_magic[64];
Magic bishop_magic[64];
// On Linux the rook table, 2 MB, sits on a 2 MB boundary: one huge page where
// the system gives them (see load_or_find_magics). Windows object files
// cannot align that far.
#ifdef __linux__
constexpr size_t ROOK_TABLE_ALIGNMENT = size_t(64) * 4096 * sizeof(U64);
#else
constexpr size_t ROOK_TABLE_ALIGNMENT = 64;
#endif
alignas(ROOK_TABLE_ALIGNMENT) U64 rook_table[64][4096];
U64 bishop_table[64][512];

const int bit_index_table[64] = {
    63, 0,  58, 1,  59, 47, 53, 2,  60, 39, 48, 27, 54, 33, 42, 3,  61, 51, 37, 40, 49, 18,
    28, 20, 55, 30, 34, 11, 43, 14, 22, 4,  62, 57, 46, 52, 38, 26, 32, 41, 50, 36, 17, 19,
    29, 10, 13, 21, 56, 45, 25, 31, 35, 16, 9,  12, 44, 24, 15, 8,  23, 7,  6,  5};

void init_square_tables() {
    for (int s = 0; s < 64; s++) {
        U64 b = bit(s);
        knight_attacks[s] = (b & NOT_FILES_AB) << 6 | (b & NOT_FILES_GH) << 10 | (b & NOT_FILE_A) << 15 |
                            (b & NOT_FILE_H) << 17 | (b & NOT_FILES_GH) >> 6 | (b & NOT_FILES_AB) >> 10 |
                            (b & NOT_FILE_H) >> 15 | (b & NOT_FILE_A) >> 17;
    }
    for (int s = 0; s < 64; s++) {
        U64 b = bit(s);
        king_attacks[s] = (b & NOT_FILE_H) << 1 | b << 8 | b >> 8 | (b & NOT_FILE_A) << 7 |
                          (b & NOT_FILE_H) << 9 | (b & NOT_FILE_A) >> 1 | (b & NOT_FILE_H) >> 7 |
                          (b & NOT_FILE_A) >> 9;
    }
    for (int a = 0; a < 64; a++)
        for (int c = 0; c < 64; c++) {
            int df = file_of(c) - file_of(a), dr = rank_of(c) - rank_of(a);
            int step = 0;
            if (dr == 0 && df != 0) step = 1;
            else if (df == 0 && dr != 0) step = 8;
            else if (dr == df && dr != 0) step = 9;
            else if (dr == -df && dr != 0) step = 7;
            U64 set = 0;
            if (step) {
                int lo = a < c ? a : c, hi = a < c ? c : a;
                for (int s = lo + step; s < hi; s += step) set |= bit(s);
            }
            between[a][c] = set;
        }
    for (int s = 0; s < 64; s++) {
        U64 b = bit(s);
        pawn_attacks[0][s] = (b & NOT_FILE_A) << 7 | (b & NOT_FILE_H) << 9;
        pawn_attacks[1][s] = (b & NOT_FILE_A) >> 9 | (b & NOT_FILE_H) >> 7;
    }
}

U64 rook_mask(int sq) {
    U64 mask = 0;
    int f = file_of(sq), r = rank_of(sq);
    for (int rr = 1; rr <= 6; rr++)
        if (rr != r) mask |= bit(make_square(f, rr));
    for (int ff = 1; ff <= 6; ff++)
        if (ff != f) mask |= bit(make_square(ff, r));
    return mask;
}

U64 bishop_mask(int sq) {
    U64 mask = 0;
    int f = file_of(sq), r = rank_of(sq);
    for (int df = -1; df <= 1; df += 2)
        for (int dr = -1; dr <= 1; dr += 2)
            for (int ff = f + df, rr = r + dr; ff >= 1 && ff <= 6 && rr >= 1 && rr <= 6; ff += df, rr += dr)
                mask |= bit(make_square(ff, rr));
    return mask;
}

// One ray's attacks: its squares up to and including the first blocker, the
// lowest one on a ray toward higher squares, else the highest.
static inline U64 ray_attacks(int d, int sq, U64 occ) {
    U64 set = RAYS.squares[d][sq], blockers = set & occ;
    if (blockers) set ^= RAYS.squares[d][d < 4 ? lowest_square(blockers) : 63 ^ __builtin_clzll(blockers)];
    return set;
}

U64 rook_attacks_slow(int sq, U64 occ) {
    return ray_attacks(RAY_N, sq, occ) | ray_attacks(RAY_E, sq, occ) | ray_attacks(RAY_S, sq, occ) |
           ray_attacks(RAY_W, sq, occ);
}

U64 bishop_attacks_slow(int sq, U64 occ) {
    return ray_attacks(RAY_NE, sq, occ) | ray_attacks(RAY_NW, sq, occ) | ray_attacks(RAY_SE, sq, occ) |
           ray_attacks(RAY_SW, sq, occ);
}

U64 index_to_occupancy(int index, U64 mask) {
    U64 occ = 0;
    for (int j = 0; mask; j++) {
        int sq = pop_lowest(mask);
        if (index & (1 << j)) occ |= bit(sq);
    }
    return occ;
}

U64 random64() {
    U64 r1 = U64(rand()), r2 = U64(rand()), r3 = U64(rand()), r4 = U64(rand());
    return (r1 & 0xFFFF) | (r2 & 0xFFFF) << 16 | (r3 & 0xFFFF) << 32 | (r4 & 0xFFFF) << 48;
}

U64 random64_sparse() { return random64() & random64() & random64(); }

// ---- "magics.txt" --------------------------------------------------------
// One line of upper-case hex, 16 digits per value (high half first): for each
// rook square its 4096 table slots, mask and magic; then the same for bishops
// with 512 slots.

constexpr size_t MAGICS_FILE_LENGTH = size_t(64 * 4098 + 64 * 514) * 16;
constexpr size_t MAGICS_READ_CHUNK = 16 * 4096;  // bytes read at a time: whole values

#ifndef __SSE2__
// Eight hex digits (either case) as a number, eight bytes at a time: the
// first character is the most significant digit. False when any byte is no
// hex digit.
static inline bool hex8(const char* text, uint32_t& value) {
    constexpr U64 ONES = 0x0101010101010101ULL, HIGH = 0x8080808080808080ULL, LOW7 = 0x7F7F7F7F7F7F7F7FULL;
    U64 w;
    memcpy(&w, text, 8);  // byte i is character i
    // Per byte, the high bit set when low < x < high (bytes below 0x80 only).
    auto between = [&](U64 x, unsigned low, unsigned high) {
        return (ONES * (127 + high) - (x & LOW7)) & ~x & ((x & LOW7) + ONES * (127 - low)) & HIGH;
    };
    const U64 folded = w | 0x2020202020202020ULL;  // 'A'-'F' to 'a'-'f'; digits keep their bit
    const U64 digits = between(w, '0' - 1, '9' + 1), letters = between(folded, 'a' - 1, 'f' + 1);
    if ((digits | letters) != HIGH) return false;
    // Digit values: low nibble, plus 9 for letters.
    U64 nibbles = (w & 0x0F0F0F0F0F0F0F0FULL) + (letters >> 7) * 9;
    // Pack: byte i holds the digit of weight 16^(7 - i).
    nibbles = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFULL;  // pairs: hi lo
    nibbles = ((nibbles << 8) | (nibbles >> 16)) & 0x0000FFFF0000FFFFULL;
    nibbles = ((nibbles << 16) | (nibbles >> 32)) & 0x00000000FFFFFFFFULL;
    value = uint32_t(nibbles);
    return true;
}
#endif

bool parse_hex16(const char* text, U64& value) {
#ifdef __SSE2__
    // All sixteen digits at once. Signed byte compares: bytes from 0x80 on
    // are negative, so they are neither digits nor letters.
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i folded = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(folded, _mm_set1_epi8('f' + 1)));
    if (_mm_movemask_epi8(_mm_or_si128(digits, letters)) != 0xFFFF) return false;
    // Digit values: the low nibble, plus 9 for letters.
    const __m128i nibbles =
        _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)), _mm_and_si128(letters, _mm_set1_epi8(9)));
    // Each 16-bit lane holds digits 2i (low byte) and 2i + 1: make its low
    // byte 16 * first + second, then pack the lanes' low bytes into eight.
    const __m128i pairs = _mm_and_si128(_mm_or_si128(_mm_slli_epi16(nibbles, 4), _mm_srli_epi16(nibbles, 8)),
                                        _mm_set1_epi16(0x00FF));
    // The first character is the most significant digit: byte 0 is the top byte.
    value = __builtin_bswap64(U64(_mm_cvtsi128_si64(_mm_packus_epi16(pairs, pairs))));
    return true;
#else
    uint32_t high = 0, low = 0;
    if (!hex8(text, high) || !hex8(text + 8, low)) return false;
    value = U64(high) << 32 | low;
    return true;
#endif
}

// Parses the text as 16-digit hex values, from memory or from a file read a
// chunk at a time (a chunk holds whole values). Anything else (a short or cut
// file, a blank, a line end, a stray character) counts as failed, so a
// damaged file is searched and written afresh rather than read into wrong
// tables.
struct HexReader {
    const char* text;
    size_t size;
    FILE* file;    // when given, refills `chunk` (MAGICS_READ_CHUNK bytes)
    char* chunk;
    size_t pos = 0;
    bool failed = false;

    bool refill() {
        if (!file) return false;
        size = fread(chunk, 1, MAGICS_READ_CHUNK, file);
        text = chunk;
        pos = 0;
        return size > 0;
    }
    U64 read_hex64() {
        if (failed || (size - pos < 16 && !(pos == size && refill())) || size - pos < 16) {
            failed = true;
            return ~0ULL;
        }
        U64 value = 0;
        if (!parse_hex16(text + pos, value)) failed = true;
        pos += 16;
        return failed ? ~0ULL : value;
    }
    // `count` values into `out`, in runs as long as the text at hand allows.
    void read_values(U64* out, size_t count) {
        while (count && !failed) {
            if (size - pos < 16 && !(pos == size && refill())) {
                failed = true;
                break;
            }
            size_t run = (size - pos) / 16 < count ? (size - pos) / 16 : count;
            if (!run) {  // a value cut by the end of the text
                failed = true;
                break;
            }
            bool ok = true;
            for (size_t i = 0; i < run; i++) ok &= parse_hex16(text + pos + 16 * i, out[i]);
            failed = !ok;
            pos += 16 * run;
            out += run;
            count -= run;
        }
    }
    // Every byte was taken: nothing follows the last value.
    bool at_end() { return !failed && pos == size && !refill(); }
};

// Every occupancy subset of each relevant mask looks up what the ray walk gives,
// and the masks are the relevant ones: then the tables are right for every board.
static bool tables_agree_with_walk() {
    for (int s = 0; s < 64; s++) {
        U64 mask = rook_mask(s);
        if (rook_magic[s].mask != mask) return false;
        U64 occ = 0;
        do {
            if (rook_attacks(s, occ) != rook_attacks_slow(s, occ)) return false;
            occ = (occ - mask) & mask;  // next subset of the mask
        } while (occ);
        mask = bishop_mask(s);
        if (bishop_magic[s].mask != mask) return false;
        occ = 0;
        do {
            if (bishop_attacks(s, occ) != bishop_attacks_slow(s, occ)) return false;
            occ = (occ - mask) & mask;
        } while (occ);
    }
    return true;
}

static bool parse_tables(HexReader& reader) {
    for (int s = 0; s < 64; s++) {
        reader.read_values(rook_table[s], 4096);
        rook_magic[s].mask = reader.read_hex64();
        rook_magic[s].magic = reader.read_hex64();
    }
    for (int s = 0; s < 64; s++) {
        reader.read_values(bishop_table[s], 512);
        bishop_magic[s].mask = reader.read_hex64();
        bishop_magic[s].magic = reader.read_hex64();
    }
    return reader.at_end() && tables_agree_with_walk();
}

bool parse_magics(const char* text, size_t size) {
    if (size != MAGICS_FILE_LENGTH) return false;
    HexReader reader{text, size, nullptr, nullptr};
    return parse_tables(reader);
}

bool read_magics(FILE* in) {
    std::vector<char> chunk(MAGICS_READ_CHUNK);
    HexReader reader{chunk.data(), 0, in, chunk.data()};
    return parse_tables(reader);
}

static void write_hex64(std::string& out, U64 value) {
    char text[17];
    snprintf(text, sizeof text, "%08X%08X", unsigned(value >> 32), unsigned(value & 0xFFFFFFFF));
    out.append(text, 16);
}

constexpr long MAGIC_TRIES = 100000000;

// Random sparse candidates until one maps every occupancy subset of the mask
// to a slot without a clash between different attack sets.
static bool find_magic(int sq, std::string* out, bool rook) {
    U64 mask = rook ? rook_mask(sq) : bishop_mask(sq);
    int shift = rook ? 52 : 55;
    int slots = rook ? 4096 : 512;
    int size = 1 << popcount(mask);
    static U64 occ[4096], att[4096], used[4096];
    static unsigned stamp[4096], epoch = 0;
    for (int i = 0; i < size; i++) {
        occ[i] = index_to_occupancy(i, mask);
        att[i] = rook ? rook_attacks_slow(sq, occ[i]) : bishop_attacks_slow(sq, occ[i]);
    }
    U64 magic = 0;
    bool found = false;
    for (long tries = 0; tries < MAGIC_TRIES && !found; tries++) {
        magic = random64_sparse();
        // A stamp per slot stands for clearing the slot table before each candidate.
        if (++epoch == 0) {
            memset(stamp, 0, sizeof stamp);
            epoch = 1;
        }
        found = true;
        for (int i = 0; i < size; i++) {
            int idx = int((occ[i] * magic) >> shift);
            if (stamp[idx] != epoch) {
                stamp[idx] = epoch;
                used[idx] = att[i];
            } else if (used[idx] != att[i]) {
                found = false;
                break;
            }
        }
    }
    if (found) log_print(" 0x%08X%08X, \n", unsigned(magic >> 32), unsigned(magic & 0xFFFFFFFF));
    else log_print("Failed!!!\n");

    U64* table = rook ? rook_table[sq] : bishop_table[sq];
    for (int k = 0; k < slots; k++) {
        table[k] = stamp[k] == epoch ? used[k] : 0;
        if (out) write_hex64(*out, table[k]);
    }
    (rook ? rook_magic : bishop_magic)[sq] = {mask, magic};
    if (out) {
        write_hex64(*out, mask);
        write_hex64(*out, magic);
    }
    return found;
}

bool find_rook_magic(int sq, std::string* out) { return find_magic(sq, out, true); }
bool find_bishop_magic(int sq, std::string* out) { return find_magic(sq, out, false); }

void find_all_magics(std::string* out) {
    if (out) out->reserve(MAGICS_FILE_LENGTH);
    log_print("const U64 r_magics[64] = {\n");
    for (int s = 0; s < 64; s++) find_rook_magic(s, out);
    log_print("};\n\n");
    log_print("const U64 b_magics[64] = {\n");
    for (int s = 0; s < 64; s++) find_bishop_magic(s, out);
    log_print("};\n\n");
}

void load_or_find_magics(FILE* magics_in) {
    advise_huge_pages(rook_table, sizeof rook_table);  // before its first write
    if (magics_in) {
        bool ok = read_magics(magics_in);
        fclose(magics_in);
        if (ok) return;
    }
    std::string text;
    find_all_magics(&text);
    // Engines started together in one directory all write the same bytes; the
    // rename makes sure none of them ever reads a file another is still writing.
    if (!write_file_atomically("magics.txt", text))
        log_print("info string Can't write magics.txt: the magic tables are searched on every start\n");
}

// ---- Static exchange evaluation ------------------------------------------
