#include "queues/event_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "io/memory_pipe.h"
#include "queues/error.h"
#include "queues/parent_log_sink.h"
#include "tests/support/wire_bytes.h"

using namespace queues;
using testing_support::WireBytes;

namespace {

// Times in traces print in UTC here; the zone is taken at the first use.
const bool utc = setenv("TZ", "UTC", 1) == 0;

std::vector<uint8_t> written(const event& e) {
    io::MemoryPipe pipe;
    protocol::ioprim io(nullptr, &pipe.out());
    write_event(io, e);
    io.flush();
    return pipe.take();
}

// Every event on the bytes, read through areas of `area` bytes.
std::vector<std::unique_ptr<event>> read_all(const std::vector<uint8_t>& bytes,
                                             size_t area = 4096) {
    io::MemoryPipe pipe(area);
    pipe.feed(bytes);
    pipe.close();
    protocol::ioprim io(&pipe.in(), nullptr);
    std::vector<std::unique_ptr<event>> events;
    for (;;) {
        try {
            events.push_back(read_event(io));
        } catch (const protocol::EMalformedEvent&) {
            throw;
        } catch (const io::EEndOfStream&) {
            return events;
        }
    }
}

std::unique_ptr<event> read_one(const std::vector<uint8_t>& bytes) {
    auto events = read_all(bytes);
    EXPECT_EQ(events.size(), 1u);
    return events.empty() ? nullptr : std::move(events.front());
}

std::string malformed_text(const std::vector<uint8_t>& bytes) {
    try {
        read_all(bytes);
    } catch (const protocol::EMalformedEvent& e) {
        return e.text();
    }
    return "(no failure)";
}

std::string printed(const event& e, unsigned level = 0) {
    std::ostringstream out;
    print_event(out, e, level);
    return out.str();
}

template <event_t N>
const typename payload_of<N>::type& payload(const std::unique_ptr<event>& e) {
    const auto* typed = dynamic_cast<const event_of<N>*>(e.get());
    EXPECT_NE(typed, nullptr) << "not a " << event_name(N);
    return typed->payload;
}

// The shapes of payload on the stream, one event each, as the byte forms
// give them.
WireBytes layout_event() {
    return WireBytes().header(25, 20, 7).u32(1).u32(2).u32(1440).u32(60).u32(2016).u32(300);
}
WireBytes get_data_event() {
    return WireBytes().header(31, 20, 8).u32(5).i32(5).i32(0).u32(1).i64(100).i64(-1).u32(0).i32(3);
}
WireBytes log_event() { return WireBytes().header(4, 0, 9).str("TSDB running").i32(0); }
WireBytes merge_event() { return WireBytes().header(43, 20, 10).u32(3).u32(2).str("ab").str(""); }
WireBytes put_data_event() {
    return WireBytes()
        .header(33, 20, 11)
        .u32(2)
        .u32(3)
        .i32(2)
        .i32(5)
        .u32(4)
        .u32(2)
        .i64(60)
        .i64(120)
        .f32(1)
        .f32(2)
        .f32(3)
        .u32(4)
        .u32(1)
        .u32(3)
        .u32(6)
        .u32(2)
        .u32(0)
        .i64(0)
        .i64(60)
        .u32(1)
        .u32(2)
        .str("disk full")
        .i64(1000)
        .u32(0);
}
WireBytes init_ok_event() { return WireBytes().header(3, 0, 0).u32(1).i32(8); }
WireBytes metric_list_event() {
    return WireBytes()
        .header(21, 0, 5)
        .str("")
        .u32(1)
        .str("low")
        .u32(0)
        .u32(0)
        .u32(1)
        .str("phase_shifts")
        .str("")
        .str("Number of phase shifts")
        .u32(2)
        .u32(0)
        .u32(0);
}
WireBytes failure_event() {
    return WireBytes().header(195, 0, 12, 1).str("Referenced unallocated check_id (9)");
}

// The configuration record: every field a distinct value by its kind
// (s string, u u32, b boolean, t time value, l set of strings).
constexpr const char* configuration_kinds =
    "sssssssuuuusussubuubuuuuuuusussusbsssssssssssluubbbuuuuuuttuussssbsubbusuuuuuuuubsbuuuu";

WireBytes configuration_event() {
    WireBytes w;
    w.header(5, 0, 1);
    for (uint32_t i = 1; configuration_kinds[i - 1] != '\0'; ++i) {
        switch (configuration_kinds[i - 1]) {
            case 's': {
                char text[16];
                std::snprintf(text, sizeof text, "s%u", i);
                w.str(text);
                break;
            }
            case 'u':
                w.u32(i);
                break;
            case 'b':
                w.u32(i % 2);
                break;
            case 't':
                w.i32(static_cast<int32_t>(i)).i32(static_cast<int32_t>(i * 1000));
                break;
            default:
                w.u32(2).str("a").str("b");
        }
    }
    return w;
}

std::vector<WireBytes> every_shape() {
    return {layout_event(),      get_data_event(), log_event(),
            merge_event(),       put_data_event(), init_ok_event(),
            metric_list_event(), failure_event(),  configuration_event()};
}

}  // namespace

