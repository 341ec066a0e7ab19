#include "tt.h"

#include <cstring>

#include "platform.h"

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
constexpr int DECISIVE_SCORE = TABLEBASE_WIN_BOUND;  // table results and mates are stored relative to the node

HashTable hash_table;

size_t hash_bucket_count(int megabytes) {
    size_t count = size_t(megabytes) * 1048576 / sizeof(TTBucket);
    return count ? count : 1;
}

// Page-aligned, zero-filled memory from the system: a table nobody has
// written to yet costs nothing to allocate or to clear.
bool hash_allocate(int megabytes) {
    size_t count = hash_bucket_count(megabytes);
    void* memory = allocate_zeroed(count * sizeof(TTBucket));
    if (!memory) return false;
    if (hash_table.buckets) free_zeroed(hash_table.buckets, hash_table.bucket_count * sizeof(TTBucket));
    hash_table.buckets = static_cast<TTBucket*>(memory);
    hash_table.bucket_count = count;
    hash_table.generation = 0;
    return true;
}

void hash_clear() {
    clear_zeroed(hash_table.buckets, hash_table.bucket_count * sizeof(TTBucket));
    hash_table.generation = 0;
}

void hash_new_search() { hash_table.generation = (hash_table.generation + 1) & GENERATION_MASK; }

// ---- Entries --------------------------------------------------------------------

// An entry's two words taken apart.
struct EntryView {
    uint32_t key_high;
    Move move;
    int score;
    int eval;
    int depth;             // stored depth; 0 = empty
    int generation_bound;
};

static inline uint32_t fold(uint64_t data) { return uint32_t(data) ^ uint32_t(data >> 32); }

// Reads both words; the key comes out right only when they belong together.
static inline EntryView read_entry(const TTEntry& e) {
    uint64_t check = e.check.load(std::memory_order_relaxed);
    uint64_t data = e.data.load(std::memory_order_relaxed);
    EntryView v;
    v.key_high = uint32_t(check) ^ fold(data);
    v.move = Move(data);
    v.score = int16_t(uint16_t(data >> 32));
    v.eval = int16_t(uint16_t(data >> 48));
    v.depth = int((check >> 32) & 0xFF);
    v.generation_bound = int((check >> 40) & 0xFF);
    return v;
}

static inline void write_entry(TTEntry& e, uint32_t key_high, Move move, int score, int eval, int depth,
                               int generation_bound) {
    uint64_t data = uint64_t(move) | uint64_t(uint16_t(int16_t(score))) << 32 | uint64_t(uint16_t(int16_t(eval))) << 48;
    uint64_t check = uint64_t(key_high ^ fold(data)) | uint64_t(depth & 0xFF) << 32 |
                     uint64_t(generation_bound & 0xFF) << 40;
    // Another thread often stores the same result first: rewriting it would
    // only take the cache line away from the threads reading it.
    if (e.data.load(std::memory_order_relaxed) == data && e.check.load(std::memory_order_relaxed) == check) return;
    e.data.store(data, std::memory_order_relaxed);
    e.check.store(check, std::memory_order_relaxed);
}

static inline int entry_age(int generation_bound) {
    return (hash_table.generation - (generation_bound >> 2)) & GENERATION_MASK;
}

// Mate and table scores are stored as distances from the node, and read
// back as distances from the root.
static inline int score_to_tt(int score, int ply) {
    return score > DECISIVE_SCORE ? score + ply : score < -DECISIVE_SCORE ? score - ply : score;
}
static inline int score_from_tt(int score, int ply) {
    return score > DECISIVE_SCORE ? score - ply : score < -DECISIVE_SCORE ? score + ply : score;
}

// ---- Probe and store -----------------------------------------------------------------

bool hash_probe(U64 key, int ply, TTHit& hit) {
    TTBucket* b = hash_bucket(key);
    uint32_t key_high = uint32_t(key >> 32);
    for (TTEntry& e : b->entries) {
        EntryView v = read_entry(e);
        if (v.depth == 0 || v.key_high != key_high) continue;
        // Refresh the age so that an entry still in use is not the first to go.
        int generation_bound = hash_table.generation << 2 | (v.generation_bound & 3);
        if (generation_bound != v.generation_bound)
            write_entry(e, key_high, v.move, v.score, v.eval, v.depth, generation_bound);
        hit.move = v.move;
        hit.score = score_from_tt(v.score, ply);
        hit.eval = v.eval;
        hit.depth = v.depth - DEPTH_OFFSET;
        hit.bound = v.generation_bound & 3;
        return true;
    }
    return false;
}

void hash_store(U64 key, int ply, Move move, int score, int eval, int depth, int bound) {
    TTBucket* b = hash_bucket(key);
    uint32_t key_high = uint32_t(key >> 32);
    TTEntry* slot = nullptr;
    EntryView old{};
    for (TTEntry& e : b->entries) {
        EntryView v = read_entry(e);
        if (v.depth != 0 && v.key_high == key_high) {
            slot = &e;
            old = v;
            break;
        }
    }
    if (slot) {
        // Same position: keep a deeper result unless this one is exact or old.
        if (bound != BOUND_EXACT && entry_age(old.generation_bound) == 0 &&
            depth + DEPTH_OFFSET + KEEP_DEEPER_MARGIN < old.depth) {
            if (move && !old.move)
                write_entry(*slot, key_high, move, old.score, old.eval, old.depth, old.generation_bound);
            return;
        }
        if (!move) move = old.move;  // a null-move or fail-low result keeps the known move
    } else {
        int worst = 1 << 30;
        for (TTEntry& e : b->entries) {
            EntryView v = read_entry(e);
            int worth = v.depth == 0 ? -(1 << 20) : v.depth - AGE_WEIGHT * entry_age(v.generation_bound);
            if (worth < worst) {
                worst = worth;
                slot = &e;
            }
        }
    }
    int stored_depth = depth + DEPTH_OFFSET;
    if (stored_depth < 1) stored_depth = 1;
    if (stored_depth > 255) stored_depth = 255;
    write_entry(*slot, key_high, move, score_to_tt(score, ply), eval, stored_depth,
                hash_table.generation << 2 | bound);
}

int hash_full() {
    size_t buckets = hash_table.bucket_count < HASHFULL_SAMPLE ? hash_table.bucket_count : HASHFULL_SAMPLE;
    int used = 0;
    for (size_t i = 0; i < buckets; i++)
        for (const TTEntry& e : hash_table.buckets[i].entries) {
            EntryView v = read_entry(e);
            used += v.depth != 0 && (v.generation_bound >> 2) == hash_table.generation;
        }
    return int(used * 1000 / (buckets * TT_BUCKET_SIZE));
}
