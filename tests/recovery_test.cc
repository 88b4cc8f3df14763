#include "tsdb/recovery.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_database.h"
#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/file/crc2x32.h"
#include "tsdb/level_insert.h"
#include "tsdb/patch.h"
#include "tsdb/write_buffer.h"
#include "util/bytes.h"

using namespace tsdb;
using namespace testing_support;

namespace {

class Recovery : public ::testing::Test {
protected:
    uint32_t series() { return db.allocate_described_ts(layout); }
    void fill(uint32_t id, uint32_t count, uint32_t step = 60) {
        for (uint32_t i = 0; i < count; ++i) {
            while (!insert_into_series<1>(db, id, sample(i * step, static_cast<float>(i % 9)))) {
                db.phase_shift_all();
            }
        }
    }
    std::vector<uint8_t> checksum(uint32_t id) {
        security::Crc2x32 crc;
        crc.reset();
        recovery_checksum<1>(db, buffer, id, crc);
        std::vector<uint8_t> digest(8);
        crc.write_digest(digest.data());
        return digest;
    }
    std::vector<continuous_record_t> all(uint32_t id) {
        return get_data<1>(db, buffer, id, 0, 1ll << 33);
    }
    static continuous_record_t sample(uint32_t t, float v, uint32_t good = 1, uint32_t bad = 0,
                                      uint32_t length = 60) {
        return {t, length, good, bad, v, v, v};
    }
    static std::string patch_of(const std::vector<continuous_record_t>& records) {
        std::string patch = tsdb::empty_patch(type_continuous);
        for (const auto& r : records) {
            tsdb::append_record(patch, r);
        }
        return patch;
    }

    const time_series_layout_t layout{1, {{36, 60}, {36, 300}}};
    SimDisk disk = formatted_disk(small_database(600));
    Database db = open_on(disk);
    WriteBuffer buffer{db};
};

}  // namespace

TEST_F(Recovery, ExtractThenMergeReproducesTheSeriesAndItsChecksum) {
    const uint32_t source = series();
    fill(source, 150);  // both levels in use, with aggregated entries
    const std::string patch = recovery_extract<1>(db, buffer, source);
    security::Crc2x32 over_patch;
    over_patch.reset();
    over_patch.update(patch.data(), patch.size());
    std::vector<uint8_t> digest(8);
    over_patch.write_digest(digest.data());
    EXPECT_EQ(checksum(source), digest);

    // The copy lays the same records out level by level from the newest.
    const uint32_t copy = series();
    recovery_merge<1>(db, buffer, copy, {patch});
    EXPECT_EQ(all(copy), all(source));
    const uint32_t again = series();
    recovery_merge<1>(db, buffer, again, {recovery_extract<1>(db, buffer, copy)});
    EXPECT_EQ(checksum(again), checksum(copy));
    const uint32_t twice = series();
    recovery_merge<1>(db, buffer, twice, {patch, patch});  // identical patches add nothing
    EXPECT_EQ(checksum(twice), checksum(copy));
    EXPECT_EQ(db.fetch_ts_description(copy), db.fetch_ts_description(source));
}

TEST_F(Recovery, BetterRecordsWinWhereRecordsOverlap) {
    const uint32_t id = series();
    const std::string a = patch_of({sample(0, 5, 1, 1), sample(600, 1), sample(700, 1, 0, 0)});
    const std::string b = patch_of({sample(30, 2, 2, 0), sample(690, 1)});
    recovery_merge<1>(db, buffer, id, {a, b});
    const auto merged = all(id);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0], sample(30, 2, 2, 0));  // more good samples, lower average
    EXPECT_EQ(merged[1], sample(600, 1));
    EXPECT_EQ(merged[2], sample(690, 1));  // a record without samples loses to one with
}

TEST_F(Recovery, BadPatchesChangeNothingAndEmptyOnesEmptyTheSeries) {
    const uint32_t id = series();
    fill(id, 10);
    const auto before = all(id);
    EXPECT_EQ(failure_text<error_range>([&] { recovery_merge<1>(db, buffer, id, {"abc"}); }),
              "Invalid patch (too short)");
    std::string enum_patch(4, '\0');
    enum_patch[3] = 2;
    EXPECT_EQ(failure_text<error_range>([&] { recovery_merge<1>(db, buffer, id, {enum_patch}); }),
              "Patch of wrong type");
    std::string cut = patch_of({sample(0, 1)});
    cut.pop_back();
    EXPECT_EQ(failure_text<error_range>([&] { recovery_merge<1>(db, buffer, id, {cut}); }),
              "Invalid patch (record cut off at byte 4)");
    EXPECT_EQ(all(id), before);

    std::string broken = patch_of({sample(0, 1), sample(60, 1)});
    util::store_be32(util::bytes_of(broken) + 32, 0xFFFFFFF0);  // span wraps
    util::store_be32(util::bytes_of(broken) + 36, 0x100);
    testing_support::LogCapture log;
    recovery_merge<1>(db, buffer, id, {patch_of({}), broken});
    EXPECT_EQ(all(id), (std::vector<continuous_record_t>{sample(0, 1)}));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Encountered invalid record in TSDB check id " +
                                        std::to_string(id) + " during recovery - ignoring..."}));
    recovery_merge<1>(db, buffer, id, {});
    EXPECT_TRUE(all(id).empty());
    EXPECT_EQ(db.fetch_ts_description(id).levels.size(), 2u);
}