TEST(EventNames, QueuesAndTypesPrintAsTheTablesSay) {
    EXPECT_EQ(queue_name(-1), "none");
    EXPECT_EQ(queue_name(0), "main");
    EXPECT_EQ(queue_name(20), "tsdb");
    EXPECT_EQ(queue_name(22), "extra");
    EXPECT_EQ(queue_name(23), "xx23");
    EXPECT_EQ(queue_name(-5), "xx-5");
    EXPECT_EQ(queue_name(12345), "12345");
    EXPECT_EQ(event_name(0), "INVALID_HEAD");
    EXPECT_EQ(event_name(1), "DAEMONIZE_SYSTEM");
    EXPECT_EQ(event_name(45), "REQUEST_RESULT");
    EXPECT_EQ(event_name(46), "DATA_REMCHECK");
    EXPECT_EQ(event_name(59), "CHECKIN_COMPLETE");
    EXPECT_EQ(event_name(70), "UNNAMED_70");
    EXPECT_EQ(event_name(129), "SCHEDULE_EVENT_RELATIVE");
    EXPECT_EQ(event_name(194), "EPSECCHANGENOTIFICATION");
    EXPECT_EQ(event_name(195), "MESSAGE_EXCEPTION");
    EXPECT_EQ(event_name(196), "INVALID_TAIL");
    EXPECT_EQ(event_name(200), "(event_t)200");
}

TEST(EventStream, EveryPayloadShapeReadsAndWritesAsItsByteForm) {
    for (const WireBytes& w : every_shape()) {
        const auto e = read_one(w.bytes);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(written(*e), w.bytes) << event_name(e->type);
        EXPECT_EQ(written(*e->clone()), w.bytes) << event_name(e->type);
    }
    EXPECT_EQ(payload<CREATE_TIMESERIES>(read_one(layout_event().bytes)),
              (tsdb::time_series_layout_t{1, {{1440, 60}, {2016, 300}}}));
    const auto get = read_one(get_data_event().bytes);
    EXPECT_EQ(get->dest, 20);
    EXPECT_EQ(get->uid, 8u);
    EXPECT_EQ(payload<GET_DATA>(get).end, -1);
    EXPECT_EQ(payload<GET_DATA>(get).offset, 3);
    EXPECT_EQ(get->data, &payload<GET_DATA>(get));

    const auto config = read_one(configuration_event().bytes);
    const control::Server_Configuration_Fields& c = payload<SERVER_CONFIGURATION>(config);
    EXPECT_EQ(c.dbms_tsdb_file_path, "s2");
    EXPECT_EQ(c.dbms_tsdb_tracefile, "s7");
    EXPECT_EQ(c.log_mask, 16u);
    EXPECT_EQ(c.stop_on_log_match, "s72");
    EXPECT_TRUE(c.tsdb_upgrade_discard_bufferlevels);
    EXPECT_EQ(c.tsdb_buffer_flush_batch, 87u);
    EXPECT_EQ(c.snmp_timeout_max, util::TimeValue(59, 59000));
    EXPECT_EQ(c.modem_options, (std::set<std::string>{"a", "b"}));

    const auto failure = read_one(failure_event().bytes);
    ASSERT_NE(dynamic_cast<const exevent*>(failure.get()), nullptr);
    EXPECT_EQ(dynamic_cast<const exevent&>(*failure).text, "Referenced unallocated check_id (9)");
    EXPECT_EQ(failure->data, nullptr);
}

