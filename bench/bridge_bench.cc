// The bridge's speed: remote write of 10 000 series (an hour of minutes
// each, five metrics a record) to a receiver that discards what it gets, in
// samples a second and CPU time a sample; remote read at the server (the
// request decoded, the records read, the answer encoded) of a day of one
// series and of an hour of 1000 series.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <ctime>
#include <sstream>
#include <thread>

#include "bridge/remote_read.h"
#include "bridge/remote_write.h"
#include "bridge/wire.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

constexpr uint32_t series = 10000;
constexpr uint32_t hour_records = 60;
constexpr uint32_t t0 = 1700000000;
const std::string path = "/tmp/tsdb_bridge_bench.tsdb";

// Series 0 holds a day of minutes, every other series an hour.
void make_file() {
    tsdb::create_database({path, 4096, 3, 40000, true});
    tsdb::Engine engine(tsdb::Database::open(path));
    engine.create_series({tsdb::type_continuous, {{1440, 60}}});
    for (uint32_t i = 1; i < series; ++i) {
        engine.create_series({tsdb::type_continuous, {{120, 60}}});
    }
    for (uint32_t id = 0; id < series; ++id) {
        const uint32_t records = id == 0 ? 1440 : hour_records;
        for (uint32_t m = 0; m < records; ++m) {
            const float v = static_cast<float>(m % 60) * 0.1f;
            engine.put<tsdb::type_continuous>(id, {t0 + 60 * m, 60, 3, 0, v, v + 1, v + 0.5f});
        }
    }
    engine.flush_all();
    engine.phase_shift();
}

void remote_write_of_10000_series(benchmark::State& state) {
    httplib::Server receiver;
    receiver.Post("/write", [](const httplib::Request&, httplib::Response& r) { r.status = 204; });
    receiver.set_tcp_nodelay(true);
    const int port = receiver.bind_to_any_port("127.0.0.1");
    std::thread listening([&] { receiver.listen_after_bind(); });
    const bridge::SeriesNames names;
    const std::atomic<bool> stopping{false};
    uint64_t sent = 0;
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        bridge::LiveReader reader(path);
        std::ostringstream said;
        const bridge::RemoteWriteOptions options{
            "http://127.0.0.1:" + std::to_string(port) + "/write", 0, false, std::nullopt, "n1"};
        const std::clock_t cpu_before = std::clock();
        const auto wall_before = std::chrono::steady_clock::now();
        sent = bridge::remote_write(reader, names, options, said, stopping).sent;
        wall +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
        cpu += double(std::clock() - cpu_before) / CLOCKS_PER_SEC;
    }
    receiver.stop();
    listening.join();
    const double runs = static_cast<double>(state.iterations());
    state.counters["samples"] = static_cast<double>(sent);
    state.counters["samples/s"] = static_cast<double>(sent) * runs / wall;
    state.counters["cpu_ns/sample"] = cpu * 1e9 / (static_cast<double>(sent) * runs);
}

std::string read_request(bridge::wire::LabelMatcher::Type type, const std::string& check,
                         int64_t end_ms) {
    bridge::wire::ReadRequest request;
    bridge::wire::Query* query = request.add_queries();
    query->set_start_timestamp_ms(int64_t{t0} * 1000);
    query->set_end_timestamp_ms(end_ms);
    bridge::wire::LabelMatcher* name = query->add_matchers();
    name->set_name("__name__");
    name->set_value("tsdb_avg");
    bridge::wire::LabelMatcher* on_check = query->add_matchers();
    on_check->set_type(type);
    on_check->set_name("check");
    on_check->set_value(check);
    return bridge::compressed(request);
}

void remote_read(benchmark::State& state, const std::string& request) {
    bridge::LiveReader reader(path);
    const bridge::SeriesNames names;
    uint64_t samples = 0;
    for (auto _ : state) {
        samples = bridge::answer_read(request, reader, names, "n1", {}).samples;
    }
    state.counters["samples"] = static_cast<double>(samples);
}

void remote_read_of_a_day_of_one_series(benchmark::State& state) {
    remote_read(state,
                read_request(bridge::wire::LabelMatcher::EQ, "0", (int64_t{t0} + 86400) * 1000));
}

void remote_read_of_an_hour_of_1000_series(benchmark::State& state) {
    remote_read(state, read_request(bridge::wire::LabelMatcher::RE, "1[0-9]{3}",
                                    (int64_t{t0} + 3600) * 1000));
}

BENCHMARK(remote_write_of_10000_series)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(remote_read_of_a_day_of_one_series)->Unit(benchmark::kMillisecond);
BENCHMARK(remote_read_of_an_hour_of_1000_series)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    make_file();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(path.c_str());
    return 0;
}
