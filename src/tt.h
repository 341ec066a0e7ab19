// Transposition table: what earlier visits learnt about a position (best move,
// score with its bound, depth, static evaluation), kept in buckets of four
// entries that share one 64-byte cache line. All search threads share it
// without locks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "types.h"

enum : int { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

// 16 bytes: two words, each read and written whole.
//   data:  bits 0-31 best move (0 = none), 32-47 score (mate scores relative
//          to this node), 48-63 static evaluation
//   check: bits 0-31 the key's high half XOR the two halves of the data word,
//          32-39 remaining depth + DEPTH_OFFSET (0 = empty slot), 40-47
//          search generation << 2 | bound
// The bucket index comes from the low key bits, so only the high half is
// kept. Two threads writing one entry at once may leave the data word of one
// beside the check word of the other; the key check then fails, so a torn
// entry reads as a miss, never as a hit with another position's move or score.
struct TTEntry {
    std::atomic<uint64_t> data;
    std::atomic<uint64_t> check;
};
static_assert(sizeof(TTEntry) == 16, "TTEntry must stay 16 bytes");

constexpr int TT_BUCKET_SIZE = 4;
struct alignas(64) TTBucket {
    TTEntry entries[TT_BUCKET_SIZE];
};
static_assert(sizeof(TTBucket) == 64, "a bucket is one cache line");

struct HashTable {
    TTBucket* buckets;
    size_t bucket_count;  // any number >= 1: the index is a multiply-shift, not a mask
    uint8_t generation;   // 6 bits, raised by every search
};

extern HashTable hash_table;

// What a probe found, scores already made relative to the root.
struct TTHit {
    Move move;
    int score;
    int eval;
    int depth;
    int bound;
};

constexpr int DEFAULT_HASH_MB = 16;
constexpr int MAX_HASH_MB = 4096;

// Buckets that fit in `megabytes`.
size_t hash_bucket_count(int megabytes);
// Replaces the table with a cleared one; false (old table kept) when memory is short.
bool hash_allocate(int megabytes);
void hash_clear();
// Starts a new search: older entries keep giving moves and cut-offs but are
// replaced first.
void hash_new_search();
// True when the position is stored; `hit` then holds it.
bool hash_probe(U64 key, int ply, TTHit& hit);
void hash_store(U64 key, int ply, Move move, int score, int eval, int depth, int bound);
// Per mille of the sampled slots holding an entry of the current search.
int hash_full();

// Bucket of a key, for prefetching.
inline TTBucket* hash_bucket(U64 key) {
    return &hash_table.buckets[(unsigned __int128)(key & 0xFFFFFFFFu) * hash_table.bucket_count >> 32];
}
// Starts loading a key's bucket into the cache: a probe that follows soon
// after then finds it there instead of waiting on memory.
inline void hash_prefetch(U64 key) { __builtin_prefetch(hash_bucket(key)); }
