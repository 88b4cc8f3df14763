// The database process as its parent meets it: PUT_DATA throughput for 10k
// series (1 or 100 intervals per request, 1 or 64 requests in flight),
// GET_DATA latency for a day of minute data, and the same work done by the
// engine facade in this process, so that the cost of the transport shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "parent/tsdb_client.h"
#include "tools/workload.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t series_count = 10000;
const std::string path = "/tmp/tsdb_server_bench.tsdb";

void fresh_database(uint32_t series) {
    tsdb::create_database({path, 4096, 3, series * 90 + 1024, true});
}

std::unique_ptr<parent::ChildProcess> start_database() {
    parent::ChildOptions options = parent::database_child(TSDB_BINARY, path);
    options.on_log = [](const std::string&) {};
    options.error_output = "/dev/null";
    return std::make_unique<parent::ChildProcess>(options);
}

tsdb::interval_list intervals(workload::Samples& samples, uint32_t series, uint32_t first,
                              uint32_t n) {
    tsdb::interval_list l;
    for (uint32_t m = first; m < first + n; ++m) {
        const tsdb::continuous_record_t r = samples.at(series, m);
        l.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
            r.timestart, r.timestart + r.duration, r.min, r.avg, r.max, r.ngood, r.nbad));
    }
    return l;
}

// Every series gets `per_request` minutes in one PUT_DATA; after every
// `in_flight` requests the parent waits until the process has caught up.
void put_data(benchmark::State& state) {
    const auto per_request = static_cast<uint32_t>(state.range(0));
    const auto in_flight = static_cast<uint32_t>(state.range(1));
    const uint32_t rounds = per_request == 1 && in_flight == 1 ? 1 : 100 / per_request;
    for (auto _ : state) {
        state.PauseTiming();
        fresh_database(series_count);
        auto child = start_database();
        parent::TsdbClient client(*child);
        std::vector<uint32_t> ids;
        for (uint32_t s = 0; s < series_count; ++s) {
            ids.push_back(client.create(workload::three_levels()));
        }
        workload::Samples samples;
        std::vector<tsdb::Put_Data_Data> requests;
        for (uint32_t round = 0; round < rounds; ++round) {
            for (uint32_t s = 0; s < series_count; ++s) {
                requests.push_back({queues::queue_main, ids[s], tsdb::PUT_Append, 5,
                                    intervals(samples, s, round * per_request, per_request)});
            }
        }
        state.ResumeTiming();
        uint32_t sent = 0;
        for (const tsdb::Put_Data_Data& put : requests) {
            client.put_async(put);
            if (++sent % in_flight == 0) {
                client.sync();
            }
        }
        client.sync();
        state.PauseTiming();
        child->stop();
        state.ResumeTiming();
        state.counters["records_per_s"] =
            benchmark::Counter(double(requests.size()) * per_request, benchmark::Counter::kIsRate);
    }
}
BENCHMARK(put_data)
    ->ArgNames({"intervals", "in_flight"})
    ->Args({1, 1})
    ->Args({1, 64})
    ->Args({100, 1})
    ->Args({100, 64})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The same records through the engine facade in this process.
void engine_put(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        fresh_database(series_count);
        auto engine = tsdb::Engine::open(path);
        std::vector<uint32_t> ids;
        for (uint32_t s = 0; s < series_count; ++s) {
            ids.push_back(engine->create_series(workload::three_levels()));
        }
        workload::Samples samples;
        state.ResumeTiming();
        for (uint32_t s = 0; s < series_count; ++s) {
            for (uint32_t m = 0; m < 100; ++m) {
                engine->put<tsdb::type_continuous>(ids[s], samples.at(s, m));
            }
        }
        engine->flush_all();
        engine->phase_shift();
        state.counters["records_per_s"] =
            benchmark::Counter(double(series_count) * 100, benchmark::Counter::kIsRate);
    }
}
BENCHMARK(engine_put)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

constexpr uint32_t read_series = 100;
constexpr uint32_t day = 1440;

tsdb::Get_Data_Data one_day(uint32_t id) {
    return {id, 5, 0, true, workload::start_time, workload::start_time + int64_t{day} * 60, 0, 0};
}

// GET_DATA of one day of minute records (1440 intervals) from random series.
void get_day(benchmark::State& state) {
    fresh_database(read_series);
    auto child = start_database();
    parent::TsdbClient client(*child);
    workload::Samples samples;
    std::vector<uint32_t> ids;
    for (uint32_t s = 0; s < read_series; ++s) {
        ids.push_back(client.create(workload::three_levels()));
        for (uint32_t m = 0; m < day; m += 120) {
            client.put_async({queues::queue_main, ids.back(), tsdb::PUT_Append, 5,
                              intervals(samples, s, m, 120)});
        }
    }
    client.sync();
    std::vector<double> us;
    uint32_t next = 0;
    for (auto _ : state) {
        const auto t = Clock::now();
        const size_t n = client.get(one_day(ids[next++ % read_series])).size();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
        if (n != day) {
            state.SkipWithError("a day came back short");
            break;
        }
    }
    child->stop();
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}
BENCHMARK(get_day)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(500);

void engine_get_day(benchmark::State& state) {
    fresh_database(read_series);
    auto engine = tsdb::Engine::open(path);
    workload::Samples samples;
    std::vector<uint32_t> ids;
    for (uint32_t s = 0; s < read_series; ++s) {
        ids.push_back(engine->create_series(workload::three_levels()));
        for (uint32_t m = 0; m < day; ++m) {
            engine->put<tsdb::type_continuous>(ids.back(), samples.at(s, m));
        }
    }
    uint32_t next = 0;
    for (auto _ : state) {
        const tsdb::Get_Data_Data q = one_day(ids[next++ % read_series]);
        benchmark::DoNotOptimize(engine->get<tsdb::type_continuous>(q.handle, q.start, q.end));
    }
    std::remove(path.c_str());
}
BENCHMARK(engine_get_day)->Unit(benchmark::kMicrosecond)->Iterations(500);

}  // namespace
