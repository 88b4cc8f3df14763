// A live read of one series: a day of minutes from a file of 10 000 series,
// read the way every reading verb reads (the last commit, read again when a
// commit lands meanwhile), while a database holds the file and while nobody
// does. The chains are read once per read, not once per series.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tsdb/committed_read.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

constexpr uint32_t series = 10000;
constexpr uint32_t t0 = 1700000000;
const std::string path = "/tmp/tsdb_live_read_bench.tsdb";

// The file: 10 000 series of a day of minutes, a week of 5 minutes and a
// year of hours; the last holds a full day.
void make_file() {
    tsdb::create_database({path, 4096, 3, 120000, true});
    tsdb::Engine engine(tsdb::Database::open(path));
    for (uint32_t i = 0; i < series; ++i) {
        engine.create_series({tsdb::type_continuous, {{1440, 60}, {2016, 300}, {8760, 3600}}});
    }
    for (uint32_t m = 0; m < 1440; ++m) {
        const auto v = static_cast<float>(m % 60);
        engine.put<tsdb::type_continuous>(series - 1, {t0 + 60 * m, 60, 1, 0, v, v, v});
    }
    engine.flush_all();
    engine.phase_shift();
}

void read_day(benchmark::State& state) {
    size_t records = 0;
    for (auto _ : state) {
        tsdb::read_committed([&] {
            const auto engine = tsdb::Engine::open_read_only(path);
            records = engine->get<tsdb::type_continuous>(series - 1, t0, t0 + 86400).size();
            return engine->unchanged_since_open();
        });
    }
    state.counters["records"] = static_cast<double>(records);
}

void day_of_one_series_nobody_holds(benchmark::State& state) { read_day(state); }

void day_of_one_series_a_database_holds(benchmark::State& state) {
    const tsdb::Engine holder(tsdb::Database::open(path));
    read_day(state);
}

BENCHMARK(day_of_one_series_nobody_holds)->Unit(benchmark::kMillisecond);
BENCHMARK(day_of_one_series_a_database_holds)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    make_file();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(path.c_str());
    return 0;
}
