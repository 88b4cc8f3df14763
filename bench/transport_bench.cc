// The transport between two processes: round trips of small events (with a
// bare FIFO ping-pong as the floor), throughput with 1 and 64 requests in
// flight, and bulk transfer of 1 MiB events, against the echo child.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "parent/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

void percentiles(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

// Two processes passing one byte back and forth through two FIFOs.
void bare_fifo_round_trip(benchmark::State& state) {
    const std::string a = "/tmp/tsdb_bench_ping." + std::to_string(getpid());
    const std::string b = a + ".pong";
    mkfifo(a.c_str(), 0600);
    mkfifo(b.c_str(), 0600);
    const pid_t echo = fork();
    if (echo == 0) {
        const int in = open(a.c_str(), O_RDONLY);
        const int out = open(b.c_str(), O_WRONLY);
        char c;
        while (read(in, &c, 1) == 1 && write(out, &c, 1) == 1) {
        }
        _exit(0);
    }
    const int out = open(a.c_str(), O_WRONLY);
    const int in = open(b.c_str(), O_RDONLY);
    std::vector<double> us;
    char c = 'x';
    for (auto _ : state) {
        const auto t = Clock::now();
        if (write(out, &c, 1) != 1 || read(in, &c, 1) != 1) {
            state.SkipWithError("pipe failed");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    close(out);
    close(in);
    waitpid(echo, nullptr, 0);
    unlink(a.c_str());
    unlink(b.c_str());
    percentiles(state, us);
}
BENCHMARK(bare_fifo_round_trip)->Iterations(20000);

parent::ChildOptions echo_child() {
    parent::ChildOptions options;
    options.program = ECHO_CHILD;
    options.on_log = [](const std::string&) {};
    return options;
}

// 64 bytes on the stream: the 16-byte header, the length and 40 bytes.
queues::event_of<queues::RETURN_PURE_ENTROPY> small_event() {
    return queues::event_of<queues::RETURN_PURE_ENTROPY>(0, 0, std::string(40, 'x'));
}

void event_round_trip(benchmark::State& state) {
    parent::ChildProcess child(echo_child());
    auto e = small_event();
    std::vector<double> us;
    const uint64_t writes = child.messenger().control_writes();
    for (auto _ : state) {
        const auto t = Clock::now();
        child.request(e);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    state.counters["pipe_writes_per_event"] =
        double(child.messenger().control_writes() - writes) / double(state.iterations());
    percentiles(state, us);
    child.stop();
}
BENCHMARK(event_round_trip)->Iterations(20000);

void events_in_flight(benchmark::State& state) {
    parent::ChildProcess child(echo_child());
    const auto depth = static_cast<size_t>(state.range(0));
    auto e = small_event();
    std::vector<uint32_t> uids;
    const uint64_t writes = child.messenger().control_writes();
    for (auto _ : state) {
        uids.clear();
        for (size_t i = 0; i < depth; ++i) {
            uids.push_back(child.send(e));
        }
        for (uint32_t uid : uids) {
            child.await(uid);
        }
    }
    const double events = double(state.iterations()) * double(depth);
    state.counters["events_per_s"] = benchmark::Counter(events, benchmark::Counter::kIsRate);
    state.counters["pipe_writes_per_event"] =
        double(child.messenger().control_writes() - writes) / events;
    child.stop();
}
BENCHMARK(events_in_flight)->Arg(1)->Arg(64)->UseRealTime();

void bulk_1mib(benchmark::State& state) {
    parent::ChildProcess child(echo_child());
    queues::event_of<queues::RETURN_RECOVERY_EXTRACT_TIMESERIES> e(0, 0, std::string(1 << 20, 'b'));
    for (auto _ : state) {
        child.request(e);
    }
    // Each round trip carries the MiB both ways.
    state.SetBytesProcessed(int64_t(state.iterations()) * 2 * (1 << 20));
    child.stop();
}
BENCHMARK(bulk_1mib)->UseRealTime();

}  // namespace
