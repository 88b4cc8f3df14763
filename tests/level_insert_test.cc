#include "tsdb/level_insert.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/file/consistency_check.h"

using namespace tsdb;
using namespace testing_support;

namespace {

class LevelInsert : public ::testing::Test {
protected:
    uint32_t create(const time_series_layout_t& layout) { return db.allocate_described_ts(layout); }
    std::vector<uint32_t> levels(uint32_t id) {
        std::vector<uint32_t> list;
        for (uint32_t l = db.chain(ChainKind::check).check_entry(id).first_lblock; l != 0;
             l = db.chain(ChainKind::lblock).lblock_entry(l).next) {
            list.push_back(l);
        }
        return list;
    }
    // Every record of a level, oldest first.
    template <typename Record>
    std::vector<Record> contents(uint32_t lblock) {
        const lblock_entry_t e = db.chain(ChainKind::lblock).lblock_entry(lblock);
        LblockCursor cursor(db.store(), e);
        const uint32_t size = e.dblocks * db.block_size();
        const uint32_t tail = db.chain(ChainKind::tail).position(lblock);
        std::vector<Record> records;
        for (uint32_t p = db.chain(ChainKind::head).position(lblock); p != tail;) {
            records.emplace_back();
            p = read_record(cursor, p, (tail + size - p) % size, records.back());
        }
        return records;
    }
    // Inserts as a flush that must succeed does: a phase shift after every refusal.
    template <uint32_t Type>
    void insert_surely(uint32_t id, const record_t<Type>& r) {
        while (!insert_into_series<Type>(db, id, r)) {
            db.phase_shift_all();
        }
    }
    static continuous_record_t sample(uint32_t t, float v) { return {t, 60, 1, 0, v, v, v}; }

    SimDisk disk = formatted_disk(small_database(600));
    Database db = open_on(disk);
};

}  // namespace

TEST_F(LevelInsert, FullLevelsFoldIntoEntriesBelowTheNextResolution) {
    // 146 records of 60 s fill 4 dblocks; the next level holds 300-second entries.
    const uint32_t id = create({1, {{146, 60}, {400, 300}}});
    const std::vector<uint32_t> l = levels(id);
    uint64_t good = 0;
    for (uint32_t i = 0; i < 1000; ++i) {
        insert_surely<1>(id, sample(i * 60, static_cast<float>(i % 7)));
        good += 1;
    }
    const auto fine = contents<continuous_record_t>(l[0]);
    const auto coarse = contents<continuous_record_t>(l[1]);
    ASSERT_FALSE(coarse.empty());
    uint64_t counted = 0;
    uint32_t expected_start = 0;
    for (const continuous_record_t& entry : coarse) {
        EXPECT_EQ(entry.timestart, expected_start);
        EXPECT_EQ(entry.duration, 240u);
        EXPECT_EQ(entry.ngood, 4u);
        EXPECT_LE(entry.min, entry.avg);
        EXPECT_LE(entry.avg, entry.max);
        expected_start += 240;
        counted += entry.ngood;
    }
    EXPECT_EQ(fine.front().timestart, expected_start);  // nothing lost between the levels
    EXPECT_EQ(counted + fine.size(), good);
    EXPECT_EQ(fine.back().timestart, 999u * 60);
    EXPECT_TRUE(find_problems(db).empty());
}

TEST_F(LevelInsert, CoarsestLevelDropsItsOldestUntilFivePercentIsFree) {
    const uint32_t id = create({1, {{146, 60}}});
    uint32_t t = 0;
    while (insert_into_series<1>(db, id, sample(t, 1))) {
        t += 60;
    }
    EXPECT_EQ(t / 60, 146u);  // the refused record was the 147th
    const auto left = contents<continuous_record_t>(levels(id)[0]);
    EXPECT_EQ(left.front().timestart, 8u * 60);                 // 8 records free 224 of 4096 bytes
    EXPECT_FALSE(insert_into_series<1>(db, id, sample(t, 1)));  // room is not free before the shift
    db.phase_shift_all();
    EXPECT_TRUE(insert_into_series<1>(db, id, sample(t, 1)));
}

TEST_F(LevelInsert, MonotonicEntriesNeverHoldAFall) {
    const uint32_t id = create({3, {{36, 60}, {36, 3600}}});
    const std::vector<uint32_t> l = levels(id);
    uint32_t t = 0;
    // A flat counter has not fallen: 10, 10 and 40 make one entry.
    for (float v : {10.0f, 10.0f, 40.0f, 5.0f, 15.0f}) {
        ASSERT_TRUE(insert_into_series<3>(db, id, sample(t, v)));
        t += 60;
    }
    ASSERT_TRUE(aggregate_level<3>(db, l[0]));
    auto coarse = contents<continuous_record_t>(l[1]);
    ASSERT_EQ(coarse.size(), 1u);
    EXPECT_EQ(coarse[0], (continuous_record_t{0, 180, 3, 0, 10, 40, 20}));
    ASSERT_TRUE(aggregate_level<3>(db, l[0]));
    coarse = contents<continuous_record_t>(l[1]);
    ASSERT_EQ(coarse.size(), 2u);
    EXPECT_EQ(coarse[1], (continuous_record_t{180, 120, 2, 0, 5, 15, 10}));
}

