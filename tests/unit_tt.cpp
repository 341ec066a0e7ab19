// The transposition table: size, mate scores across plies, what a later
// search still finds, replacement inside a bucket, and hashfull.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "search.h"
#include "test_support.h"
#include "tt.h"

namespace {

class HashTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup_position(START_FEN);
        ASSERT_TRUE(hash_allocate(1));
    }
    void TearDown() override { hash_allocate(DEFAULT_HASH_MB); }
};

// Keys that share a bucket: the bucket index comes from the low 32 bits only.
U64 key_in_bucket_zero(uint32_t high) { return U64(high) << 32; }

}  // namespace

// Every byte of the table is there to write and reads zero after a clear,
// however often it is resized; on Linux, tables of 2 MB and more start on a
// 2 MB boundary so that they can sit in huge pages.
TEST_F(HashTableTest, SizeUsesAllTheMemoryAskedFor) {
    for (int mb : {1, 3, 16, 100, 2, 16}) {
        ASSERT_TRUE(hash_allocate(mb));
        const size_t bytes = hash_table.bucket_count * sizeof(TTBucket);
        EXPECT_EQ(bytes, size_t(mb) << 20) << mb;
        unsigned char* table = reinterpret_cast<unsigned char*>(hash_table.buckets);
        table[0] = table[bytes / 2] = table[bytes - 1] = 0xA5;
        hash_clear();
        EXPECT_EQ(table[0] | table[bytes / 2] | table[bytes - 1], 0) << mb;
#ifdef __linux__
        if (mb >= 2) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(table) % (size_t(2) << 20), 0u) << mb;
        }
#endif
    }
}

TEST_F(HashTableTest, StoreThenProbeGivesEverythingBack) {
    const U64 key = 0x123456789ABCDEF0ULL;
    hash_store(key, 0, 0x00123400u, 57, -12, 9, BOUND_LOWER);
    TTHit hit;
    ASSERT_TRUE(hash_probe(key, 0, hit));
    EXPECT_EQ(hit.move, 0x00123400u);
    EXPECT_EQ(hit.score, 57);
    EXPECT_EQ(hit.eval, -12);
    EXPECT_EQ(hit.depth, 9);
    EXPECT_EQ(hit.bound, BOUND_LOWER);
    // Same bucket, other check bits: not found.
    EXPECT_FALSE(hash_probe(key ^ (U64(1) << 40), 0, hit));
    // Quiescence stores depth 0; negative depths are kept too.
    for (int depth : {0, -3}) {
        hash_store(key ^ (U64(1) << 50), 0, 0, 5, 5, depth, BOUND_UPPER);
        ASSERT_TRUE(hash_probe(key ^ (U64(1) << 50), 0, hit));
        EXPECT_EQ(hit.depth, depth);
    }
}

TEST_F(HashTableTest, MateScoresAreStoredAsDistanceFromTheNode) {
    const U64 key = 42;
    TTHit hit;
    // Mate found 3 plies below a node at ply 5: from the root that is mate at ply 8.
    hash_store(key, 5, 0, MATE - 8, 0, 4, BOUND_EXACT);
    ASSERT_TRUE(hash_probe(key, 3, hit));
    EXPECT_EQ(hit.score, MATE - 6);
    hash_store(key, 5, 0, -(MATE - 8), 0, 4, BOUND_EXACT);
    ASSERT_TRUE(hash_probe(key, 3, hit));
    EXPECT_EQ(hit.score, -(MATE - 6));
    // Ordinary scores do not move.
    hash_store(key, 5, 0, 300, 0, 4, BOUND_EXACT);
    ASSERT_TRUE(hash_probe(key, 3, hit));
    EXPECT_EQ(hit.score, 300);
}

