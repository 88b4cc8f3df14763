#include "server/data_intervals.h"

#include <gtest/gtest.h>

#include <cmath>

#include "error/anomaly.h"
#include "tests/support/sim_database.h"

using namespace server;
using tsdb::continuous_record_t;

namespace {

const tsdb::data_interval_continuous_t& continuous(const tsdb::interval_list& l, size_t i) {
    return dynamic_cast<const tsdb::data_interval_continuous_t&>(*l.items.at(i));
}

std::vector<continuous_record_t> every_30s(uint32_t n, float v = 1) {
    std::vector<continuous_record_t> records;
    for (uint32_t i = 0; i < n; ++i) {
        const auto f = static_cast<float>(i);
        records.push_back({i * 30, 30, 1, 0, v, v + f, v + f / 2});
    }
    return records;
}

}  // namespace

TEST(DataIntervals, ValuesGroupByWidthAndSkipOverlaps) {
    std::vector<continuous_record_t> records = every_30s(7);
    records.insert(records.begin() + 1, continuous_record_t{0, 30, 5, 0, 9, 9, 9});  // same start
    const auto l = continuous_intervals(data_float, records, {false, 0, 5000, 0, 0});
    ASSERT_EQ(l.size(), 3u);  // W = 100: a fourth record would end 120 s after the start
    EXPECT_EQ(continuous(l, 0).start, 0);
    EXPECT_EQ(continuous(l, 0).end, 90);
    EXPECT_EQ(continuous(l, 0).ngood, 3u);
    EXPECT_FLOAT_EQ(continuous(l, 0).max, 3);
    EXPECT_FLOAT_EQ(continuous(l, 0).avg, 1.5f);  // (1 + 1.5 + 2) / 3
    EXPECT_EQ(continuous(l, 1).start, 90);
    EXPECT_EQ(continuous(l, 2).end, 210);

    const auto raw = continuous_intervals(data_float, records, {true, 0, 0, 0, 0});
    EXPECT_EQ(raw.size(), 7u);
    EXPECT_EQ(continuous(raw, 0).ngood, 1u) << "the overlapping record is skipped raw too";
}

TEST(DataIntervals, EmptyRecordsReadAsMinusOneUnlessTheTypeMergesThemAnyway) {
    const std::vector<continuous_record_t> failed{{0, 60, 0, 4, 2, 5, 3}};
    const auto value = continuous_intervals(data_float, failed, {false, 0, 60, 1, 0});
    EXPECT_FLOAT_EQ(continuous(value, 0).min, -1);
    EXPECT_FLOAT_EQ(continuous(value, 0).avg, -1);
    EXPECT_FLOAT_EQ(continuous(value, 0).max, -1);
    EXPECT_EQ(continuous(value, 0).nbad, 4u);
    const auto monotonic = continuous_intervals(data_monotonic, failed, {false, 0, 60, 1, 0});
    EXPECT_FLOAT_EQ(continuous(monotonic, 0).avg, 2) << "0 clamped into [min, max]";
}

TEST(DataIntervals, SpansOfOperationFromAnUptimeCounter) {
    // Uptime counted from 1000, then a restart at 1400.
    std::vector<continuous_record_t> records;
    for (uint32_t t = 1000; t < 1360; t += 60) {
        records.push_back({t, 60, 1, 0, float(t - 1000), float(t + 60 - 1000), 0});
    }
    records.push_back({1400, 60, 1, 0, 0, 60, 30});
    records.push_back({1460, 60, 0, 1, 0, 0, 0});  // failed samples are not used
    const auto l = continuous_intervals(data_span, records, {false, 0, 0, 0, 0});
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(continuous(l, 0).start, 1000);
    EXPECT_EQ(continuous(l, 0).end, 1360);
    EXPECT_FLOAT_EQ(continuous(l, 0).max, 360);
    EXPECT_FLOAT_EQ(continuous(l, 0).avg, 180);
    EXPECT_EQ(continuous(l, 1).start, 1400);
    EXPECT_EQ(continuous(l, 1).end, 1460);
}

