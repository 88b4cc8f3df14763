// The request handlers in one process: the handler table over an engine on
// the simulated disk, a sender that records what leaves, and a fixed clock.
#include "server/request_handlers.h"

#include <gtest/gtest.h>

#include "error/anomaly.h"
#include "server/data_intervals.h"
#include "tests/support/sim_database.h"

using namespace queues;
using server::data_enum;
using server::data_float;
using server::data_incident;
using testing_support::formatted_disk;
using testing_support::open_on;
using testing_support::SimDisk;
using testing_support::small_database;

namespace {

constexpr int64_t now = 1'700'100'000;
constexpr int64_t t0 = 1'700'000'000;

struct Recorder final : EventSender {
    void send(const event& e) override { sent.push_back(e.clone()); }
    uint32_t fresh_uid() override { return ++last_uid; }
    std::vector<std::unique_ptr<event>> sent;
    uint32_t last_uid = 0;
};

tsdb::interval_list minutes(int n, int64_t from = t0) {
    tsdb::interval_list l;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<float>(i);
        l.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
            from + 60 * i, from + 60 * (i + 1), v, v, v, 1, 0));
    }
    return l;
}

tsdb::interval_list states(int n) {
    tsdb::interval_list l;
    for (int i = 0; i < n; ++i) {
        l.items.push_back(std::make_unique<tsdb::data_interval_enum_t>(
            1u << (i % 3), 1, 0, t0 + 60 * i, t0 + 60 * i + 60));
    }
    return l;
}

// Incidents of 28 bytes each, a second apart.
tsdb::interval_list incidents(int n) {
    tsdb::interval_list l;
    for (int i = 0; i < n; ++i) {
        l.items.push_back(
            std::make_unique<tsdb::data_interval_incident_t>(1, "twelve bytes", t0 + i));
    }
    return l;
}

class Handlers : public ::testing::Test {
protected:
    // Handles the request as the main loop does and returns the one reply's
    // payload, which lives until the next request.
    template <event_t Reply, event_t Request>
    const typename payload_of<Reply>::type& ask(typename payload_of<Request>::type payload) {
        out.sent.clear();
        handlers.handle(event_of<Request>(queue_main, ++uid, std::move(payload)));
        EXPECT_EQ(out.sent.size(), 1u);
        const auto* reply = dynamic_cast<const event_of<Reply>*>(out.sent.at(0).get());
        EXPECT_NE(reply, nullptr) << event_name(out.sent.at(0)->type);
        EXPECT_EQ(reply->dest, queue_main);
        EXPECT_EQ(reply->uid, uid);
        return reply->payload;
    }

    // The text of the failure reply the main loop would send.
    template <event_t Request>
    std::string refusal(typename payload_of<Request>::type payload) {
        out.sent.clear();
        try {
            handlers.handle(event_of<Request>(queue_main, ++uid, std::move(payload)));
        } catch (const errors::db_anomaly& e) {
            return e.text();
        } catch (const tsdb::error_generic& e) {
            return e.text();
        }
        return "(no failure)";
    }

    void put(uint32_t id, int32_t data_type, tsdb::interval_list data, int32_t operation) {
        out.sent.clear();
        handlers.handle(event_of<PUT_DATA>(
            queue_main, ++uid, {queue_main, id, operation, data_type, std::move(data)}));
    }

    size_t count(uint32_t id, int32_t data_type, int64_t from = 0, int64_t to = now) {
        return ask<RETURN_GET_DATA, GET_DATA>({id, data_type, 0, true, from, to, 0, 0}).data.size();
    }

    SimDisk disk = formatted_disk(small_database(4000, 4096));
    tsdb::Engine engine{open_on(disk, {}, [] { return now; })};
    Recorder out;
    server::RequestHandlers handlers{engine, out};
    uint32_t uid = 0;
};

}  // namespace

