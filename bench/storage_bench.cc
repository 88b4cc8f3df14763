// Storage layout costs: opening a database with many series, a phase shift
// with few or many dirty entries, and allocation on a fragmented map.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "bench/counting_file.h"
#include "tsdb/file/allocation_map.h"
#include "tsdb/file/creation.h"
#include "tsdb/file/database.h"

namespace {

// A database file of `series` series, each with two small levels, made once
// per run in the temporary directory.
std::string database_with(uint32_t series) {
    static std::map<uint32_t, std::string> made;
    if (const auto found = made.find(series); found != made.end()) {
        return found->second;
    }
    const std::string path = "/tmp/tsdb_bench_" + std::to_string(series) + ".tsdb";
    if (made.empty()) {
        std::atexit([] {
            for (const auto& [count, file] : made) {
                std::remove(file.c_str());
            }
        });
    }
    tsdb::create_database({path, 4096, 3, 1024, true});
    tsdb::Database db = tsdb::Database::open(path);
    for (uint32_t i = 0; i < series; ++i) {
        const uint32_t finest = db.allocate_level(1, 60, db.allocate_level(1, 3600, 0));
        if (i < db.chain(tsdb::ChainKind::check).capacity()) {
            db.chain(tsdb::ChainKind::check).set_check_entry(i, {1, finest});
        } else {
            db.allocate_check_id(1, finest);  // grows the Check chain
        }
        if (i % 1000 == 999) {
            db.phase_shift_all();
        }
    }
    db.phase_shift_all();
    return made.emplace(series, path).first->second;
}

void open_database(benchmark::State& state) {
    const uint32_t series = static_cast<uint32_t>(state.range(0));
    const std::string path = database_with(series);
    for (auto _ : state) {
        tsdb::Database db = tsdb::Database::open(path);
        benchmark::DoNotOptimize(db.chain(tsdb::ChainKind::check).capacity());
    }
    state.counters["series"] = series;
}
BENCHMARK(open_database)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void phase_shift(benchmark::State& state) {
    const std::string path = database_with(10000);
    auto counting = std::make_unique<bench_support::CountingFile>(
        platform::open_random_access_file(path, platform::Access::read_write).file);
    bench_support::CountingFile& file = *counting;
    tsdb::Database db = tsdb::Database::open(tsdb::BackingStore(std::move(counting), path));
    const uint32_t dirty = static_cast<uint32_t>(state.range(0));
    const int64_t writes = file.writes;
    const int64_t syncs = file.syncs;
    uint32_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        for (uint32_t i = 0; i < dirty; ++i) {
            db.chain(tsdb::ChainKind::tail).set_position(1 + i * 2, round % 4000);
        }
        state.ResumeTiming();
        db.phase_shift_all();
    }
    const double shifts = static_cast<double>(state.iterations());
    state.counters["writes_per_shift"] = static_cast<double>(file.writes - writes) / shifts;
    state.counters["flushes_per_shift"] = static_cast<double>(file.syncs - syncs) / shifts;
}
BENCHMARK(phase_shift)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void allocation_cycles(benchmark::State& state) {
    // 1 GiB of 4 KiB blocks, half of it in use in scattered runs.
    constexpr uint32_t blocks = 262144;
    tsdb::AllocationMap map;
    map.initialise(blocks);
    map.mark(0, 1);
    std::mt19937 random(1);
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    while (map.allocated_count() < blocks / 2) {
        const uint32_t n = 1 + random() % 16;
        if (const uint32_t first = map.allocate(n); first != 0) {
            runs.emplace_back(first, n);
        }
    }
    std::shuffle(runs.begin(), runs.end(), random);
    for (size_t i = 0; i < runs.size() / 2; ++i) {
        map.release(runs[i].first, runs[i].second);
    }
    runs.erase(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(runs.size() / 2));
    size_t next = 0;
    for (auto _ : state) {
        const uint32_t n = 1 + random() % 16;
        const uint32_t first = map.allocate(n);
        benchmark::DoNotOptimize(first);
        if (first != 0) {
            runs.emplace_back(first, n);
        }
        auto& victim = runs[next++ % runs.size()];
        map.release(victim.first, victim.second);
        victim = runs.back();
        runs.pop_back();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(allocation_cycles);

}  // namespace
