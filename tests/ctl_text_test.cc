// What tsdbctl reads from people: times, durations and CSV data.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/csv.h"
#include "tools/interval_rows.h"
#include "tools/options.h"
#include "tools/time_arg.h"
#include "tsdb/layout.h"

using namespace tools;

namespace {

constexpr int64_t now = 1'800'000'000;

std::string usage_error(const std::function<void()>& f) {
    try {
        f();
    } catch (const UsageError& e) {
        return e.text;
    }
    return "(no error)";
}

std::string bad_input(const std::string& csv, uint32_t type = tsdb::type_continuous) {
    std::istringstream in(csv);
    try {
        read_intervals(in, type, now);
    } catch (const EBadInput& e) {
        return e.text();
    }
    return "(no error)";
}

}  // namespace

TEST(TimeArguments, EpochNowRelativeAndIso8601) {
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(parse_time("1700000000", now), 1700000000);
    EXPECT_EQ(parse_time("now", now), now);
    EXPECT_EQ(parse_time("-1d", now), now - 86400);
    EXPECT_EQ(parse_time("-6h", now), now - 6 * 3600);
    EXPECT_EQ(parse_time("+30m", now), now + 1800);
    EXPECT_EQ(parse_time("now+30m", now), now + 1800);
    EXPECT_EQ(parse_time("now-1d", now), now - 86400);
    EXPECT_EQ(parse_time("-1w", now), now - 7 * 86400);
    EXPECT_EQ(parse_time("-1y", now), now - 365 * 86400);
    EXPECT_THROW(parse_time("now-", now), tools::UsageError);
    EXPECT_EQ(parse_time("-2w", now), now - 14 * 86400);
    EXPECT_EQ(parse_time("2023-11-14T22:13:20Z", now), 1700000000);
    EXPECT_EQ(parse_time("2023-11-14T23:13:20+01:00", now), 1700000000);
    EXPECT_EQ(parse_time("2023-11-14T17:13:20-0500", now), 1700000000);
    EXPECT_EQ(parse_time("2023-11-14", now) % 86400, 0);
    EXPECT_EQ(parse_time("2023-11-14 22:13", now), 1700000000 - 20);

    for (const char* bad : {"yesterday", "", "-1x", "2023-13-01", "2023-11-14T25:00", "12:00",
                            "2023-11-14T22:13:20+1", "1d"}) {
        EXPECT_NE(usage_error([&] { parse_time(bad, now); }).find("cannot read the time"),
                  std::string::npos)
            << bad;
    }
    EXPECT_EQ(parse_duration("60"), 60u);
    EXPECT_EQ(parse_duration("5m"), 300u);
    EXPECT_EQ(parse_duration("1d"), 86400u);
    EXPECT_NE(usage_error([] { parse_duration("0"); }), "(no error)");
    EXPECT_NE(usage_error([] { parse_duration("5q"); }), "(no error)");
}

TEST(Csv, QuotedFieldsRoundTrip) {
    const std::vector<std::string> fields = {"plain", "with, comma", "a \"quote\"", "two\nlines",
                                             ""};
    std::istringstream in("\n" + csv_row(fields) + "\r\nlast\n");
    CsvReader reader(in);
    std::vector<std::string> read;
    ASSERT_TRUE(reader.next(read));
    EXPECT_EQ(read, fields);
    EXPECT_EQ(reader.line(), 2u);
    ASSERT_TRUE(reader.next(read));
    EXPECT_EQ(read, std::vector<std::string>{"last"});
    EXPECT_EQ(reader.line(), 4u);
    EXPECT_FALSE(reader.next(read));

    std::istringstream open("\"never closed\n");
    CsvReader broken(open);
    EXPECT_THROW(broken.next(read), EBadInput);
}

TEST(Csv, IntervalsOfEveryKindAndTheLineOfTheFirstMistake) {
    std::istringstream continuous("end,start,value\n2023-11-14T22:14:20Z,1700000000,2.5\n");
    const tsdb::interval_list c = read_intervals(continuous, tsdb::type_continuous, now);
    ASSERT_EQ(c.size(), 1u);
    const auto& first = dynamic_cast<const tsdb::data_interval_continuous_t&>(*c.items[0]);
    EXPECT_EQ(first.end - first.start, 60);
    EXPECT_FLOAT_EQ(first.max, 2.5f);
    EXPECT_EQ(first.ngood, 1u);

    std::istringstream states("start,end,mask\n0,60,5\n");
    EXPECT_EQ(dynamic_cast<const tsdb::data_interval_enum_t&>(
                  *read_intervals(states, tsdb::type_enum, now).items[0])
                  .mask,
              5u);
    std::istringstream incidents("time,severity,message\n-1h,3,\"disk, full\"\n");
    const tsdb::interval_list read = read_intervals(incidents, tsdb::type_incident, now);
    const auto& i = dynamic_cast<const tsdb::data_interval_incident_t&>(*read.items.at(0));
    EXPECT_EQ(i.itime, now - 3600);
    EXPECT_EQ(i.msg, "disk, full");

    EXPECT_EQ(bad_input("start,end,value\n0,60,1\n60,120,x\n"),
              "line 3: value must be a number, not \"x\"");
    EXPECT_EQ(bad_input("start,end,value\n0,60\n"), "line 2: 2 fields where the header has 3");
    EXPECT_EQ(bad_input("start,value\n0,1\n").rfind("line 1: the header has no column \"end\"", 0),
              0u);
    EXPECT_EQ(bad_input("start,end,mask\n0,60,-1\n", tsdb::type_enum),
              "line 2: mask must be a whole number, not \"-1\"");
    EXPECT_NE(bad_input("time,severity,message\nlater,1,x\n", tsdb::type_incident)
                  .find("line 2: cannot read the time \"later\""),
              std::string::npos);
}