TEST_F(Handlers, SeriesAreCreatedDescribedAndDeleted) {
    const uint32_t id = ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>(
        {tsdb::type_enum, {{200, 60}, {50, 3600}}});
    EXPECT_EQ((ask<RETURN_DESCRIBE_TIMESERIES, DESCRIBE_TIMESERIES>(id)),
              (tsdb::time_series_layout_t{tsdb::type_enum, {{204, 60}, {204, 3600}}}));
    EXPECT_EQ((ask<RETURN_DELETE_TIMESERIES, DELETE_TIMESERIES>(id)), 0);
    EXPECT_EQ(refusal<DESCRIBE_TIMESERIES>(id),
              "Referenced unallocated check_id (" + std::to_string(id) + ")");
    EXPECT_EQ(refusal<CREATE_TIMESERIES>({tsdb::type_enum, {{0, 60}}}),
              "Level 0 of the series layout has size 0 and resolution 60; both must be above 0");
}

TEST_F(Handlers, PutAllocHoldsExactlyTheGivenRecordsForEveryCountAndType) {
    // 1024 continuous or incident records (28 bytes) and 1024 enum records
    // (20 bytes) fill whole 4 KiB blocks exactly.
    struct Case {
        int32_t data_type;
        tsdb::interval_list (*make)(int);
    };
    for (const Case& c : {Case{data_float, [](int n) { return minutes(n); }},
                          Case{data_enum, states}, Case{data_incident, incidents}}) {
        for (int n : {0, 1, 146, 1024, 2048}) {
            out.sent.clear();
            handlers.handle(event_of<PUT_DATA>(
                queue_main, ++uid, {queue_main, 0, tsdb::PUT_Alloc, c.data_type, c.make(n)}));
            ASSERT_EQ(out.sent.size(), 1u);
            const auto& reply = dynamic_cast<const event_of<RETURN_PUT_DATA_ALLOC>&>(*out.sent[0]);
            const uint32_t id = reply.payload;
            engine.flush_all();
            EXPECT_EQ(count(id, c.data_type, 0, t0 + 60 * n + 60), static_cast<size_t>(n))
                << "type " << c.data_type << ", " << n << " records";
        }
    }
}

TEST_F(Handlers, GetDataAnswersRangesNewestAndEmptyLists) {
    const uint32_t id =
        ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>({tsdb::type_continuous, {{500, 60}}});
    EXPECT_TRUE(
        (ask<RETURN_GET_DATA, GET_DATA>({id, data_float, 0, true, 0, 0, 1, 0}).data.size() == 0))
        << "the newest of nothing";
    EXPECT_EQ(refusal<GET_DATA>({77, data_float, 0, true, 0, 10, 0, 0}),
              "Referenced unallocated check_id (77)");
    EXPECT_EQ(refusal<GET_DATA>({id, data_enum, 0, true, 0, 10, 0, 0}),
              "Type mismatch - trying to extract type 2 in a type 1 level");
    EXPECT_EQ(refusal<GET_DATA>({id, data_enum, 0, true, 10, 0, 0, 0}),
              "Type mismatch - trying to extract type 2 in a type 1 level");
    put(id, data_float, minutes(10), tsdb::PUT_Append);
    EXPECT_TRUE(out.sent.empty());  // a successful PUT_DATA gets no reply
    EXPECT_EQ(count(id, data_float, t0, t0 + 300), 5u);
    EXPECT_EQ(count(id, data_float, t0 + 300, t0), 0u);  // start after end: nothing, not a failure
    const auto& newest = ask<RETURN_GET_DATA, GET_DATA>({id, data_float, 0, true, 0, 0, 1, 0});
    ASSERT_EQ(newest.data.size(), 1u);
    EXPECT_EQ(dynamic_cast<const tsdb::data_interval_continuous_t&>(*newest.data.items[0]).start,
              t0 + 540);

    const uint32_t log =
        ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>({tsdb::type_incident, {{4000, 1}}});
    put(log, data_incident, incidents(3), tsdb::PUT_Append);
    EXPECT_EQ(count(log, data_incident, -1, -1), 3u);        // -1 and -1: from the start until now
    EXPECT_EQ(count(log, data_incident, now + 10, -1), 0u);  // since the future, until now
    EXPECT_EQ(refusal<GET_DATA>({id, 7, 0, true, 0, now, 0, 0}),
              "Unknown data type (7) for TSDB index " + std::to_string(id));
}

