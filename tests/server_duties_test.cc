// What the process does besides answering requests: the timed duties of its
// main loop (with the clock given by the test), the start-up conversion of
// old buffer levels, and the statistics report.
#include <gtest/gtest.h>

#include "server/statistics.h"
#include "server/timed_duties.h"
#include "server/upgrade.h"
#include "tests/support/log_capture.h"
#include "tests/support/metrics.h"
#include "tests/support/sim_database.h"
#include "tsdb/level_insert.h"

using namespace testing_support;
using tsdb::continuous_record_t;

namespace {

continuous_record_t minute(uint32_t t, float v = 1) { return {t, 60, 1, 0, v, v, v}; }

// The records of the series that a crash right now would leave.
size_t durable_records(const SimDisk& disk, uint32_t id) {
    SimDisk after_crash(disk.durable());
    tsdb::Engine engine(open_on(after_crash));
    return engine.get<tsdb::type_continuous>(id, 0, INT64_MAX).size();
}

uint64_t phase_shifts() { return counter("low", "phase_shifts"); }

}  // namespace

TEST(TimedDuties, ThePhaseShiftWaitsMoreThanThirtySecondsAndMakesWritesDurable) {
    SimDisk disk = formatted_disk(small_database(512));
    tsdb::Engine engine(open_on(disk));
    const uint32_t id = engine.create_series({tsdb::type_continuous, {{100, 60}}});
    // Eight recent records make the buffer flush all but the newest, which
    // may still take samples.
    const auto t0 = static_cast<uint32_t>(engine.database().last_phase_shift_attempt());
    for (uint32_t i = 0; i < 8; ++i) {
        engine.put<tsdb::type_continuous>(id, minute(t0 + 60 * i));
    }
    server::TimedDuties duties(engine);
    const int64_t last = engine.database().last_phase_shift_attempt();
    const uint64_t shifts = phase_shifts();

    duties.run(last + 30);
    EXPECT_EQ(phase_shifts(), shifts);
    EXPECT_EQ(durable_records(disk, id), 0u);

    duties.run(last + 31);
    EXPECT_EQ(phase_shifts(), shifts + 1);
    EXPECT_EQ(durable_records(disk, id), 7u);
}

TEST(TimedDuties, TheAgeFlushRunsAtOnceAndThenAtMostOncePerSecond) {
    SimDisk disk = formatted_disk(small_database(512));
    tsdb::Engine engine(open_on(disk));
    engine.configure({32, 8, 10, 8});
    const uint32_t id = engine.create_series({tsdb::type_continuous, {{100, 60}}});
    server::TimedDuties duties(engine);
    // Times far below the last phase shift: only the age flush can act.
    engine.put<tsdb::type_continuous>(id, minute(1000));
    const uint64_t age_flushes = counter("entrycache", "buffer_age_flush");
    duties.run(1005);  // the first pass flushes at once, but nothing is 10 s old
    EXPECT_EQ(counter("entrycache", "buffer_age_flush"), age_flushes);
    duties.run(1005);
    engine.put<tsdb::type_continuous>(id, minute(1065));
    duties.run(1071);  // the oldest is 71 s old: all but the newest, 6 s old, go to the level
    EXPECT_EQ(counter("entrycache", "buffer_age_flush"), age_flushes + 1);
    EXPECT_EQ(
        engine.database()
            .chain(tsdb::ChainKind::tail)
            .position(engine.database().chain(tsdb::ChainKind::check).check_entry(id).first_lblock),
        continuous_record_t::size);
    engine.put<tsdb::type_continuous>(id, minute(1120));
    duties.run(1071);  // the same second: no second pass
    EXPECT_EQ(counter("entrycache", "buffer_age_flush"), age_flushes + 1);
}

