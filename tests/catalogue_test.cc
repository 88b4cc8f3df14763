#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <set>

#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/file/consistency_check.h"
#include "tsdb/file/lblock_cursor.h"

using namespace testing_support;
using tsdb::ChainKind;
using tsdb::time_series_layout_t;

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

class Catalogue : public ::testing::Test {
protected:
    uint32_t finest_lblock(uint32_t check_id) {
        return db.chain(ChainKind::check).check_entry(check_id).first_lblock;
    }
    // A level of 3072 bytes: 100 continuous records in 1 KiB blocks.
    uint32_t ring_level() { return finest_lblock(db.allocate_described_ts({1, {{100, 60}}})); }
    void place(uint32_t lblock, uint32_t head, uint32_t tail) {
        db.chain(ChainKind::head).set_position(lblock, head);
        db.chain(ChainKind::tail).set_position(lblock, tail);
        db.publish_heads(lblock);
    }

    SimDisk disk = formatted_disk();
    tsdb::Database db = open_on(disk);
};

}  // namespace

TEST_F(Catalogue, DescribedSeriesRoundTrip) {
    const time_series_layout_t layout{1, {{100, 60}, {50, 300}, {10, 3600}}};
    const uint32_t id = db.allocate_described_ts(layout);
    EXPECT_TRUE(db.check_id_exists(id));
    // Sizes come back as whole blocks' worth of records.
    EXPECT_EQ(db.fetch_ts_description(id),
              (time_series_layout_t{1, {{109, 60}, {73, 300}, {36, 3600}}}));

    // Coarsest allocated first: the finest level leads the list.
    const tsdb::PointerChain& lblocks = db.chain(ChainKind::lblock);
    const uint32_t finest = finest_lblock(id);
    const uint32_t middle = lblocks.lblock_entry(finest).next;
    const uint32_t coarsest = lblocks.lblock_entry(middle).next;
    EXPECT_LT(coarsest, middle);
    EXPECT_LT(middle, finest);
    EXPECT_EQ(lblocks.lblock_entry(coarsest).next, 0u);
    EXPECT_EQ(lblocks.lblock_entry(finest).dblocks, 3u);
    EXPECT_NE(coarsest, 0u);  // lblock 0 is reserved by the database creator

    const uint32_t incident = db.allocate_described_ts({4, {{2000, 60}}});
    EXPECT_EQ(db.fetch_ts_description(incident).levels[0].size, 2048u);

    // The series is on disk before its id is returned.
    SimDisk copy(disk.durable());
    EXPECT_EQ(open_on(copy).fetch_ts_description(id), db.fetch_ts_description(id));
}

TEST_F(Catalogue, RefusalsAndTheirTexts) {
    EXPECT_EQ(failure_text<tsdb::error_dbtype>([&] {
                  db.allocate_described_ts({7, {{1, 1}}});
              }),
              "Datatype out of range");
    EXPECT_EQ(failure_text<tsdb::error_internal>([&] {
                  db.allocate_described_ts({1, {}});
              }),
              "allocate_described_ts() invoked with no levels");
    EXPECT_EQ(failure_text<tsdb::error_internal>([&] { db.fetch_ts_description(3); }),
              "Referenced unallocated check_id (3)");
    EXPECT_FALSE(db.check_id_exists(100000));
    const uint32_t capacity = db.chain(ChainKind::check).capacity();
    EXPECT_EQ(failure_text<tsdb::error_range>([&] { db.deallocate_check_id(capacity); }),
              "Given check id for deallocation is out of range");
    EXPECT_EQ(failure_text<tsdb::error_internal>([&] {
                  db.chain(ChainKind::check).set_check_entry(capacity, {1, 1});
              }),
              "Pointer for lblock " + std::to_string(capacity) + " does not exist in chain " +
                  std::to_string(db.copy_in_use(ChainKind::check)));
    EXPECT_EQ(failure_text<tsdb::error_internal>(
                  [&] { db.chain(ChainKind::check).check_entry(capacity); }),
              "Pointer for lblock " + std::to_string(capacity) + " cannot be fetched in chain " +
                  std::to_string(db.copy_in_use(ChainKind::check)));
}

TEST_F(Catalogue, ReleasedSpaceIsReusedOnlyOnceItsReleaseIsCommitted) {
    const uint32_t blocks_before = db.allocation().allocated_count();
    const uint32_t id = db.allocate_described_ts({2, {{200, 60}, {100, 600}}});
    const uint32_t finest = finest_lblock(id);
    const uint32_t held = db.allocation().allocated_count();
    EXPECT_GT(held, blocks_before);
    db.deallocate_check_id(id);
    EXPECT_FALSE(db.check_id_exists(id));
    EXPECT_EQ(db.chain(ChainKind::lblock).lblock_entry(finest), tsdb::lblock_entry_t{});
    EXPECT_EQ(db.allocation().allocated_count(), held);  // the committed state still names them

    // The creation's commit carries the release; the space is free after it.
    const uint32_t again = db.allocate_described_ts({3, {{10, 60}}});
    EXPECT_EQ(again, id);
    EXPECT_NE(finest_lblock(again), finest);
    EXPECT_EQ(db.allocation().allocated_count(), blocks_before + 1);
    EXPECT_LE(finest_lblock(db.allocate_described_ts({3, {{10, 60}}})), finest);
    EXPECT_TRUE(find_problems(db).empty());
}

