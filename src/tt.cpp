#include "tt.h"

#include <cstring>
#include <new>

// Replacement: a store into a bucket takes, in this order, the entry of the
// same position, else an empty slot, else the entry that is worth least:
// shallow and old. Entries of the same position are kept when the new result
// is much shallower, unless the new one is exact or carries a move where the
// old one had none.
constexpr int DEPTH_OFFSET = 8;          // depths down to -7 are stored (quiescence)
constexpr int AGE_WEIGHT = 8;            // one search of age counts like this many plies
constexpr int KEEP_DEEPER_MARGIN = 3;    // an older, deeper result of the same position wins by this
constexpr int GENERATION_MASK = 63;
constexpr int HASHFULL_SAMPLE = 1000;    // buckets looked at by hash_full
constexpr int MATE_IN_MAX = MATE_BOUND;

HashTable hash_table;

size_t hash_bucket_count(int megabytes) {
    size_t count = size_t(megabytes) * 1048576 / sizeof(TTBucket);
    return count ? count : 1;
}

bool hash_allocate(int megabytes) {
    size_t count = hash_bucket_count(megabytes);
    // Aligned new rather than aligned_alloc, which not every C library has.
    constexpr std::align_val_t alignment{alignof(TTBucket)};
    void* memory = ::operator new(count * sizeof(TTBucket), alignment, std::nothrow);
    if (!memory) return false;
    if (hash_table.buckets) ::operator delete(hash_table.buckets, alignment);
    hash_table.buckets = static_cast<TTBucket*>(memory);
    hash_table.bucket_count = count;
    hash_clear();
    return true;
}

void hash_clear() {
    memset(static_cast<void*>(hash_table.buckets), 0, hash_table.bucket_count * sizeof(TTBucket));
    hash_table.generation = 0;
}

void hash_new_search() { hash_table.generation = (hash_table.generation + 1) & GENERATION_MASK; }

static inline int entry_generation(const TTEntry& e) { return e.generation_bound >> 2; }
static inline int entry_age(const TTEntry& e) {
    return (hash_table.generation - entry_generation(e)) & GENERATION_MASK;
}

// Mate scores are stored as distances from the node, and read back as
// distances from the root.
static inline int score_to_tt(int score, int ply) {
    return score > MATE_IN_MAX ? score + ply : score < -MATE_IN_MAX ? score - ply : score;
}
static inline int score_from_tt(int score, int ply) {
    return score > MATE_IN_MAX ? score - ply : score < -MATE_IN_MAX ? score + ply : score;
}

bool hash_probe(U64 key, int ply, TTHit& hit) {
    TTBucket* b = hash_bucket(key);
    uint32_t check = uint32_t(key >> 32);
    for (TTEntry& e : b->entries) {
        if (e.depth == 0 || e.key_high != check) continue;
        // Refresh the age so that an entry still in use is not the first to go.
        e.generation_bound = uint8_t(hash_table.generation << 2 | (e.generation_bound & 3));
        hit.move = e.move;
        hit.score = score_from_tt(e.score, ply);
        hit.eval = e.eval;
        hit.depth = int(e.depth) - DEPTH_OFFSET;
        hit.bound = e.generation_bound & 3;
        return true;
    }
    return false;
}

void hash_store(U64 key, int ply, Move move, int score, int eval, int depth, int bound) {
    TTBucket* b = hash_bucket(key);
    uint32_t check = uint32_t(key >> 32);
    TTEntry* slot = nullptr;
    for (TTEntry& e : b->entries)
        if (e.depth != 0 && e.key_high == check) {
            slot = &e;
            break;
        }
    if (slot) {
        // Same position: keep a deeper result unless this one is exact or old.
        if (bound != BOUND_EXACT && entry_age(*slot) == 0 &&
            depth + DEPTH_OFFSET + KEEP_DEEPER_MARGIN < slot->depth) {
            if (move && !slot->move) slot->move = move;
            return;
        }
        if (!move) move = slot->move;  // a null-move or fail-low result keeps the known move
    } else {
        int worst = 1 << 30;
        for (TTEntry& e : b->entries) {
            int worth = e.depth == 0 ? -(1 << 20) : int(e.depth) - AGE_WEIGHT * entry_age(e);
            if (worth < worst) {
                worst = worth;
                slot = &e;
            }
        }
    }
    int stored_depth = depth + DEPTH_OFFSET;
    if (stored_depth < 1) stored_depth = 1;
    if (stored_depth > 255) stored_depth = 255;
    slot->key_high = check;
    slot->move = move;
    slot->score = int16_t(score_to_tt(score, ply));
    slot->eval = int16_t(eval);
    slot->depth = uint8_t(stored_depth);
    slot->generation_bound = uint8_t(hash_table.generation << 2 | bound);
}

int hash_full() {
    size_t buckets = hash_table.bucket_count < HASHFULL_SAMPLE ? hash_table.bucket_count : HASHFULL_SAMPLE;
    int used = 0;
    for (size_t i = 0; i < buckets; i++)
        for (const TTEntry& e : hash_table.buckets[i].entries)
            used += e.depth != 0 && entry_generation(e) == hash_table.generation;
    return int(used * 1000 / (buckets * TT_BUCKET_SIZE));
}
