#include <gtest/gtest.h>

#include <vector>

#include "log/log.h"
#include "log/storage_log.h"
#include "tests/support/metrics.h"
#include "tests/support/sim_database.h"

using namespace testing_support;
using tsdb::ChainKind;

namespace {

uint64_t phase_shift_count() { return counter("low", "phase_shifts"); }

}  // namespace

TEST(PhaseShift, NothingDirtyWritesNothing) {
    SimDisk disk = formatted_disk();
    tsdb::Database db = open_on(disk);
    const uint64_t shifts = phase_shift_count();
    const int64_t writes = disk.writes();
    const int64_t syncs = disk.syncs();

    struct : logging::Sink {
        void send(const std::string& line, int32_t) override { last = line; }
        std::string last;
    } log;
    logging::set_sink(&log);
    logging::set_storage_verbosity(14);
    db.phase_shift_all();
    logging::set_storage_verbosity(12);
    logging::set_sink(nullptr);

    EXPECT_EQ(log.last, "Phase shift of all chains avoided");
    EXPECT_EQ(disk.writes(), writes);
    EXPECT_EQ(disk.syncs(), syncs);
    EXPECT_EQ(phase_shift_count(), shifts);
    EXPECT_GT(db.last_phase_shift_attempt(), 1790000000);
}

TEST(PhaseShift, OnlyTheDirtyKindIsWrittenCommittedAndShifted) {
    SimDisk disk = formatted_disk();
    tsdb::Database db = open_on(disk);
    const uint32_t head = db.copy_in_use(ChainKind::head);
    const uint32_t check = db.copy_in_use(ChainKind::check);
    const uint64_t generation = db.header().generation(ChainKind::check, check);
    const uint64_t shifts = phase_shift_count();
    const int64_t writes = disk.writes();
    const int64_t syncs = disk.syncs();

    db.chain(ChainKind::check).set_check_entry(5, {2, 1});
    db.phase_shift_all();

    EXPECT_EQ(disk.writes() - writes, 2);  // the Check run, then block 0
    EXPECT_EQ(disk.syncs() - syncs, 2);
    EXPECT_EQ(db.copy_in_use(ChainKind::check), (check + 1) % 3);
    EXPECT_EQ(db.copy_in_use(ChainKind::head), head);
    EXPECT_EQ(db.header().generation(ChainKind::check, check), generation + 1);
    EXPECT_TRUE(db.header().checksum_matches(ChainKind::check, check));
    // The next copy carries the generation it was shifted from, unchecked.
    EXPECT_EQ(db.header().generation(ChainKind::check, (check + 1) % 3), generation + 1);
    EXPECT_EQ(db.chain(ChainKind::check).check_entry(5), (tsdb::check_entry_t{2, 1}));
    EXPECT_EQ(phase_shift_count(), shifts + 1);
}

TEST(PhaseShift, RotationAndTheCommittedHeadCopy) {
    SimDisk disk = formatted_disk(small_database(256, 1024, 2));
    tsdb::Database db = open_on(disk);
    const uint32_t start = db.copy_in_use(ChainKind::head);
    for (int round = 0; round < 2; ++round) {
        const uint32_t before = db.copy_in_use(ChainKind::head);
        db.chain(ChainKind::head).set_position(3, 100 + static_cast<uint32_t>(round));
        db.phase_shift_all();
        EXPECT_EQ(db.copies(ChainKind::head)[before].position(3),
                  100u + static_cast<uint32_t>(round));
        EXPECT_EQ(db.committed_head(3), 100u + static_cast<uint32_t>(round));
        EXPECT_NE(db.copy_in_use(ChainKind::head), before);
        // A head moved since is not committed until the next shift.
        db.chain(ChainKind::head).set_position(3, 999);
        EXPECT_EQ(db.committed_head(3), 100u + static_cast<uint32_t>(round));
    }
    EXPECT_EQ(db.copy_in_use(ChainKind::head), start);
}

TEST(PhaseShift, ShiftingIntoASmallerCopyGrowsItFirst) {
    SimDisk disk = formatted_disk();
    tsdb::Database db = open_on(disk);
    const uint32_t per_block = db.chain(ChainKind::check).entries_per_block();
    // Fill the Check chain so that the next series grows it.
    for (uint32_t id = 0; id < per_block; ++id) {
        db.chain(ChainKind::check).set_check_entry(id, {1, 1});
    }
    const uint32_t id = db.allocate_check_id(2, 1);
    EXPECT_EQ(id, per_block);
    const tsdb::PointerChain& now = db.chain(ChainKind::check);
    EXPECT_EQ(now.capacity(), 2 * per_block);
    EXPECT_EQ(now.check_entry(id), (tsdb::check_entry_t{2, 1}));

    // The grown chain survives a reopen: its new run is on disk and committed.
    SimDisk reopened(disk.durable());
    tsdb::Database again = tsdb::Database::inspect(store_on(reopened));
    EXPECT_EQ(again.chain(ChainKind::check).capacity(), 2 * per_block);
    EXPECT_EQ(again.chain(ChainKind::check).check_entry(id), (tsdb::check_entry_t{2, 1}));
}

TEST(PhaseShift, ACommitWritesOnlyTheBlocksThatAreOutOfDateInThatCopy) {
    SimDisk disk = formatted_disk(small_database(3000));
    tsdb::Database db = open_on(disk);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 1000; ++i) {  // Head and Tail chains of several blocks
        ids.push_back(db.allocate_described_ts({2, {{5, 60}}}));
    }
    for (uint32_t copy = 0; copy < 3; ++copy) {  // every copy up to date
        db.phase_shift_all();
    }
    ASSERT_GT(db.chain(ChainKind::tail).capacity(),
              3 * db.chain(ChainKind::tail).entries_per_block());

    const uint32_t last_level = db.chain(ChainKind::check).check_entry(ids.back()).first_lblock;
    const std::vector<uint8_t> record(20, 7);
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(db.write_to_lblock(last_level, record));
        const int64_t written = disk.bytes_written();
        db.phase_shift_all();
        // One Tail block and the header, however long the chains.
        EXPECT_EQ(disk.bytes_written() - written, 2 * 1024) << "round " << round;
    }
    SimDisk after(disk.durable());
    tsdb::Database reopened = open_on(after);
    EXPECT_EQ(reopened.chain(ChainKind::tail).position(last_level), 6 * 20u);
}