TEST_F(Catalogue, ManySeriesGrowTheChainsAndTheFile) {
    const uint32_t file_blocks = db.store_block_count();
    std::vector<uint32_t> ids;
    for (int i = 0; i < 140; ++i) {  // more than one Check block (126) and LBlock block (63)
        ids.push_back(db.allocate_described_ts({2, {{40, 60}}}));
    }
    const uint32_t big = db.allocate_described_ts({1, {{20000, 60}}});  // 547 blocks
    EXPECT_GT(db.store_block_count(), file_blocks);
    EXPECT_TRUE(find_problems(db).empty());

    SimDisk copy(disk.durable());
    tsdb::Database again = open_on(copy);
    for (uint32_t id : ids) {
        ASSERT_EQ(again.fetch_ts_description(id), (time_series_layout_t{2, {{51, 60}}}));
    }
    EXPECT_EQ(again.fetch_ts_description(big).levels[0].size, 20004u);
    EXPECT_TRUE(find_problems(again).empty());
}

TEST(CatalogueGrowth, SeriesMadeWhileASmallFileGrowsSurviveEveryReopen) {
    SimDisk disk = formatted_disk(small_database(16, 4096));
    std::set<uint32_t> ids;
    for (int i = 0; i < 12; ++i) {  // a process per creation, as tsdbctl runs it
        tsdb::Database db = open_on(disk);
        ASSERT_TRUE(ids.insert(db.allocate_described_ts({1, {{300, 60}}})).second);
        for (uint32_t id : ids) {
            ASSERT_TRUE(db.check_id_exists(id)) << "series " << id << " after " << i;
        }
        ASSERT_TRUE(find_problems(db).empty()) << find_problems(db).front();
    }
}

TEST_F(Catalogue, LevelZeroIsTakenOnceAndKept) {
    db.release_lblock(0);  // as in a database made without reserving it
    db.phase_shift_all();
    const uint32_t level = db.allocate_level(2, 60, 0);
    EXPECT_EQ(level, 1u);
    EXPECT_NE(db.chain(ChainKind::lblock).lblock_entry(0).first_dblock, 0u);
    EXPECT_NE(db.allocate_level(1, 60, 0), 0u);
}

TEST_F(Catalogue, RingWritesRespectTheCommittedHead) {
    const uint32_t l = ring_level();
    const std::vector<uint8_t> bytes = pattern(3072);
    EXPECT_EQ(failure_text<tsdb::error_range>(
                  [&] { db.write_to_lblock(l, std::span(bytes).first(3072)); }),
              "Unable to write 3072 bytes to level of 3072 bytes");
    EXPECT_TRUE(db.write_to_lblock(l, std::span(bytes).first(3071)));
    EXPECT_EQ(db.chain(ChainKind::tail).position(l), 3071u);
    place(l, 100, 99);
    EXPECT_FALSE(db.write_to_lblock(l, std::span(bytes).first(1)));

    // The head moved in the copy in use only: no room until it is published.
    place(l, 0, 0);
    db.chain(ChainKind::head).set_position(l, 2000);
    db.chain(ChainKind::tail).set_position(l, 1000);
    EXPECT_FALSE(db.write_to_lblock(l, std::span(bytes).first(2500)));
    db.publish_heads(l);
    EXPECT_TRUE(db.write_to_lblock(l, std::span(bytes).first(999)));
    EXPECT_EQ(db.chain(ChainKind::tail).position(l), 1999u);
}

TEST_F(Catalogue, RingsWrapInWritesAndReads) {
    const uint32_t l = ring_level();
    const tsdb::lblock_entry_t level = db.chain(ChainKind::lblock).lblock_entry(l);
    place(l, 1000, 3060);
    const std::vector<uint8_t> record = pattern(28, 50);
    ASSERT_TRUE(db.write_to_lblock(l, record));
    EXPECT_EQ(db.chain(ChainKind::tail).position(l), 16u);
    const uint8_t* file = disk.current().data() + size_t{level.first_dblock} * 1024;
    EXPECT_EQ(std::memcmp(file + 3060, record.data(), 12), 0);
    EXPECT_EQ(std::memcmp(file, record.data() + 12, 16), 0);

    std::vector<uint8_t> back(20);
    EXPECT_EQ(db.read_from_lblock(level, 3064, back), 12u);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), record.begin() + 4));

    tsdb::LblockCursor cursor(db.store(), level);
    std::vector<uint8_t> through(28);
    EXPECT_EQ(cursor.read(through.data(), 3060, 28), 16u);
    EXPECT_EQ(through, record);
    EXPECT_EQ(failure_text<tsdb::error_internal>([&] { cursor.read(through.data(), 3072, 1); }),
              "Read beyond end of lblock");
}

TEST_F(Catalogue, CursorReadsALevelInSmallPieces) {
    const uint32_t l = ring_level();
    const std::vector<uint8_t> bytes = pattern(3000, 9);
    ASSERT_TRUE(db.write_to_lblock(l, std::span(bytes).first(3000)));
    const tsdb::lblock_entry_t level = db.chain(ChainKind::lblock).lblock_entry(l);
    tsdb::LblockCursor cursor(db.store(), level);
    std::vector<uint8_t> back(3000);
    uint32_t position = 0;
    for (size_t at = 0; at < back.size(); at += 20) {
        position = cursor.read(back.data() + at, position, 20);
    }
    EXPECT_EQ(back, bytes);
}