TEST_F(Recovery, EntrySeriesFlushKeepsTheNewest) {
    const uint32_t id = series();
    std::vector<continuous_record_t> newest_first;
    for (uint32_t i = 2000; i-- > 0;) {
        newest_first.push_back(sample(i * 60, 1));
    }
    testing_support::LogCapture log;
    recovery_merge<1>(db, buffer, id, {patch_of({newest_first.rbegin(), newest_first.rend()})});
    const auto kept = all(id);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), sample(1999 * 60, 1));
    EXPECT_EQ(kept.front().duration, 240u);  // merged to the coarse level's resolution
    ASSERT_FALSE(log.lines.empty());
    EXPECT_TRUE(log.lines.back().starts_with("Discarding ")) << log.lines.back();
}

TEST_F(Recovery, MergeWriterFoldsNewRecordsIntoTheStoredOnes) {
    const uint32_t id = series();
    for (uint32_t t : {0u, 120u, 240u}) {
        ASSERT_TRUE(insert_into_series<1>(db, id, sample(t, 1)));
    }
    recovery_merge_records<1>(db, buffer, id,
                              {sample(60, 2), sample(150, 3, 1, 0, 30), sample(600, 4)});
    const auto merged = all(id);
    ASSERT_EQ(merged.size(), 5u);
    EXPECT_EQ(merged[1], sample(60, 2));
    EXPECT_EQ(merged[2], (continuous_record_t{120, 60, 2, 0, 1, 3, 2}));
    EXPECT_EQ(merged[4], sample(600, 4));
    EXPECT_EQ(failure_text<error_range>(
                  [&] { recovery_merge_records<1>(db, buffer, id, {continuous_record_t{}}); }),
              "Trying to insert invalid record");
}

TEST_F(Recovery, RebuildsAndMergesWorkWhenTheirFreshLevelsLieBeyondTheCommittedHeads) {
    // Fresh level numbers beyond the committed Head copy's 252 entries have no
    // committed head yet: they are empty, not an error.
    const uint32_t id = series();
    fill(id, 100);
    for (int i = 0; i < 250; ++i) {
        db.allocate_level(1, 60, 0);
    }
    const uint32_t capacity = db.copies(ChainKind::head)[0].capacity();
    ASSERT_EQ(capacity, 252u);
    const auto samples = [&] {
        uint64_t n = 0;
        for (const continuous_record_t& r : all(id)) {
            n += r.ngood;
        }
        return n;
    };
    recovery_merge_records<1>(db, buffer, id, {sample(100 * 60, 1)});
    EXPECT_GE(db.chain(ChainKind::check).check_entry(id).first_lblock, capacity);
    EXPECT_EQ(samples(), 101u);
    recovery_merge<1>(db, buffer, id, {recovery_extract<1>(db, buffer, id)});
    EXPECT_EQ(samples(), 101u);
}

TEST_F(Recovery, RequestsThatRemoveRecordsForgetTheNewestRecordKnown) {
    const uint32_t id = series();
    buffer.insert<1>(id, sample(600, 1));
    buffer.insert<1>(id, sample(660, 2));
    EXPECT_EQ(buffer.extract_newest<1>(id).timestart, 660u);
    truncate_old_data<1>(db, buffer, id, 660);
    EXPECT_THROW(buffer.extract_newest<1>(id), error_empty);

    buffer.insert<1>(id, sample(720, 3));
    EXPECT_EQ(buffer.extract_newest<1>(id).timestart, 720u);
    recovery_merge_records<1>(db, buffer, id, {});
    EXPECT_EQ(buffer.extract_newest<1>(id).timestart, 720u);
    recovery_merge<1>(db, buffer, id, {patch_of({sample(60, 5)})});
    EXPECT_EQ(buffer.extract_newest<1>(id).timestart, 60u);
}

TEST_F(Recovery, ARelayoutFoldsIntoTheNewLevelsAndDropsOnlyWhatTheyCannotHold) {
    const uint32_t id = series();
    fill(id, 60);
    const auto total_good = [](const std::vector<continuous_record_t>& records) {
        uint64_t n = 0;
        for (const auto& r : records) {
            n += r.ngood;
        }
        return n;
    };
    // Room for every sample: a block of minutes, then 10-minute records.
    recovery_relayout<1>(db, buffer, id, {{20, 60}, {20, 600}});
    EXPECT_EQ(db.fetch_ts_description(id).levels, (std::vector<level_t>{{36, 60}, {36, 600}}));
    std::vector<continuous_record_t> moved = all(id);
    EXPECT_EQ(total_good(moved), 60u);
    EXPECT_EQ(moved.front().timestart, 0u);
    EXPECT_EQ(moved.back().timestart, 59u * 60);
    EXPECT_LT(moved.size(), 60u);  // some folded
    // A single level of a block keeps only the newest minutes it can hold.
    recovery_relayout<1>(db, buffer, id, {{1, 60}});
    moved = all(id);
    // (and the 10-minute records it is given stay whole): the newest samples,
    // without a hole.
    ASSERT_LE(moved.size(), 36u);
    EXPECT_EQ(moved.back().timestart, 59u * 60);
    EXPECT_EQ(moved.front().timestart, (60u - total_good(moved)) * 60);
    EXPECT_THROW(recovery_relayout<1>(db, buffer, id, {{0, 60}}), error_generic);
    EXPECT_EQ(all(id), moved);
}
