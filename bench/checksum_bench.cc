// Checksum throughput on buffers of the sizes the database feeds them.
#include <benchmark/benchmark.h>

#include <vector>

#include "tsdb/file/crc2x32.h"
#include "tsdb/file/crc32.h"

namespace {

template <typename Checksum>
void throughput(benchmark::State& state) {
    const std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
    Checksum checksum;
    uint8_t digest[8];
    for (auto _ : state) {
        checksum.reset();
        checksum.update(data.data(), data.size());
        checksum.write_digest(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(throughput<security::Crc32>)->Arg(1 << 10)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(throughput<security::Crc2x32>)->Arg(1 << 10)->Arg(16 << 10)->Arg(1 << 20);

}  // namespace