TEST_F(Handlers, WritesSkipInvalidRecordsAndRefuseWhatTheyCannotDo) {
    const uint32_t id =
        ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>({tsdb::type_continuous, {{500, 60}}});
    tsdb::interval_list data = minutes(2);
    data.items.push_back(
        std::make_unique<tsdb::data_interval_continuous_t>(t0 + 600, t0 + 540, 1, 1, 1, 1, 0));
    put(id, data_float, std::move(data), tsdb::PUT_Append);
    EXPECT_EQ(count(id, data_float), 2u);
    EXPECT_EQ(refusal<PUT_DATA>({queue_main, id, tsdb::PUT_Replace, data_float, {}}),
              "Unimplemented PUT_Replace");
    EXPECT_EQ(refusal<PUT_DATA>({queue_main, id, tsdb::PUT_Unset, data_float, {}}), "PUT_Unset");
    put(id, data_float, minutes(1, t0 + 1200), tsdb::PUT_Rebuild);
    EXPECT_EQ(count(id, data_float), 3u);
}

TEST_F(Handlers, TruncationAndTheOldestRecord) {
    EXPECT_EQ((ask<RETURN_FIND_OLDEST_RECORD, FIND_OLDEST_RECORD>(0)), now);  // nothing stored
    const uint32_t id =
        ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>({tsdb::type_continuous, {{500, 60}}});
    put(id, data_float, minutes(10), tsdb::PUT_Append);
    engine.flush_all();
    EXPECT_EQ((ask<RETURN_FIND_OLDEST_RECORD, FIND_OLDEST_RECORD>(0)), t0);
    EXPECT_EQ((ask<RETURN_TRUNCATE_OLD_DATA, TRUNCATE_OLD_DATA>({id, t0 + 240})), 0);
    EXPECT_EQ(count(id, data_float), 5u);
    EXPECT_EQ((ask<RETURN_FIND_OLDEST_RECORD, FIND_OLDEST_RECORD>(0)), t0 + 300);
    EXPECT_EQ(refusal<TRUNCATE_OLD_DATA>({50, 0}), "Referenced unallocated check_id (50)");
}

TEST_F(Handlers, RecoveryCopiesASeriesWithItsChecksum) {
    const tsdb::time_series_layout_t layout{tsdb::type_continuous, {{100, 60}, {100, 600}}};
    const uint32_t from = ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>(layout);
    const uint32_t to = ask<RETURN_CREATE_TIMESERIES, CREATE_TIMESERIES>(layout);
    put(from, data_float, minutes(300), tsdb::PUT_Append);
    const std::string patch =
        ask<RETURN_RECOVERY_EXTRACT_TIMESERIES, RECOVERY_EXTRACT_TIMESERIES>(from);
    EXPECT_EQ((ask<RETURN_RECOVERY_MERGE_TIMESERIES, RECOVERY_MERGE_TIMESERIES>({to, {patch}})), 0);
    // A reply lives until the next request: the first checksum is copied.
    const std::string copied =
        ask<RETURN_RECOVERY_CHECKSUM_TIMESERIES, RECOVERY_CHECKSUM_TIMESERIES>(to);
    EXPECT_EQ(copied,
              (ask<RETURN_RECOVERY_CHECKSUM_TIMESERIES, RECOVERY_CHECKSUM_TIMESERIES>(from)));
    EXPECT_EQ(refusal<RECOVERY_MERGE_TIMESERIES>({to, {"xy"}}), "Invalid patch (too short)");
}