TEST_F(LevelInsert, BrokenStoredRecordsAreSkipped) {
    const uint32_t id = create({1, {{36, 60}, {36, 3600}}});
    const std::vector<uint32_t> l = levels(id);
    ASSERT_TRUE(insert_into_series<1>(db, id, sample(0, 1)));
    uint8_t broken[28] = {0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 1, 0};  // its span passes the largest time
    ASSERT_TRUE(db.write_to_lblock(l[0], broken));
    ASSERT_TRUE(insert_into_series<1>(db, id, sample(60, 3)));
    testing_support::LogCapture log;
    drain_first_level<1>(db, id);
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        "Aggregation caused invalid record - ignoring last record. lblock=" +
                            std::to_string(l[0]) + " time_goal=3600"),
              log.lines.end());
    // Its span ends one entry; alone it is dropped; the next record starts another.
    const auto coarse = contents<continuous_record_t>(l[1]);
    ASSERT_EQ(coarse.size(), 2u);
    EXPECT_EQ(coarse[0], sample(0, 1));
    EXPECT_EQ(coarse[1], sample(60, 3));
    EXPECT_TRUE(contents<continuous_record_t>(l[0]).empty());
}

TEST_F(LevelInsert, EnumAndIncidentEntries) {
    const uint32_t states = create({2, {{51, 60}, {51, 300}}});
    for (uint32_t i = 0; i < 60; ++i) {
        insert_surely<2>(states, enum_record_t{i * 60, 60, 1, i % 2, 1u << (i % 5)});
    }
    const auto entries = contents<enum_record_t>(levels(states)[1]);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0], (enum_record_t{0, 240, 4, 2, 0x0F}));

    // An aggregated incident is the first of its window; the rest of the window goes.
    const uint32_t incidents = create({4, {{1024, 60}, {1024, 3600}}});
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(insert_into_series<4>(
            db, incidents, incident_record_t{i * 60, 60, i, "event " + std::to_string(i)}));
    }
    ASSERT_TRUE(aggregate_level<4>(db, levels(incidents)[0]));
    const auto kept = contents<incident_record_t>(levels(incidents)[1]);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], (incident_record_t{0, 60, 0, "event 0"}));
    EXPECT_TRUE(contents<incident_record_t>(levels(incidents)[0]).empty());
}

TEST_F(LevelInsert, RefusalsByTypeAndSize) {
    const uint32_t id = create({2, {{51, 60}}});
    EXPECT_EQ(failure_text<error_dbtype>([&] { insert_into_series<1>(db, id, sample(0, 1)); }),
              "Type mismatch - trying to insert type 1 in a type 2 level (id: " +
                  std::to_string(id) + ")");
    EXPECT_TRUE(contents<enum_record_t>(levels(id)[0]).empty());

    const uint32_t small = create({4, {{1000, 60}}});
    testing_support::LogCapture log;
    EXPECT_TRUE(guarded_insert<4>(db, small, incident_record_t{0, 60, 1, std::string(1100, 'x')}));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0],
              "Insert to id " + std::to_string(small) +
                  " failed with: \"Unable to write 1116 bytes to level of 1024 bytes\"");
    EXPECT_DEATH(insert_into_level<2>(db, levels(id)[0], enum_record_t{}),
                 "Assertion failed: aggregate_level_insert got invalid data for lblock");
}

TEST_F(LevelInsert, AnAggregateTooLargeForTheNextLevelIsDroppedAndTheLevelGoesOn) {
    LogCapture log;
    // The first window's aggregate is the 5016-byte incident: no 4096-byte level takes it.
    const uint32_t id = create({4, {{8192, 1}, {4096, 60}}});
    const std::vector<uint32_t> l = levels(id);
    insert_surely<4>(id, {1000, 1, 2, std::string(5000, 'x')});
    for (uint32_t t = 1001; t < 1400; ++t) {
        insert_surely<4>(id, {t, 1, 1, "later"});
    }
    EXPECT_TRUE(log.has("Aggregated record of 5016 bytes does not fit level " +
                        std::to_string(l[1]) + " of 4096 bytes - dropped"));
    const auto finest = contents<incident_record_t>(l[0]);
    ASSERT_FALSE(finest.empty());
    EXPECT_EQ(finest.back().timestart, 1399u);

    // Emptying such a level into the next (the start-up upgrade) ends too.
    drain_first_level<4>(db, id);
    EXPECT_TRUE(contents<incident_record_t>(l[0]).empty());
    EXPECT_TRUE(find_problems(db).empty());
}
