// The "magics.txt" reader. The first byte picks the form of the rest: even,
// the rest is the file; odd, the rest edits a right file (three bytes: the
// length it is cut to, then four-byte records: three bytes of offset, one
// replacement byte), which reaches the checks past the hex syntax. A file the
// reader accepts must give the ray walk's attacks on every square whose numbers
// differ from the right file's, for every board; a rejected one is searched again at start-up (the e2e tests cover
// that), here the right tables are put back instead.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "attacks.h"
#include "platform.h"

constexpr unsigned MAGIC_SEED = 1;

static std::string right_file;
static std::vector<U64> right_tables;  // rook tables, bishop tables, rook magics, bishop magics

static void save_tables(std::vector<U64>& to) {
    to.assign(reinterpret_cast<const U64*>(rook_table), reinterpret_cast<const U64*>(rook_table + 64));
    to.insert(to.end(), reinterpret_cast<const U64*>(bishop_table), reinterpret_cast<const U64*>(bishop_table + 64));
    to.insert(to.end(), reinterpret_cast<const U64*>(rook_magic), reinterpret_cast<const U64*>(rook_magic + 64));
    to.insert(to.end(), reinterpret_cast<const U64*>(bishop_magic), reinterpret_cast<const U64*>(bishop_magic + 64));
}

static void restore_tables(const std::vector<U64>& from) {
    const char* p = reinterpret_cast<const char*>(from.data());
    memcpy(rook_table, p, sizeof rook_table);
    p += sizeof rook_table;
    memcpy(bishop_table, p, sizeof bishop_table);
    p += sizeof bishop_table;
    memcpy(rook_magic, p, sizeof rook_magic);
    p += sizeof rook_magic;
    memcpy(bishop_magic, p, sizeof bishop_magic);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    log_mute(true);  // the search prints its C arrays
    srand(MAGIC_SEED);
    find_all_magics(&right_file);
    log_mute(false);
    save_tables(right_tables);
    return 0;
}

static const U64* right_table(bool rook, int sq) {
    return right_tables.data() + (rook ? sq * 4096 : 64 * 4096 + sq * 512);
}

static Magic right_magic(bool rook, int sq) {
    const U64* p = right_tables.data() + 64 * 4096 + 64 * 512 + (rook ? 0 : 128) + 2 * sq;
    return {p[0], p[1]};
}

// The plain walk: step from the square until the edge or the first piece.
static U64 walk(bool rook, int sq, U64 occ) {
    static const int steps[2][4][2] = {{{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}, {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};
    U64 attacks = 0;
    for (const auto& step : steps[rook]) {
        for (int f = sq % 8 + step[0], r = sq / 8 + step[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
             f += step[0], r += step[1]) {
            attacks |= 1ULL << (r * 8 + f);
            if (occ >> (r * 8 + f) & 1) break;
        }
    }
    return attacks;
}

static void check_square(bool rook, int sq) {
    U64 mask = rook ? rook_mask(sq) : bishop_mask(sq);
    U64 stray = 0x8100000000000081ULL & ~(1ULL << sq);  // a corner ends every ray through it
    U64 occ = 0;
    do {
        U64 board = occ | stray;
        U64 got = rook ? rook_attacks(sq, board) : bishop_attacks(sq, board);
        if (got != walk(rook, sq, board)) {
            fprintf(stderr, "accepted %s table of square %d disagrees with the walk\n", rook ? "rook" : "bishop", sq);
            abort();
        }
        occ = (occ - mask) & mask;
    } while (occ);
}

static unsigned read_bytes(const uint8_t* p, int count) {
    unsigned value = 0;
    for (int i = 0; i < count; i++) value = value << 8 | p[i];
    return value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string file;
    bool untouched = false;
    if ((data[0] & 1) == 0 || size < 4) {
        file.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        file = right_file;
        file.resize(read_bytes(data + 1, 3) % (right_file.size() + 1));
        untouched = file.size() == right_file.size();
        for (size_t at = 4; at + 4 <= size; at += 4) {
            size_t offset = read_bytes(data + at, 3) % right_file.size();
            if (offset < file.size()) file[offset] = char(data[at + 3]);
        }
        untouched = untouched && file == right_file;
    }
    bool accepted = parse_magics(file.data(), file.size());
    if (untouched && !accepted) {
        fprintf(stderr, "a right file was rejected\n");
        abort();
    }
    if (accepted) {
        // Squares whose numbers differ from the right file's must still give
        // the walk's attacks for every subset of the relevant squares, with
        // stray pieces elsewhere.
        for (int sq = 0; sq < 64; sq++) {
            bool rook_same = rook_magic[sq].mask == right_magic(true, sq).mask &&
                             rook_magic[sq].magic == right_magic(true, sq).magic &&
                             !memcmp(rook_table[sq], right_table(true, sq), sizeof rook_table[sq]);
            bool bishop_same = bishop_magic[sq].mask == right_magic(false, sq).mask &&
                               bishop_magic[sq].magic == right_magic(false, sq).magic &&
                               !memcmp(bishop_table[sq], right_table(false, sq), sizeof bishop_table[sq]);
            if (!rook_same) check_square(true, sq);
            if (!bishop_same) check_square(false, sq);
        }
    }
    restore_tables(right_tables);
    return 0;
}
