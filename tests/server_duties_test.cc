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
    int64_t now = 1'700'000'000;
    tsdb::Engine engine(open_on(disk, {}, [&now] { return now; }));
    EXPECT_EQ(engine.last_phase_shift_attempt(), now);  // the shift at open
    const uint32_t id = engine.create_series({tsdb::type_continuous, {{100, 60}}});
    // Eight recent records make the buffer flush all but the newest, which
    // may still take samples.
    for (uint32_t i = 0; i < 8; ++i) {
        engine.put<tsdb::type_continuous>(id, minute(static_cast<uint32_t>(now) + 60 * i));
    }
    server::TimedDuties duties(engine);
    const uint64_t shifts = phase_shifts();

    now += 30;
    duties.run();
    EXPECT_EQ(phase_shifts(), shifts);
    EXPECT_EQ(durable_records(disk, id), 0u);

    now += 1;
    duties.run();
    EXPECT_EQ(phase_shifts(), shifts + 1);
    EXPECT_EQ(durable_records(disk, id), 7u);
    EXPECT_EQ(engine.last_phase_shift_attempt(), now);
}

TEST(TimedDuties, TheAgeFlushRunsAtOnceAndThenAtMostOncePerSecond) {
    SimDisk disk = formatted_disk(small_database(512));
    // Times far below the phase shift at open: only the age flush can act.
    int64_t now = 1005;
    tsdb::Engine engine(open_on(disk, {}, [&now] { return now; }));
    engine.configure({32, 8, 10, 8});
    const uint32_t id = engine.create_series({tsdb::type_continuous, {{100, 60}}});
    const auto on_disk = [&] { return engine.stored_levels(id).at(0).records; };
    server::TimedDuties duties(engine);
    duties.run();  // the first pass runs at once, with nothing buffered
    engine.put<tsdb::type_continuous>(id, minute(900));
    duties.run();  // the same second: no second pass, though the record is 105 s old
    EXPECT_EQ(on_disk(), 0u);
    now = 1006;
    duties.run();
    EXPECT_EQ(on_disk(), 1u);
    engine.put<tsdb::type_continuous>(id, minute(1000));
    now = 1007;
    duties.run();  // 7 s old: it waits for more samples
    EXPECT_EQ(on_disk(), 1u);
    now = 1011;
    duties.run();
    EXPECT_EQ(on_disk(), 2u);
    EXPECT_EQ(engine.get<tsdb::type_continuous>(id, 0, INT64_MAX).size(), 2u);
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
            engine.put<tsdb::type_continuous>(id, {t, 10, 1, 0, 2, 2, 2});
        }
    }
    engine.flush_all();
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
    engine.put<tsdb::type_enum>(id, {6000, 10, 1, 0, 4});
    engine.flush_all();
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