// Table wins move with the ply like mates and stay in their band, never
// reaching the mate band nor falling out of the band even when a win a whole
// search away is read at the deepest ply; the scores outside it do not move.
TEST_F(HashTableTest, TableScoresAreStoredAsDistanceFromTheNode) {
    const U64 key = 43;
    struct Case {
        int stored, store_ply;
        int read, read_ply;
    } cases[] = {
        {TABLEBASE_WIN - 9, 9, TABLEBASE_WIN - 2, 2},
        {-(TABLEBASE_WIN - 9), 9, -(TABLEBASE_WIN - 2), 2},
        {TABLEBASE_WIN - MAX_PLY, 9, TABLEBASE_WIN - MAX_PLY + 7, 2},
        {TABLEBASE_WIN - MAX_PLY, 1, TABLEBASE_WIN - 2 * MAX_PLY + 1, MAX_PLY},
        {-(TABLEBASE_WIN - MAX_PLY), 1, -(TABLEBASE_WIN - 2 * MAX_PLY + 1), MAX_PLY},
        {TABLEBASE_WIN_BOUND, 9, TABLEBASE_WIN_BOUND, 2},
        {-TABLEBASE_WIN_BOUND, 9, -TABLEBASE_WIN_BOUND, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        hash_store(key, c.store_ply, 0, c.stored, 0, 4, BOUND_LOWER);
        TTHit hit;
        ASSERT_TRUE(hash_probe(key, c.read_ply, hit));
        EXPECT_EQ(hit.score, c.read);
        EXPECT_LE(hit.score, MATE_BOUND);
        if (c.stored != TABLEBASE_WIN_BOUND && c.stored != -TABLEBASE_WIN_BOUND) {
            EXPECT_GT(std::abs(hit.score), TABLEBASE_WIN_BOUND);
        }
    }
}

TEST_F(HashTableTest, EarlierSearchesStillGiveMovesAndScores) {
    const U64 key = 7777;
    hash_store(key, 0, 0x00010203u, 40, 10, 6, BOUND_EXACT);
    hash_new_search();
    hash_new_search();
    TTHit hit;
    ASSERT_TRUE(hash_probe(key, 0, hit));
    EXPECT_EQ(hit.move, 0x00010203u);
    EXPECT_EQ(hit.depth, 6);
    EXPECT_EQ(hit.score, 40);
}

TEST_F(HashTableTest, AResultWithoutMoveKeepsTheKnownMove) {
    const U64 key = 99;
    hash_store(key, 0, 0x00050607u, 10, 10, 3, BOUND_EXACT);
    // A null-move cut-off or a fail-low brings no move.
    hash_store(key, 0, 0, 200, 10, 5, BOUND_LOWER);
    TTHit hit;
    ASSERT_TRUE(hash_probe(key, 0, hit));
    EXPECT_EQ(hit.move, 0x00050607u);
    EXPECT_EQ(hit.score, 200);
    EXPECT_EQ(hit.depth, 5);
}

TEST_F(HashTableTest, MuchShallowerResultOfTheSameSearchKeepsTheDeepOne) {
    const U64 key = 1234;
    hash_store(key, 0, 0x00010101u, 10, 0, 12, BOUND_LOWER);
    hash_store(key, 0, 0x00020202u, 99, 0, 2, BOUND_UPPER);
    TTHit hit;
    ASSERT_TRUE(hash_probe(key, 0, hit));
    EXPECT_EQ(hit.depth, 12);
    EXPECT_EQ(hit.score, 10);
    // An exact result always goes in.
    hash_store(key, 0, 0x00020202u, 99, 0, 2, BOUND_EXACT);
    ASSERT_TRUE(hash_probe(key, 0, hit));
    EXPECT_EQ(hit.depth, 2);
}

TEST_F(HashTableTest, FullBucketReplacesTheShallowestOldestEntry) {
    // Fill bucket 0 with four positions of depths 9, 3, 7, 8.
    const int depths[TT_BUCKET_SIZE] = {9, 3, 7, 8};
    for (int i = 0; i < TT_BUCKET_SIZE; i++)
        hash_store(key_in_bucket_zero(uint32_t(i + 1)), 0, 0, i, 0, depths[i], BOUND_EXACT);
    hash_store(key_in_bucket_zero(100), 0, 0, 0, 0, 5, BOUND_EXACT);
    TTHit hit;
    EXPECT_FALSE(hash_probe(key_in_bucket_zero(2), 0, hit));  // depth 3 went
    for (uint32_t k : {1u, 3u, 4u, 100u}) EXPECT_TRUE(hash_probe(key_in_bucket_zero(k), 0, hit)) << k;

    // After a few searches an old deep entry goes before a fresh shallower one.
    for (int i = 0; i < 3; i++) hash_new_search();
    hash_store(key_in_bucket_zero(100), 0, 0, 0, 0, 5, BOUND_EXACT);  // refreshed
    hash_store(key_in_bucket_zero(200), 0, 0, 0, 0, 1, BOUND_EXACT);
    EXPECT_TRUE(hash_probe(key_in_bucket_zero(100), 0, hit));
    EXPECT_TRUE(hash_probe(key_in_bucket_zero(200), 0, hit));
}

TEST_F(HashTableTest, HashfullCountsEntriesOfThisSearch) {
    EXPECT_EQ(hash_full(), 0);
    for (size_t b = 0; b < 1000; b++)
        for (int i = 0; i < 2; i++) {
            // A key whose low half lands in bucket b.
            uint32_t low = uint32_t(((b << 32) + hash_table.bucket_count - 1) / hash_table.bucket_count);
            hash_store(U64(i + 1) << 32 | low, 0, 0, 0, 0, 3, BOUND_EXACT);
        }
    EXPECT_EQ(hash_full(), 500);
    hash_new_search();
    EXPECT_EQ(hash_full(), 0);
    hash_clear();
    EXPECT_EQ(hash_full(), 0);
}

// Two threads storing into one slot at once can leave the data word of one
// store beside the check word of the other. Such a torn entry must read as a
// miss, whichever half came from which store.
TEST_F(HashTableTest, TornEntryIsAMiss) {
    const U64 key = key_in_bucket_zero(0x5EEDF00D);
    struct Words {
        uint64_t data, check;
    };
    auto slot_of = [&]() -> TTEntry& {
        for (TTEntry& e : hash_bucket(key)->entries)
            if (e.check.load() != 0) return e;
        return hash_bucket(key)->entries[0];
    };
    hash_store(key, 0, 0x00102030u, 40, 11, 6, BOUND_EXACT);
    TTEntry& slot = slot_of();
    Words first{slot.data.load(), slot.check.load()};
    hash_store(key, 0, 0x00405060u, -250, -90, 7, BOUND_LOWER);
    ASSERT_EQ(&slot_of(), &slot);
    Words second{slot.data.load(), slot.check.load()};

    const Words torn[] = {{first.data, second.check}, {second.data, first.check}};
    for (const Words& w : torn) {
        slot.data.store(w.data);
        slot.check.store(w.check);
        TTHit hit;
        EXPECT_FALSE(hash_probe(key, 0, hit)) << std::hex << w.data << " " << w.check;
    }
    // Whole entries of either store are hits with their own contents.
    const Words whole[] = {first, second};
    const Move moves[] = {0x00102030u, 0x00405060u};
    for (int i = 0; i < 2; i++) {
        slot.data.store(whole[i].data);
        slot.check.store(whole[i].check);
        TTHit hit;
        ASSERT_TRUE(hash_probe(key, 0, hit));
        EXPECT_EQ(hit.move, moves[i]);
    }
}
