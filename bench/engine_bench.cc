// Series data costs: ingest through the write buffer, an aggregation-heavy
// series, range reads of every storage type, and the memory a buffered
// series takes. Rates are wall-clock rates: commits wait for the disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "bench/counting_file.h"
#include "tools/workload.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

struct Fixture {
    explicit Fixture(uint32_t blocks) {
        tsdb::create_database({path, 4096, 3, blocks, true});
        auto counted = std::make_unique<bench_support::CountingFile>(
            platform::open_random_access_file(path, platform::Access::read_write).file);
        file = counted.get();
        engine = std::make_unique<tsdb::Engine>(
            tsdb::Database::open(tsdb::BackingStore(std::move(counted), path)));
    }
    ~Fixture() { std::remove(path.c_str()); }

    const std::string path = "/tmp/tsdb_engine_bench.tsdb";
    bench_support::CountingFile* file;
    std::unique_ptr<tsdb::Engine> engine;
};

long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// S series, one simulated day of minute samples each.
void ingest(benchmark::State& state) {
    const auto series = static_cast<uint32_t>(state.range(0));
    const auto minutes = static_cast<uint32_t>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        Fixture f(series * 90 + 1024);  // about what the layout needs, so growth is rare
        std::vector<uint32_t> ids;
        for (uint32_t s = 0; s < series; ++s) {
            ids.push_back(f.engine->create_series(workload::three_levels()));
        }
        workload::Samples samples;
        const uint64_t writes_before = f.file->writes;
        const uint64_t bytes_before = f.file->bytes;
        const long rss_before = resident_kib();
        state.ResumeTiming();
        for (uint32_t m = 0; m < minutes; ++m) {
            for (uint32_t s = 0; s < series; ++s) {
                f.engine->put<1>(ids[s], samples.at(s, m));
            }
            if (m % 30 == 29) {
                f.engine->phase_shift();
            }
        }
        f.engine->flush_all();
        f.engine->phase_shift();
        state.PauseTiming();
        const double records = double(series) * minutes;
        state.counters["ingest_rec_per_s"] =
            benchmark::Counter(records, benchmark::Counter::kIsRate);
        state.counters["writes_per_1k_records"] =
            double(f.file->writes - writes_before) * 1000 / records;
        state.counters["bytes_written_per_record"] = double(f.file->bytes - bytes_before) / records;
        state.counters["rss_KiB_per_series"] = double(resident_kib() - rss_before) / series;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0) * state.range(1));
}
BENCHMARK(ingest)
    ->Args({1000, 1440})
    ->Args({10000, 1440})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// A week of minute samples in 1000 series of one storage type, then reads
// of the last `span` minutes of every series.
template <uint32_t Type>
void write_week(tsdb::Engine& engine, const std::vector<uint32_t>& ids) {
    workload::Samples samples;
    for (uint32_t m = 0; m < 7 * 1440; ++m) {
        for (uint32_t s = 0; s < ids.size(); ++s) {
            if constexpr (Type == tsdb::type_enum) {
                engine.put<Type>(ids[s], samples.state_at(s, m));
            } else if constexpr (Type == tsdb::type_incident) {
                if (const auto incident = samples.incident_at(s, m)) {
                    engine.put<Type>(ids[s], *incident);
                }
            } else {
                engine.put<Type>(ids[s], samples.at(s, m));
            }
        }
        if (m % 60 == 59) {
            engine.phase_shift();
        }
    }
    engine.flush_all();
}

template <uint32_t Type>
void read_range(benchmark::State& state) {
    constexpr uint32_t series = 1000;
    const auto span_minutes = static_cast<uint32_t>(state.range(0));
    Fixture f(series * 90 + 1024);
    tsdb::time_series_layout_t layout = workload::three_levels();
    layout.data_type = Type;
    if (Type == tsdb::type_incident) {
        layout.levels = {{65536, 1}};
    }
    std::vector<uint32_t> ids;
    for (uint32_t s = 0; s < series; ++s) {
        ids.push_back(f.engine->create_series(layout));
    }
    write_week<Type>(*f.engine, ids);
    const int64_t to = workload::start_time + int64_t{7} * 1440 * 60;
    const int64_t from = to - int64_t{span_minutes} * 60;
    uint64_t decoded = 0;
    for (auto _ : state) {
        for (uint32_t id : ids) {
            decoded += f.engine->get<Type>(id, from, to).size();
        }
    }
    state.counters["records_per_s"] =
        benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
}
BENCHMARK(read_range<tsdb::type_continuous>)
    ->Arg(1440)
    ->Arg(30 * 1440)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(read_range<tsdb::type_enum>)->Arg(1440)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(read_range<tsdb::type_monotonic>)
    ->Arg(1440)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(read_range<tsdb::type_incident>)->Arg(1440)->Unit(benchmark::kMillisecond)->UseRealTime();

// The last hour of one series whose one-minute level holds a day, or a
// year: a read costs what it returns, not what the level holds.
void last_hour_of_a_long_level(benchmark::State& state) {
    const auto minutes = static_cast<uint32_t>(state.range(0));
    Fixture f(minutes * 28 / 4096 + 1024);
    const uint32_t id = f.engine->create_series({tsdb::type_continuous, {{minutes, 60}}});
    workload::Samples samples;
    for (uint32_t m = 0; m < minutes; ++m) {
        f.engine->put<1>(id, samples.at(0, m));
    }
    f.engine->flush_all();
    f.engine->phase_shift();
    const int64_t to = workload::start_time + int64_t{minutes} * 60;
    uint64_t decoded = 0;
    for (auto _ : state) {
        decoded += f.engine->get<1>(id, to - 3600, to).size();
    }
    state.counters["records_per_read"] = double(decoded) / double(state.iterations());
}
BENCHMARK(last_hour_of_a_long_level)
    ->Arg(1440)
    ->Arg(525600)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// One series whose levels are all full, so that every insert aggregates.
void aggregation_heavy(benchmark::State& state) {
    Fixture f(2048);
    const uint32_t id =
        f.engine->create_series({tsdb::type_continuous, {{146, 60}, {146, 300}, {146, 3600}}});
    f.engine->configure({32, 1, 600, 8});
    workload::Samples samples;
    uint32_t m = 0;
    for (; m < 20000; ++m) {
        f.engine->put<1>(id, samples.at(0, m));
    }
    for (auto _ : state) {
        f.engine->put<1>(id, samples.at(0, m++));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(aggregation_heavy)->UseRealTime();

}  // namespace