TEST(BufferLevelUpgrade, OldBufferLevelsAreEmptiedIntoTheNextLevelOrDiscarded) {
    SimDisk disk = formatted_disk(small_database(512));
    tsdb::Engine engine(open_on(disk));
    const tsdb::time_series_layout_t old_shape{tsdb::type_continuous, {{100, 1}, {100, 60}}};
    const uint32_t kept = engine.create_series(old_shape);
    const uint32_t dropped = engine.create_series(old_shape);
    const uint32_t single = engine.create_series({tsdb::type_continuous, {{100, 1}}});
    for (uint32_t id : {kept, dropped, single}) {
        for (uint32_t t = 6000; t < 6000 + 120; t += 10) {
            ASSERT_TRUE(tsdb::insert_into_series<tsdb::type_continuous>(engine.database(), id,
                                                                        {t, 10, 1, 0, 2, 2, 2}));
        }
    }
    {
        LogCapture log;
        server::upgrade_buffer_levels(engine, false);
        EXPECT_TRUE(log.has("TSDB check id " + std::to_string(kept) +
                            " has a pre-3.2.1 buffer-level. Will fix."));
        EXPECT_EQ(log.lines.front(), "Checking for pre 3.2.1 buffer-levels...");
        EXPECT_EQ(log.lines.back(), "Done checking for pre 3.2.1 buffer-levels.");
    }
    EXPECT_EQ(engine.describe_series(kept).levels.size(), 1u);
    EXPECT_EQ(engine.describe_series(kept).levels[0].resolution, 60u);
    const auto moved = engine.get<tsdb::type_continuous>(kept, 0, INT64_MAX);
    uint32_t samples = 0;
    for (const auto& r : moved) {
        samples += r.ngood;
    }
    EXPECT_EQ(samples, 12u);
    EXPECT_EQ(engine.get<tsdb::type_continuous>(single, 0, INT64_MAX).size(), 12u);
    EXPECT_EQ(engine.describe_series(single).levels.size(), 1u);

    // A second start finds nothing to do and shifts nothing.
    LogCapture log;
    const uint64_t shifts = phase_shifts();
    server::upgrade_buffer_levels(engine, true);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Checking for pre 3.2.1 buffer-levels...",
                                                   "Done checking for pre 3.2.1 buffer-levels."}));
    EXPECT_EQ(phase_shifts(), shifts);
}

TEST(BufferLevelUpgrade, DiscardingDropsTheBufferedRecords) {
    SimDisk disk = formatted_disk(small_database(512));
    tsdb::Engine engine(open_on(disk));
    const uint32_t id = engine.create_series({tsdb::type_enum, {{100, 1}, {100, 60}}});
    ASSERT_TRUE(
        tsdb::insert_into_series<tsdb::type_enum>(engine.database(), id, {6000, 10, 1, 0, 4}));
    LogCapture log;
    server::upgrade_buffer_levels(engine, true);
    EXPECT_TRUE(log.has("Discarding buffer-level data (tsdb_upgrade_discard_bufferlevels)"));
    EXPECT_EQ(engine.get<tsdb::type_enum>(id, 0, INT64_MAX).size(), 0u);
    EXPECT_EQ(engine.describe_series(id),
              (tsdb::time_series_layout_t{tsdb::type_enum, {{102, 60}}}));
}

TEST(StatisticsReport, ReportsEveryHundredSecondsInNameOrder) {
    server::StatisticsReport report;
    server::statistics_table table;
    LogCapture log;
    report.run(table, 1000);
    report.run(table, 1050);
    EXPECT_TRUE(log.lines.empty());

    table["b"] = {2, 6, 20, 2, 4};  // values 2 and 4
    table["a"] = {0, 0, 0, 0, 0};
    report.run(table, 1099);  // the empty report at 1000 moved the timer
    EXPECT_TRUE(log.lines.empty());
    report.run(table, 1100);
    const std::string rule(58, '-');
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "Backend statistics: ", rule,
                  "a: (avg: 0.000000) (min: 0.000000) (max: 0.000000) (dev: 0.000000) (calls: 0)",
                  "b: (avg: 3.000000) (min: 2.000000) (max: 4.000000) (dev: 1.000000) (calls: 2)",
                  rule}));
}
