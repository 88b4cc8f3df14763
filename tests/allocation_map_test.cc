#include "tsdb/file/allocation_map.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "log/storage_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_database.h"
#include "tsdb/error.h"

using testing_support::failure_text;
using tsdb::AllocationMap;

namespace {

AllocationMap fresh_map(uint32_t blocks) {
    AllocationMap map;
    map.initialise(blocks);
    map.mark(0, 1);
    return map;
}

}  // namespace

TEST(AllocationMap, HintsServeTheNextAllocationOfTheirClass) {
    AllocationMap map = fresh_map(100);
    EXPECT_EQ(map.allocate(4), 1u);
    EXPECT_EQ(map.hint(0), 5u);
    EXPECT_EQ(map.hint(1), 5u);
    EXPECT_EQ(map.allocate(1), 5u);
    EXPECT_EQ(map.hint(0), 6u);
    EXPECT_EQ(map.allocated_count(), 6u);

    AllocationMap singles = fresh_map(10);
    for (uint32_t b = 1; b < 10; ++b) {
        EXPECT_EQ(singles.allocate(1), b);
    }
    EXPECT_EQ(singles.hint(0), 0u);
    EXPECT_EQ(singles.allocate(1), 0u);
    EXPECT_EQ(singles.allocate(0), 0u);
}

TEST(AllocationMap, FirstFitSkipsShortRunsAndRemembersThem) {
    AllocationMap map = fresh_map(20);
    map.mark(3, 1);
    EXPECT_EQ(map.allocate(3), 4u);
    EXPECT_EQ(map.hint(0), 1u);
    EXPECT_EQ(map.allocate(2), 1u);

    AllocationMap big = fresh_map(1000);
    big.release(10, 8);  // sets hints on never-allocated blocks; a large request ignores them
    EXPECT_EQ(big.hint(0), 10u);
    EXPECT_EQ(big.hint(2), 10u);
    EXPECT_EQ(big.hint(3), 0u);
    EXPECT_EQ(big.allocate(300), 1u);
    EXPECT_EQ(big.allocate(8), 301u);
}

TEST(AllocationMap, ReleaseRefreshesInvalidHints) {
    AllocationMap map = fresh_map(64);
    EXPECT_EQ(map.allocate(30), 1u);
    EXPECT_EQ(map.hint(3), 31u);
    map.release(20, 2);  // the hints still point at free blocks: kept
    EXPECT_EQ(map.hint(0), 31u);
    EXPECT_EQ(map.allocate(33), 31u);  // the map is full now; every hint points past it
    map.release(10, 8);
    EXPECT_EQ(map.hint(0), 10u);
    EXPECT_EQ(map.hint(1), 10u);
    EXPECT_EQ(map.hint(2), 10u);
    EXPECT_EQ(map.hint(3), 64u);
    EXPECT_FALSE(map.test(12));
    EXPECT_EQ(map.allocate(8), 10u);
}

TEST(AllocationMap, MarkOverlapAndResizeRules) {
    AllocationMap map = fresh_map(100);
    map.mark(10, 5);
    EXPECT_EQ(failure_text<tsdb::error_dcalloc>([&] { map.mark(12, 4); }),
              "Block 12 doubly allocated");
    EXPECT_TRUE(map.overlaps(14, 3));
    EXPECT_FALSE(map.overlaps(15, 85));
    EXPECT_FALSE(map.overlaps(50, 0));
    EXPECT_EQ(failure_text<tsdb::error_range>([&] { map.overlaps(90, 11); }),
              "Bad range (end at 101) given to overlap tester");
    map.resize(200);
    EXPECT_EQ(map.size(), 200u);
    map.mark(150, 1);
    EXPECT_EQ(failure_text<tsdb::error_unref_used>([&] { map.resize(100); }),
              "Referenced block deallocated");
}

TEST(AllocationMap, GrowthAsksForTenPercentAndSettlesForTheFreeSpace) {
    const auto grown_by = [](uint32_t blocks, uint32_t n, uint64_t free_blocks) {
        testing_support::SimDisk disk(std::vector<uint8_t>((blocks + 1) * size_t{1024}, 0));
        testing_support::FaultPlan plan;
        plan.free_bytes = free_blocks * 1024;
        tsdb::BackingStore store = testing_support::store_on(disk, plan);
        store.set_block_size(1024);
        AllocationMap map = fresh_map(store.block_count());
        map.grow_database(store, n);
        EXPECT_EQ(map.size(), store.block_count());
        return store.block_count() - blocks;
    };
    EXPECT_EQ(grown_by(12345, 1, 1 << 20), 1230u);
    EXPECT_EQ(grown_by(12345, 2000, 1 << 20), 2000u);
    EXPECT_EQ(grown_by(99, 7, 1 << 20), 7u);

    testing_support::LogCapture log;
    EXPECT_EQ(grown_by(20000, 1000, 50), 50u);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines[0],
              "Wanted to grow TSDB with 2000 blocks, but only 50 blocks are available");
}
