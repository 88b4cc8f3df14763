// The database process end to end: started by the parent library over the
// real shared memory and FIFOs, driven by its requests, stopped by the
// shutdown protocol, and its file checked by the inspector afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "tests/support/command.h"
#include "tests/support/tsdb_process.h"

using namespace queues;
using parent::ERequestFailed;
using testing_support::TsdbProcess;
using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;
using tsdb::interval_list;

namespace tsdb {
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

TEST(Server, AnUnwritableTraceFileOnlyTurnsTracingOff) {
    TsdbProcess tsdb;
    tsdb.configuration.dbms_tsdb_tracefile = tsdb.dir + "/no/such/dir/trace";
    auto child = tsdb.start();
    EXPECT_TRUE(tsdb.logged("TSDB tracefile setup error. Not tracing tsdb."));
    parent::TsdbClient client(*child);
    EXPECT_EQ(client.describe(client.create(continuous_layout)), continuous_stored);
    EXPECT_EQ(child->stop(), 0);
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
