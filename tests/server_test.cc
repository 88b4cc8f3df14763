// The database process end to end: started by the parent library over the
// real shared memory and FIFOs, driven by its requests, stopped by the
// shutdown protocol, and its file checked by the inspector afterwards.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <csignal>
#include <map>
#include <thread>

#include "platform/process.h"
#include "tests/support/command.h"
#include "tests/support/tsdb_process.h"
#include "tsdb/patch.h"
#include "tsdb/record.h"
#include "util/bytes.h"
#include "util/time_text.h"
#include "util/time_value.h"

using namespace queues;
using parent::ERequestFailed;
using testing_support::TsdbProcess;
using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;
using tsdb::interval_list;

namespace tsdb {
// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const time_series_layout_t& layout, std::ostream* out) {
    *out << "type " << layout.data_type;
    for (const level_t& l : layout.levels) {
        *out << " (" << l.size << " x " << l.resolution << " s)";
    }
}
}  // namespace tsdb

namespace {

const tsdb::time_series_layout_t continuous_layout{tsdb::type_continuous, {{60, 60}, {48, 3600}}};
// Levels are whole 1 KiB blocks: 60 and 48 records of 28 bytes take two.
const tsdb::time_series_layout_t continuous_stored{tsdb::type_continuous, {{73, 60}, {73, 3600}}};

std::string failure_of(const std::function<void()>& request) {
    try {
        request();
    } catch (const ERequestFailed& failure) {
        return failure.text();
    }
    return "(no failure)";
}

// Minute samples from `from`, value i at minute i.
interval_list minutes(int64_t from, int n) {
    interval_list l;
    for (int i = 0; i < n; ++i) {
        const float v = static_cast<float>(i);
        l.items.push_back(std::make_unique<data_interval_continuous_t>(
            from + 60 * i, from + 60 * (i + 1), v, v + 0.5f, v + 1, 1, 0));
    }
    return l;
}

tsdb::Put_Data_Data append(uint32_t id, int32_t data_type, interval_list data) {
    return {queue_dbms, id, tsdb::PUT_Append, data_type, std::move(data)};
}

tsdb::Get_Data_Data raw_range(uint32_t id, int32_t data_type, int64_t from, int64_t to) {
    return {id, data_type, 0, true, from, to, 0, 0};
}

template <typename Interval>
const Interval& at(const interval_list& l, size_t i) {
    return dynamic_cast<const Interval&>(*l.items.at(i));
}

void expect_clean(const std::string& database) {
    const auto check =
        testing_support::run_command(std::string(TSDB_INSPECT) + " check " + database);
    EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace

TEST(Server, StartsUpAsTheParentExpectsAndStopsByTheProtocol) {
    TsdbProcess tsdb;
    tsdb.configuration.dbms_tsdb_tracefile = tsdb.dir + "/trace";
    auto child = tsdb.start();
    EXPECT_TRUE(child->supports_metrics());
    EXPECT_EQ(child->depend_on(), std::set<queue_t>{queue_brdc});
    ASSERT_FALSE(tsdb.logs.empty());
    EXPECT_EQ(tsdb.logs.front(), "TSDB running");
    EXPECT_TRUE(tsdb.logged("Notice: tracing TSDB calls to: \"" + tsdb.dir + "/trace\""));
    EXPECT_TRUE(tsdb.logged("Checking for pre 3.2.1 buffer-levels..."));
    EXPECT_TRUE(tsdb.logged("Done checking for pre 3.2.1 buffer-levels."));

    parent::TsdbClient client(*child);
    client.create(continuous_layout);
    EXPECT_EQ(child->stop(), 0);
    EXPECT_TRUE(tsdb.logged("Initiating shutdown"));
    // After the parent's acknowledgement the last lines go to the error output.
    EXPECT_EQ(
        tsdb.error_output(),
        "Log: Flushing all in-memory buffers to disk\nLog: In-memory buffer flush complete\n");
    const std::string trace = TsdbProcess::read_file(tsdb.dir + "/trace");
    EXPECT_EQ(trace.rfind("N:\nT: ", 0), 0u) << trace;
    EXPECT_NE(trace.find(" CREATE_TIMESERIES\n"), std::string::npos) << trace;
    expect_clean(tsdb.database);
}

TEST(Server, AnUnwritableTraceFileOnlyTurnsTracingOffAndTheLogMaskAddsDetail) {
    TsdbProcess tsdb;
    tsdb.configuration.dbms_tsdb_tracefile = tsdb.dir + "/no/such/dir/trace";
    auto child = tsdb.start();
    EXPECT_TRUE(tsdb.logged("TSDB tracefile setup error. Not tracing tsdb."));
    EXPECT_FALSE(tsdb.logged_starting("Block size set to: "));
    parent::TsdbClient client(*child);
    EXPECT_EQ(client.describe(client.create(continuous_layout)), continuous_stored);
    EXPECT_EQ(child->stop(), 0);

    tsdb.configuration.log_mask = 0x4000000;  // chain and space maintenance too
    child = tsdb.start();
    EXPECT_TRUE(tsdb.logged("Block size set to: 1024"));
    EXPECT_EQ(child->stop(), 0);
}

TEST(Server, WriteBufferKeysItCannotWorkWithAreReplacedBeforeTheDatabaseOpens) {
    TsdbProcess tsdb;
    tsdb.configuration.log_mask = 0x4000000;  // the open's own lines too
    for (const auto& [entries, write_min, used_entries, used_min] :
         std::vector<std::array<uint32_t, 4>>{{0, 99, 2, 2}, {4294967295u, 0, 4096, 1}}) {
        tsdb.configuration.tsdb_buffer_entries = entries;
        tsdb.configuration.tsdb_buffer_write_min = write_min;
        auto child = tsdb.start();
        const auto replaced =
            std::find(tsdb.logs.begin(), tsdb.logs.end(),
                      "Configuration tsdb_buffer_entries=" + std::to_string(entries) +
                          " is out of range; using " + std::to_string(used_entries));
        const auto opened =
            std::find(tsdb.logs.begin(), tsdb.logs.end(), "Block size set to: 1024");
        EXPECT_TRUE(replaced < opened) << "the keys are applied before the database opens";
        EXPECT_TRUE(tsdb.logged("Configuration tsdb_buffer_write_min=" + std::to_string(write_min) +
                                " is out of range; using " + std::to_string(used_min)));
        parent::TsdbClient client(*child);
        const uint32_t id = client.create(continuous_layout);
        client.put(append(id, 5, minutes(1'700'000'000, 10)));
        EXPECT_EQ(client.get(raw_range(id, 5, 0, 1'800'000'000)).size(), 10u);
        EXPECT_EQ(child->stop(), 0);
    }
}

TEST(Server, NonContinuousDataForDataFloatEndsTheProcess) {
    TsdbProcess tsdb;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const uint32_t id = client.create(continuous_layout);
    interval_list wrong;
    wrong.items.push_back(std::make_unique<data_interval_enum_t>(1, 1, 0, 0, 60));
    client.put_async(append(id, 5, std::move(wrong)));
    EXPECT_EQ(child->exit_status({10, 0}), 1);
    EXPECT_EQ(tsdb.error_output(),
              "Caught: dbms_tsdb_convert<DataFloat> got non-continuous data\n");
}

TEST(Server, AMissingOrCorruptDatabaseEndsTheStartWithItsReason) {
    TsdbProcess tsdb;
    tsdb.configuration.dbms_tsdb_file_path = tsdb.dir + "/absent.tsdb";
    try {
        tsdb.start();
        FAIL() << "started without a database";
    } catch (const parent::EChild& failure) {
        EXPECT_EQ(failure.exit_status, 1) << failure.text();
    }
    EXPECT_EQ(
        tsdb.error_output().rfind("Caught: Unable to open \"" + tsdb.dir + "/absent.tsdb\"", 0), 0u)
        << tsdb.error_output();

    const std::string garbage(64 * 1024, 'x');
    std::ofstream(tsdb.database, std::ios::binary | std::ios::trunc) << garbage;
    tsdb.configuration.dbms_tsdb_file_path = tsdb.database;
    EXPECT_THROW(tsdb.start(), parent::EChild);
    EXPECT_EQ(tsdb.error_output(), "Caught: Invalid magic in header\n");
    EXPECT_EQ(TsdbProcess::read_file(tsdb.database), garbage);
}

TEST(Server, SeriesAreCreatedDescribedAndDeletedAndBadLayoutsRefused) {
    TsdbProcess tsdb;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const uint32_t a = client.create(continuous_layout);
    const tsdb::time_series_layout_t incidents{tsdb::type_incident, {{4096, 1}}};
    const uint32_t b = client.create(incidents);
    EXPECT_NE(a, b);
    EXPECT_EQ(client.describe(a), continuous_stored);
    EXPECT_EQ(client.describe(b), incidents);

    EXPECT_EQ(failure_of([&] {
                  client.create({tsdb::type_enum, {}});
              }),
              "allocate_described_ts() invoked with no levels");
    EXPECT_EQ(failure_of([&] { client.create({7, {{10, 60}}}); }), "Datatype out of range");
    EXPECT_EQ(failure_of([&] {
                  client.create({tsdb::type_enum, {{10, 60}, {0, 3600}}});
              }),
              "Level 1 of the series layout has size 0 and resolution 3600; both must be above 0");
    EXPECT_EQ(failure_of([&] {
                  client.create({tsdb::type_continuous, {{4000000000u, 60}}});
              }),
              "Series layout needs 112000000000 bytes; a series may hold at most 1073741824");
    EXPECT_EQ(failure_of([&] { client.describe(999); }), "Referenced unallocated check_id (999)");

    client.remove(a);
    EXPECT_EQ(failure_of([&] { client.describe(a); }),
              "Referenced unallocated check_id (" + std::to_string(a) + ")");
    EXPECT_NE(failure_of([&] { client.remove(1u << 30); }), "(no failure)");
    EXPECT_EQ(client.describe(b), incidents);
    EXPECT_EQ(child->stop(), 0);
    expect_clean(tsdb.database);
}

TEST(Server, EveryProtocolDataTypeIsWrittenAndReadBack) {
    TsdbProcess tsdb;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const int64_t t0 = 1'700'000'000;

    const uint32_t floats = client.create(continuous_layout);
    client.put(append(floats, 5, minutes(t0, 10)));
    const interval_list back = client.get(raw_range(floats, 5, t0, t0 + 600));
    ASSERT_EQ(back.size(), 10u);
    EXPECT_EQ(at<data_interval_continuous_t>(back, 3).start, t0 + 180);
    EXPECT_EQ(at<data_interval_continuous_t>(back, 3).end, t0 + 240);
    EXPECT_FLOAT_EQ(at<data_interval_continuous_t>(back, 3).avg, 3.5f);
    // Grouped by time: 10 minutes in 5 widths of 2 minutes.
    const interval_list grouped = client.get({floats, 5, 0, false, t0, t0 + 600, 5, 0});
    ASSERT_EQ(grouped.size(), 5u);
    EXPECT_EQ(at<data_interval_continuous_t>(grouped, 1).ngood, 2u);
    EXPECT_FLOAT_EQ(at<data_interval_continuous_t>(grouped, 1).avg, 3.0f);

    const uint32_t monotonic = client.create({tsdb::type_monotonic, {{60, 60}}});
    client.put(append(monotonic, 6, minutes(t0, 4)));
    client.put(append(monotonic, 2, minutes(t0 + 240, 2)));
    EXPECT_EQ(client.get(raw_range(monotonic, 6, t0, t0 + 600)).size(), 6u);
    EXPECT_EQ(client.get(raw_range(monotonic, 2, t0, t0 + 600)).size(), 6u);

    const uint32_t states = client.create({tsdb::type_enum, {{256, 60}}});
    interval_list enums;
    for (uint32_t i = 0; i < 3; ++i) {
        enums.items.push_back(
            std::make_unique<data_interval_enum_t>(1u << i, 1, i, t0 + 60 * i, t0 + 60 * (i + 1)));
    }
    client.put(append(states, 3, enums));
    const interval_list merged = client.get({states, 3, 0, false, t0, t0 + 180, 1, 0});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(at<data_interval_enum_t>(merged, 0).mask, 7u);
    EXPECT_EQ(at<data_interval_enum_t>(merged, 0).nbad, 3u);

    const uint32_t incidents = client.create({tsdb::type_incident, {{8192, 1}}});
    interval_list events;
    for (int i = 0; i < 10; ++i) {
        events.items.push_back(
            std::make_unique<data_interval_incident_t>(i, "incident " + std::to_string(i), t0 + i));
    }
    client.put(append(incidents, 4, events));
    const interval_list all = client.get(raw_range(incidents, 4, -1, -1));
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(at<data_interval_incident_t>(all, 9).msg, "incident 9");
    const interval_list page = client.get({incidents, 4, 0, false, -1, t0 + 100, 3, 2});
    ASSERT_EQ(page.size(), 3u);
    EXPECT_EQ(at<data_interval_incident_t>(page, 0).itime, t0 + 5);

    // Written data outlives the process: the shutdown flushes the buffers.
    EXPECT_EQ(child->stop(), 0);
    expect_clean(tsdb.database);
    child = tsdb.start();
    parent::TsdbClient again(*child);
    EXPECT_EQ(again.get(raw_range(floats, 5, t0, t0 + 600)).size(), 10u);
    EXPECT_EQ(again.get(raw_range(incidents, 4, -1, -1)).size(), 10u);
    EXPECT_EQ(again.get(raw_range(states, 3, 0, t0 + 600)).size(), 3u);
    EXPECT_EQ(child->stop(), 0);
}

TEST(Server, WritesRefuseWhatMakesNoSenseAndKeepTheRest) {
    TsdbProcess tsdb;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const int64_t t0 = 1'700'000'000;
    const uint32_t id = client.create(continuous_layout);
    const auto put = [&](int32_t operation, uint32_t check_id, int32_t data_type,
                         interval_list data) {
        return failure_of([&] {
            client.put({queue_dbms, check_id, operation, data_type, std::move(data)});
        });
    };

    EXPECT_EQ(put(tsdb::PUT_Unset, 999, 5, minutes(t0, 1)), "PUT_Unset");
    EXPECT_EQ(put(tsdb::PUT_Replace, 999, 5, minutes(t0, 1)),
              "Referenced unallocated check_id (999)");
    EXPECT_EQ(put(tsdb::PUT_Replace, id, 5, minutes(t0, 1)), "Unimplemented PUT_Replace");
    EXPECT_EQ(put(tsdb::PUT_Append, id, 9, minutes(t0, 1)),
              "Unknown data type (9) given to time series merger");
    EXPECT_EQ(put(9, id, 5, minutes(t0, 1)), "(no failure)");
    // A series of another type is refused, and the refusal logged.
    const std::string mismatch =
        "Type mismatch - given check id (" + std::to_string(id) + ") has type 1 but we expected 3";
    EXPECT_EQ(put(tsdb::PUT_Append, id, 6, minutes(t0, 1)), mismatch);
    EXPECT_TRUE(tsdb.logged("Insertion error in " + std::to_string(id) + ": " + mismatch));
    // An interval of the wrong class makes no record at all.
    interval_list mixed = minutes(t0, 2);
    mixed.items.push_back(std::make_unique<data_interval_enum_t>(1, 1, 0, t0 + 120, t0 + 180));
    EXPECT_EQ(put(tsdb::PUT_Append, client.create({tsdb::type_monotonic, {{60, 60}}}), 6, mixed),
              "checked_cast failed, tsdb::data_interval_enum_t should have been "
              "tsdb::data_interval_continuous_t");

    // One invalid record among valid ones: the others are stored.
    interval_list some_bad = minutes(t0, 3);
    dynamic_cast<data_interval_continuous_t&>(*some_bad.items[1]).min = 99;
    EXPECT_EQ(put(tsdb::PUT_Append, id, 5, std::move(some_bad)), "(no failure)");
    EXPECT_EQ(client.get(raw_range(id, 5, t0, t0 + 600)).size(), 2u);
    EXPECT_TRUE(tsdb.logged_starting("Warning: Skiping invalid record "));
    EXPECT_NE(tsdb.logs.back().find(" for series " + std::to_string(id) + " from dbms"),
              std::string::npos)
        << tsdb.logs.back();

    // PUT_Alloc makes a one-level series of exactly the records: 2800 bytes
    // take three blocks.
    const uint32_t made = client.allocate(5, minutes(t0, 100));
    EXPECT_EQ(client.describe(made),
              (tsdb::time_series_layout_t{tsdb::type_continuous, {{109, 1}}}));
    EXPECT_EQ(client.get(raw_range(made, 5, 0, t0 + 6000)).size(), 100u);
    const uint32_t empty = client.allocate(3, {});
    EXPECT_EQ(client.describe(empty), (tsdb::time_series_layout_t{tsdb::type_enum, {{51, 1}}}));

    // PUT_Rebuild merges the given records with the stored ones.
    client.put({queue_dbms, id, tsdb::PUT_Rebuild, 5, minutes(t0 + 600, 5)});
    EXPECT_EQ(client.get(raw_range(id, 5, t0, t0 + 6000)).size(), 7u);

    // Only requests that did not fail count: operation 9, the three with
    // one invalid, the allocations and the rebuild.
    EXPECT_EQ(client.counter({"records", "put"}), 1u + 3 + 100 + 0 + 5);
    EXPECT_EQ(child->stop(), 0);
    expect_clean(tsdb.database);
}

TEST(Server, RecoveryMovesASeriesBetweenDatabases) {
    TsdbProcess source;
    TsdbProcess target;
    auto from = source.start();
    auto to = target.start();
    parent::TsdbClient a(*from);
    parent::TsdbClient b(*to);
    const uint32_t original = a.create(continuous_layout);
    a.put(append(original, 5, minutes(60'000, 50)));
    const std::string patch = a.extract(original);
    const uint32_t copy = b.create(continuous_layout);
    b.merge(copy, {patch});
    EXPECT_EQ(a.checksum(original).size(), 8u);
    EXPECT_EQ(a.checksum(original), b.checksum(copy));
    b.put(append(copy, 5, minutes(90'000, 1)));
    EXPECT_NE(a.checksum(original), b.checksum(copy));

    const std::string before = b.checksum(copy);
    EXPECT_EQ(failure_of([&] { b.merge(copy, {"not a patch"}); }), "Patch of wrong type");
    EXPECT_EQ(b.checksum(copy), before);
    EXPECT_EQ(failure_of([&] { b.checksum(99); }), "Referenced unallocated check_id (99)");
    EXPECT_EQ(failure_of([&] { b.extract(99); }), "Referenced unallocated check_id (99)");
    EXPECT_EQ(b.get(raw_range(copy, 5, 0, 100'000)).size(), 51u);
    EXPECT_EQ(from->stop(), 0);
    EXPECT_EQ(to->stop(), 0);
    expect_clean(target.database);
}

TEST(Server, MetricsAreAnsweredAndStrayEventsLoggedNotServed) {
    TsdbProcess tsdb;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const control::Metric type = client.metric_type({"low", "phase_shift_time"});
    EXPECT_EQ(type.name, "phase_shift_time");
    EXPECT_EQ(type.unit, "ms");
    EXPECT_EQ(type.desc, "Time a phase shift takes");
    EXPECT_EQ(type.type, 3u);
    EXPECT_GE(client.timing({"queues", "blockings"}).n, 1u);  // the configuration dialog
    EXPECT_EQ(failure_of([&] { client.counter({"records"}); }), "Unknown metric");
    std::vector<std::string> groups;
    std::vector<std::string> cache;
    for (const control::Metric_Group& g : client.metrics().groups) {
        groups.push_back(g.name);
        if (g.name == "entrycache") {
            for (const control::Metric& m : g.metrics) {
                cache.push_back(m.name);
            }
        }
    }
    EXPECT_EQ(groups,
              (std::vector<std::string>{"queues", "metering", "entrycache", "low", "records"}));
    EXPECT_EQ(cache.front(), "external_buffer_flush");  // newest first within a group too
    EXPECT_EQ(cache.back(), "newest_entry_hits");

    event_of<RETURN_GET_DATA> stray;
    child->send(stray);
    client.sync();
    EXPECT_TRUE(tsdb.logged("TSDB got unexpected event RETURN_GET_DATA"));
    EXPECT_EQ(client.describe(client.create(continuous_layout)), continuous_stored);
    EXPECT_EQ(child->stop(), 0);
}

TEST(Server, TheAgeFlushWritesBufferedRecordsWithinSeconds) {
    TsdbProcess tsdb;
    tsdb.configuration.tsdb_buffer_age_max = 1;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    const uint32_t id = client.create(continuous_layout);
    const int64_t now = util::TimeValue::now().seconds();
    client.put(append(id, 5, minutes(now - 600, 3)));
    const uint64_t flushed = client.counter({"entrycache", "buffer_age_flush"});
    // Generous: a loaded machine (the sanitizer build runs tests side by side) is slow.
    for (int i = 0; i < 300 && client.counter({"entrycache", "buffer_age_flush"}) == flushed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(client.counter({"entrycache", "buffer_age_flush"}), flushed);
    EXPECT_EQ(child->stop(), 0);
}

TEST(Server, AParentKilledMidStreamLeavesEveryHandledWriteOnDisk) {
    TsdbProcess tsdb;
    const std::string command =
        std::string(WRITING_PARENT) + " " + TSDB_BINARY + " " + tsdb.database + " 500";
    FILE* out = popen((command + " & echo $!").c_str(), "r");
    ASSERT_NE(out, nullptr);
    int parent_pid = 0;
    int tsdb_pid = 0;
    uint32_t id = 0;
    ASSERT_EQ(std::fscanf(out, "%d %d %u", &parent_pid, &tsdb_pid, &id), 3);
    platform::kill_process(parent_pid, SIGKILL);
    pclose(out);
    // The process ends by itself: its file is free again.
    testing_support::CommandOutcome check{1, ""};
    for (int i = 0; i < 100; ++i) {
        check = testing_support::run_command(std::string(TSDB_INSPECT) + " check " + tsdb.database);
        if (check.status == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(check.status, 0) << check.output;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    EXPECT_EQ(client.get(raw_range(id, 5, 0, 60 * 500)).size(), 500u);
    EXPECT_EQ(child->stop(), 0);
}

TEST(Server, AFullFileSystemFailsTheRequestsThatMeetItAndLosesNothingAcknowledged) {
    TsdbProcess tsdb;
    parent::ChildOptions limited = tsdb.options();
    // The database is 2 MiB; growth past 2.5 MiB is refused.
    limited.arguments = {"--fsize=" + std::to_string(2560 * 1024), limited.program};
    limited.program = "/usr/bin/prlimit";
    auto child = std::make_unique<parent::ChildProcess>(limited);
    parent::TsdbClient client(*child);
    // A merge adds minute 10 to a series of minutes 0 to 2.
    std::string extra = tsdb::empty_patch(tsdb::type_continuous);
    tsdb::append_record(extra, tsdb::continuous_record_t{1'700'000'600, 60, 1, 0, 9, 9, 9});
    std::map<uint32_t, size_t> records;  // what each acknowledged series must hold
    std::vector<std::string> failures;
    for (int round = 0; round < 120 && failures.size() < 12; ++round) {
        try {
            const uint32_t id = client.create({tsdb::type_continuous, {{1000, 60}}});
            client.put(append(id, 5, minutes(1'700'000'000, 3)));
            records[id] = 3;
        } catch (const ERequestFailed& refused) {
            failures.push_back(refused.text());
        }
        if (round % 2 == 1 && !records.empty()) {
            const uint32_t id = records.begin()->first + static_cast<uint32_t>(round) % 7;
            if (records.contains(id) && records[id] == 3) {
                try {
                    client.merge(id, {client.extract(id), extra});
                    records[id] = 4;
                } catch (const ERequestFailed& refused) {
                    failures.push_back(refused.text());
                }
            }
        }
    }
    ASSERT_FALSE(failures.empty());
    for (const std::string& text : failures) {
        EXPECT_NE(text.find("File too large"), std::string::npos) << text;
    }
    EXPECT_EQ(child->stop(), 0);

    child = tsdb.start();  // room again
    parent::TsdbClient again(*child);
    for (const auto& [id, held] : records) {
        EXPECT_EQ(again.get(raw_range(id, 5, 0, 1'800'000'000)).size(), held) << id;
    }
    const uint32_t later = again.create({tsdb::type_continuous, {{1000, 60}}});
    again.merge(later, {extra});
    EXPECT_EQ(again.get(raw_range(later, 5, 0, 1'800'000'000)).size(), 1u);
    EXPECT_EQ(child->stop(), 0);
    expect_clean(tsdb.database);
}