TEST(EventStream, ValuesThatReadDifferentlyFromHowTheyAreWritten) {
    // Any non-zero word is true; an unknown interval kind is an empty element.
    const auto get = read_one(WireBytes()
                                  .header(31, 20, 8)
                                  .u32(5)
                                  .i32(5)
                                  .i32(0)
                                  .u32(7)
                                  .i64(0)
                                  .i64(0)
                                  .u32(1)
                                  .i32(0)
                                  .bytes);
    EXPECT_TRUE(payload<GET_DATA>(get).raw);
    const auto reply = read_one(WireBytes().header(32, 20, 8).i32(5).u32(2).u32(9).u32(0).bytes);
    ASSERT_EQ(payload<RETURN_GET_DATA>(reply).data.size(), 2u);
    EXPECT_EQ(payload<RETURN_GET_DATA>(reply).data.items[0], nullptr);
    // A failure reply to any request reads as MESSAGE_EXCEPTION with its dest and uid.
    const auto failed = read_one(WireBytes().header(31, 2, 13, 1).str("x").bytes);
    EXPECT_EQ(failed->type, MESSAGE_EXCEPTION);
    EXPECT_TRUE(failed->exception);
    EXPECT_EQ(failed->dest, 2);
    EXPECT_EQ(failed->uid, 13u);
    // An empty string is its 8-byte zero length.
    EXPECT_EQ(written(event_of<RETURN_PURE_ENTROPY>(0, 1, "")),
              WireBytes().header(12, 0, 1).u64(0).bytes);
}

TEST(EventStream, EventsSplitAtEveryByteBoundaryReadTheSame) {
    WireBytes all;
    for (const WireBytes& w : every_shape()) {
        all.append(w);
    }
    const size_t count = every_shape().size();
    for (size_t area = 1; area <= all.bytes.size(); area += area < 64 ? 1 : 97) {
        WireBytes all_again;
        const auto events = read_all(all.bytes, area);
        ASSERT_EQ(events.size(), count) << "areas of " << area;
        WireBytes again;
        for (const auto& e : events) {
            again.bytes = written(*e);
            all_again.append(again);
        }
        EXPECT_EQ(all_again.bytes, all.bytes) << "areas of " << area;
    }
}

TEST(EventStream, BytesThatAreNoEventEndTheStreamWithTheirReason) {
    const WireBytes log = log_event();
    EXPECT_EQ(malformed_text(WireBytes(log).u32(500).bytes),
              "fdio >> event: unknown type index: 500 old was 4 dest 0");
    EXPECT_EQ(malformed_text(WireBytes().u32(0).bytes),
              "fdio >> event: unknown type index: 0 old was 0 dest 0");
    EXPECT_EQ(malformed_text(WireBytes().header(195, 0, 1, 0).bytes),
              "Found exevent with .exception == 0");
    EXPECT_EQ(
        malformed_text(WireBytes().header(100, 0, 1).u32(0).bytes),
        "fdio >> event: the payload of RETURN_TSDB_MERGE_DATA is not carried by this process");
    EXPECT_EQ(malformed_text(WireBytes().header(12, 0, 1).u64(uint64_t{1} << 40).bytes),
              "fdio >> string: length 1099511627776 beyond the limit of 1073741824");
    // A list count whose elements cannot fit in any event, whatever follows.
    EXPECT_EQ(malformed_text(WireBytes().header(25, 0, 1).u32(1).u32(1073741824).bytes),
              "fdio >> list: 1073741824 elements cannot fit in an event of at most 1073741824 "
              "bytes");
    EXPECT_EQ(malformed_text(
                  WireBytes().header(33, 0, 1).u32(0).u32(0).u32(1).u32(5).u32(0xFFFFFFFF).bytes),
              "fdio >> list: 4294967295 elements cannot fit in an event of at most 1073741824 "
              "bytes");
    // A stream that ends inside an event ends as a stream, with no event.
    EXPECT_TRUE(read_all(WireBytes().header(2, 0, 1).bytes).empty());
    EXPECT_TRUE(read_all(WireBytes().header(35, 0, 1).u32(1).bytes).empty());
    EXPECT_TRUE(
        read_all(WireBytes().header(43, 0, 1).u32(1).u32(3).str("ab").u64(9).bytes).empty());
    // A group nested past the limit, each level a name and one subgroup.
    WireBytes deep;
    deep.header(21, 0, 1);
    for (unsigned i = 0; i <= control::Metric_Group::max_depth; ++i) {
        deep.str("g").u32(1);
    }
    EXPECT_EQ(malformed_text(deep.bytes), "fdio >> Metric_Group: nested deeper than 32");
}