TEST(DataIntervals, EnumMasksJoinWithinAWidth) {
    const std::vector<tsdb::enum_record_t> records{
        {0, 60, 1, 0, 1}, {60, 60, 1, 0, 4}, {120, 60, 0, 1, 8}};
    const auto l = enum_intervals(records, {false, 0, 240, 2, 0});
    ASSERT_EQ(l.size(), 2u);
    const auto& first = dynamic_cast<const tsdb::data_interval_enum_t&>(*l.items[0]);
    EXPECT_EQ(first.mask, 5u);
    EXPECT_EQ(first.end, 120);
    EXPECT_EQ(first.ngood, 2u);
}

TEST(DataIntervals, IncidentPagesCountFromTheNewestOrTheOldest) {
    std::vector<tsdb::incident_record_t> records;
    for (uint32_t i = 1; i <= 10; ++i) {
        records.push_back({i * 100, 0, 2, "incident " + std::to_string(i)});
    }
    const auto page = [&](int64_t end, uint32_t count, int32_t offset) {
        std::vector<int64_t> times;
        for (const auto& i : incident_intervals(records, {false, 0, end, count, offset}).items) {
            times.push_back(dynamic_cast<const tsdb::data_interval_incident_t&>(*i).itime / 100);
        }
        return times;
    };
    EXPECT_EQ(page(5000, 3, 2), (std::vector<int64_t>{6, 7, 8}));
    EXPECT_EQ(page(-1, 3, 2), (std::vector<int64_t>{3, 4, 5}));
    EXPECT_EQ(page(5000, 3, 40), (std::vector<int64_t>{1}));  // offset past the end: n - 1
    EXPECT_EQ(page(-1, 0, 0), (std::vector<int64_t>{}));
    EXPECT_TRUE(incident_intervals({}, {false, 0, -1, 3, 5}).items.empty());
}

TEST(DataIntervals, WritingMakesOneRecordPerIntervalOfTheRightKind) {
    tsdb::interval_list l;
    l.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(60, 120, 1, 2, 3, 4, 1));
    EXPECT_EQ(continuous_records(data_float, l),
              (std::vector<continuous_record_t>{{60, 60, 4, 1, 1, 3, 2}}));
    l.items.push_back(std::make_unique<tsdb::data_interval_enum_t>(1, 1, 0, 0, 60));
    EXPECT_EQ(
        testing_support::failure_text<error::EFatal>([&] { continuous_records(data_float, l); }),
        "dbms_tsdb_convert<DataFloat> got non-continuous data");
    EXPECT_EQ(testing_support::failure_text<errors::db_anomaly>(
                  [&] { continuous_records(data_span, l); }),
              "checked_cast failed, tsdb::data_interval_enum_t should have been "
              "tsdb::data_interval_continuous_t");
    tsdb::interval_list incidents;
    incidents.items.push_back(std::make_unique<tsdb::data_interval_incident_t>(3, "down", 500));
    EXPECT_EQ(incident_records(incidents),
              (std::vector<tsdb::incident_record_t>{{500, 0, 3, "down"}}));
    incidents.items.push_back(nullptr);
    EXPECT_EQ(
        testing_support::failure_text<errors::db_anomaly>([&] { incident_records(incidents); }),
        "checked_cast failed, (null) should have been tsdb::data_interval_incident_t");
    EXPECT_EQ(enum_records(tsdb::interval_list()).size(), 0u);
}

TEST(DataIntervals, RangesAndSpansAtTheEndsOfTheTimeLineAreDefined) {
    // A peer may send any 64-bit range; the widths and durations wrap (here
    // to a width of 0: one interval per record).
    const std::vector<continuous_record_t> records = every_30s(4);
    EXPECT_EQ(continuous_intervals(data_float, records, {false, INT64_MIN, INT64_MAX, 3, 0}).size(),
              4u);
    EXPECT_EQ(continuous_intervals(data_span, records, {false, INT64_MAX, INT64_MIN, 0, 0}).size(),
              1u);
    tsdb::interval_list far;
    far.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(INT64_MIN, INT64_MAX,
                                                                           1.0f, 1.0f, 1.0f, 1, 0));
    EXPECT_EQ(continuous_records(data_float, far).at(0).duration, 0xFFFFFFFFu);
    // A span whose values are not numbers has no time: it starts at 0.
    const std::vector<continuous_record_t> nan = {{60, 60, 1, 0, NAN, NAN, NAN}};
    EXPECT_EQ(continuous(continuous_intervals(data_span, nan, {false, 0, 0, 0, 0}), 0).start, 0);
}
