// Event encoding and decoding: a PUT_DATA of 100 continuous intervals and a
// GET_DATA reply of 10k, through the in-memory stream pair.
#include <benchmark/benchmark.h>

#include "io/memory_pipe.h"
#include "queues/event_stream.h"

namespace {

template <queues::event_t N>
queues::event_of<N> with_intervals(size_t n) {
    queues::event_of<N> e(queues::queue_tsdb, 7);
    for (size_t i = 0; i < n; ++i) {
        const auto t = static_cast<int64_t>(1700000000 + i * 60);
        e.payload.data.items.push_back(
            std::make_unique<tsdb::data_interval_continuous_t>(t, t + 60, 1.f, 2.f, 3.f, 1, 0));
    }
    return e;
}

void encode(benchmark::State& state, const queues::event& e) {
    io::MemoryPipe pipe(64 * 1024);
    protocol::ioprim io(nullptr, &pipe.out());
    size_t bytes = 0;
    for (auto _ : state) {
        queues::write_event(io, e);
        io.flush();
        bytes += pipe.take().size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void decode(benchmark::State& state, const queues::event& e) {
    io::MemoryPipe pipe(64 * 1024);
    protocol::ioprim out(nullptr, &pipe.out());
    queues::write_event(out, e);
    out.flush();
    const std::vector<uint8_t> bytes = pipe.take();
    protocol::ioprim in(&pipe.in(), nullptr);
    for (auto _ : state) {
        pipe.feed(bytes);
        benchmark::DoNotOptimize(queues::read_event(in));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

const auto put_data = with_intervals<queues::PUT_DATA>(100);
const auto get_reply = with_intervals<queues::RETURN_GET_DATA>(10000);

void encode_put_data_100(benchmark::State& s) { encode(s, put_data); }
void decode_put_data_100(benchmark::State& s) { decode(s, put_data); }
void encode_get_reply_10k(benchmark::State& s) { encode(s, get_reply); }
void decode_get_reply_10k(benchmark::State& s) { decode(s, get_reply); }

BENCHMARK(encode_put_data_100);
BENCHMARK(decode_put_data_100);
BENCHMARK(encode_get_reply_10k);
BENCHMARK(decode_get_reply_10k);

}  // namespace