TEST(EventStream, PrintsHeaderLinesAndTheNestedPayload) {
    const auto put = read_one(WireBytes(put_data_event()).bytes);
    ASSERT_TRUE(utc);
    EXPECT_EQ(printed(*put),
              "PUT_DATA {\n"
              "  dest: tsdb\n"
              "  inresponse: 11\n"
              "  orig_requester: dbms\n"
              "  handle: 3\n"
              "  operation: 2\n"
              "  data_type: 5\n"
              "  data: vector {\n"
              "    (t: continuous)(start: 1970-01-01 00:01:00)(end: \"1970-01-01 00:02:00)"
              "(min: 1.000000)(avg: 2.000000)(max: 3.000000)(ngood: 4)(nbad: 1)\n"
              "    (t: enum)(start: 1970-01-01 00:00:00)(end: \"1970-01-01 00:01:00)(mask: 6)"
              "(ngood: 2)(nbad: 0)\n"
              "    (t: incident)(sev: 2)(msg: \"disk full\")(itime: 1970-01-01 00:16:40)\n"
              "    (empty)\n"
              "  }\n"
              "}\n");
    EXPECT_EQ(printed(exevent(2, 4, "No records"), 1),
              "MESSAGE_EXCEPTION {\n"
              "    dest: dbms\n"
              "    inresponse: 4\n"
              "    Exception: No records\n"
              "  }\n");
    EXPECT_EQ(
        printed(event_of<INIT_OK>(0, 0, {{queue_brdc}})),
        "INIT_OK {\n  dest: main\n  inresponse: 0\n  depend_on: vector {\n    brdc\n  }\n}\n");
    // A time before 1970 has no text form; the trace says so instead of stopping.
    event_of<RETURN_GET_DATA> odd(0, 1);
    odd.payload.data.items.push_back(std::make_unique<tsdb::data_interval_enum_t>(1, 1, 0, -5, 0));
    EXPECT_NE(printed(odd).find("(kind 3 with a time before 1970)"), std::string::npos);
}

TEST(EventStream, LogLinesGoToTheParentWithFreshDialogNumbers) {
    struct Recorder final : EventSender {
        void send(const event& e) override { sent.push_back(e.clone()); }
        uint32_t fresh_uid() override { return counter.fresh(); }
        DialogCounter counter;
        std::vector<std::unique_ptr<event>> sent;
    } parent;
    ParentLogSink sink(parent);
    sink.send("TSDB running", 0);
    parent.counter.set_last(0xFFFFFFFF);
    sink.send("second", 3);
    ASSERT_EQ(parent.sent.size(), 2u);
    EXPECT_EQ(written(*parent.sent[0]),
              WireBytes().header(4, 0, 2).str("TSDB running").i32(0).bytes);
    EXPECT_EQ(parent.sent[1]->uid, 1u) << "the counter skips 0 when it wraps";
    EXPECT_EQ(payload<SYSTEM_LOG_REQUEST>(parent.sent[1]->clone()).log_type, 3);
}

TEST(EventStreamDeathTest, WriterRulesStopTheProcess) {
    struct Untyped final : event {
        Untyped() : event(0, 0, 0, false, nullptr) {}
        std::unique_ptr<event> clone() const override { return std::make_unique<Untyped>(); }
        void write_payload(protocol::ioprim&) const override {}
        void print_payload(std::ostream&, unsigned) const override {}
    };
    EXPECT_DEATH(written(Untyped()), "Assertion failed: fdio << event: unknown type index: 0");
    io::MemoryPipe narrow(2);
    protocol::ioprim io(nullptr, &narrow.out());
    EXPECT_DEATH(io.write_u32(1), "New write area of size 2 too small for primitive write");
}
