// One system under the comparative benchmark, driven through the same
// workload: RRDtool through its C library, our engine in this process (with
// its commits synced, as always, or, to show what safety costs, without),
// or our database process through the parent library. Prints one JSON line
// of figures; the orchestrator (compare.py) runs each system in a process
// of its own so that memory and system calls are counted apart.
//
//   compare_driver workload FILE SERIES MINUTES
//   compare_driver floor FILE BYTES_PER_QUERY DIR
//   compare_driver run rrd|rrd-daemon|ours|ours-unsynced|ours-process DIR SERIES MINUTES
//                      WORKLOAD CHECK
// rrd-daemon goes through the rrdcached at $RRDCACHED_ADDRESS.
//
// A month is read at the resolution RRDtool answers it with: hourly rows
// from RRDtool, our records grouped into hours by the database's own
// grouping of GET_DATA.
//
// The workload file holds one float32 per sample (NaN for a failed one), so
// that the Python peer writes the same values.
// CHECK receives "series start seconds value" lines of every series' last
// day as read back.
#include <rrd.h>
// The daemon client's header has no C++ guards of its own.
extern "C" {
#include <rrd_client.h>
}
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/counting_file.h"
#include "parent/tsdb_client.h"
#include "platform/descriptor.h"
#include "platform/process.h"
#include "server/data_intervals.h"
#include "tools/workload.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

constexpr uint32_t start = 1699999980;  // a whole minute
constexpr uint32_t batch = 60;          // samples per series per write: an hour
constexpr int64_t day = 86400;
constexpr int64_t month = 30 * day;

using Clock = std::chrono::steady_clock;

// Samples arrive an hour per series at a time: the write buffer holds two
// such batches (the default 32 entries suit one sample a minute), so that a
// level waiting for its next commit does not force one per series.
constexpr tsdb::buffer_settings_t buffer_for_hourly_batches{128, 8, 600, 8};

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The workload file holds, hour after hour, for every series its 60
// samples of that hour: the drivers read it hour by hour, so that no
// system's memory figure includes the whole workload.
class Workload {
public:
    Workload(const std::string& file, uint32_t series, uint32_t minutes)
        : series(series), minutes(minutes), in_(file, std::ios::binary), hour_(series * batch) {
        if (!in_) {
            throw std::runtime_error("cannot read " + file);
        }
    }
    // Loads the hour that begins at minute `first`.
    void load_hour(uint32_t first) {
        in_.seekg(static_cast<std::streamoff>(uint64_t{first} * series * sizeof(float)));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): floats as the file's bytes
        in_.read(reinterpret_cast<char*>(hour_.data()),
                 static_cast<std::streamsize>(hour_.size() * sizeof(float)));
        if (!in_) {
            throw std::runtime_error("the workload file is shorter than SERIES x MINUTES");
        }
    }
    // Minute m of series s, m within the loaded hour.
    float at(uint32_t s, uint32_t m) const { return hour_[size_t{s} * batch + m % batch]; }
    int64_t end() const { return int64_t{start} + int64_t{minutes} * 60; }
    uint64_t samples() const { return uint64_t{series} * minutes; }

    const uint32_t series;
    const uint32_t minutes;

private:
    std::ifstream in_;
    std::vector<float> hour_;
};

void write_workload(const std::string& file, uint32_t series, uint32_t minutes) {
    if (minutes % batch != 0) {
        throw std::runtime_error("MINUTES must be whole hours");
    }
    workload::Samples samples(42, start, 60);
    std::vector<float> all(size_t{series} * minutes);
    for (uint32_t s = 0; s < series; ++s) {
        for (uint32_t m = 0; m < minutes; ++m) {
            const tsdb::continuous_record_t r = samples.at(s, m);
            all[(size_t{m} / batch * series + s) * batch + m % batch] = r.ngood > 0 ? r.avg : NAN;
        }
    }
    std::ofstream out(file, std::ios::binary);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): floats as the file's bytes
    out.write(reinterpret_cast<const char*>(all.data()),
              static_cast<std::streamsize>(all.size() * sizeof(float)));
}

// What each system does; the figures around it are the same for all.
struct System {
    std::function<void(uint32_t s)> create;
    std::function<void(uint32_t s, uint32_t first_minute)> write_hour;
    std::function<void()> finish_writes;
    // Values read for series s in [from, to); check lines when asked.
    std::function<size_t(uint32_t s, int64_t from, int64_t to, std::ostream* check)> read;
};

// --- RRDtool ------------------------------------------------------------

// Through rrdcached when `daemon` names its address: updates and fetches go
// to the daemon, as `rrdtool update --daemon` sends them.
System rrd_system(const std::string& dir, const Workload& w, const std::string& daemon) {
    if (!daemon.empty() && rrdc_connect(daemon.c_str()) != 0) {
        throw std::runtime_error("cannot reach rrdcached at " + daemon + ": " + rrd_get_error());
    }
    const auto file = [dir](uint32_t s) { return dir + "/" + std::to_string(s) + ".rrd"; };
    System sys;
    sys.create = [file](uint32_t s) {
        const char* args[] = {"DS:v:GAUGE:120:U:U",     "RRA:AVERAGE:0.5:1:1440",
                              "RRA:MIN:0.5:1:1440",     "RRA:MAX:0.5:1:1440",
                              "RRA:AVERAGE:0.5:5:2016", "RRA:MIN:0.5:5:2016",
                              "RRA:MAX:0.5:5:2016",     "RRA:AVERAGE:0.5:60:8760",
                              "RRA:MIN:0.5:60:8760",    "RRA:MAX:0.5:60:8760"};
        if (rrd_create_r(file(s).c_str(), 60, start - 60, 10, args) != 0) {
            throw std::runtime_error(std::string("rrd_create_r: ") + rrd_get_error());
        }
    };
    sys.write_hour = [file, &w, daemon](uint32_t s, uint32_t first) {
        std::vector<std::string> updates;
        for (uint32_t m = first; m < first + batch && m < w.minutes; ++m) {
            const float v = w.at(s, m);
            // A sample at t covers the step that ends at t + 60 in RRD's terms.
            updates.push_back(std::to_string(start + (m + 1) * 60) + ":" +
                              (std::isnan(v) ? std::string("U") : std::to_string(v)));
        }
        std::vector<const char*> argv;
        argv.reserve(updates.size());
        for (const std::string& u : updates) {
            argv.push_back(u.c_str());
        }
        const int n = static_cast<int>(argv.size());
        if ((daemon.empty() ? rrd_update_r(file(s).c_str(), nullptr, n, argv.data())
                            : rrdc_update(file(s).c_str(), n, argv.data())) != 0) {
            throw std::runtime_error(std::string("update: ") + rrd_get_error());
        }
    };
    // The daemon's cache reaches the files too, for the space and the bytes written.
    sys.finish_writes = [file, &w, daemon] {
        for (uint32_t s = 0; !daemon.empty() && s < w.series; ++s) {
            if (rrdc_flush(file(s).c_str()) != 0) {
                throw std::runtime_error(std::string("rrdc_flush: ") + rrd_get_error());
            }
        }
    };
    sys.read = [file, daemon](uint32_t s, int64_t from, int64_t to, std::ostream* check) {
        time_t first = from;
        time_t last = to;
        unsigned long step = to - from > 7 * day ? 3600 : 60;
        unsigned long count = 0;
        char** names = nullptr;
        rrd_value_t* data = nullptr;
        if ((daemon.empty() ? rrd_fetch_r(file(s).c_str(), "AVERAGE", &first, &last, &step, &count,
                                          &names, &data)
                            : rrdc_fetch(file(s).c_str(), "AVERAGE", &first, &last, &step, &count,
                                         &names, &data)) != 0) {
            throw std::runtime_error(std::string("fetch: ") + rrd_get_error());
        }
        const size_t rows = static_cast<size_t>((last - first) / static_cast<time_t>(step));
        for (size_t r = 0; check != nullptr && r < rows; ++r) {
            // Row r covers (first + r * step, first + (r + 1) * step].
            *check << s << " " << first + static_cast<time_t>(r * step) << " " << step << " "
                   << data[r] << "\n";
        }
        rrd_freemem(names[0]);
        rrd_freemem(names);
        rrd_freemem(data);
        return rows;
    };
    return sys;
}

// --- ours ----------------------------------------------------------------

tsdb::continuous_record_t record(const Workload& w, uint32_t s, uint32_t m) {
    const float v = w.at(s, m);
    const uint32_t t = start + m * 60;
    return std::isnan(v) ? tsdb::continuous_record_t{t, 60, 0, 1, 0, 0, 0}
                         : tsdb::continuous_record_t{t, 60, 1, 0, v, v, v};
}

// Every interval read, with its real span: samples and aggregates alike.
void check_lines(std::ostream* check, uint32_t s, const tsdb::continuous_record_t& r) {
    if (check != nullptr) {
        *check << s << " " << r.timestart << " " << r.duration << " " << (r.ngood > 0 ? r.avg : NAN)
               << "\n";
    }
}

std::vector<tsdb::continuous_record_t> grouped(
    const std::vector<tsdb::continuous_record_t>& records, int64_t from, int64_t to) {
    const tsdb::interval_list hours = server::continuous_intervals(
        server::data_float, records, {false, from, to, static_cast<uint32_t>((to - from) / 3600)});
    std::vector<tsdb::continuous_record_t> out;
    for (const auto& i : hours.items) {
        const auto& c = static_cast<const tsdb::data_interval_continuous_t&>(*i);
        out.push_back({static_cast<uint32_t>(c.start), static_cast<uint32_t>(c.end - c.start),
                       c.ngood, c.nbad, c.min, c.max, c.avg});
    }
    return out;
}

System engine_system(const std::string& dir, const Workload& w,
                     std::shared_ptr<tsdb::Engine>& engine, bool synced) {
    const std::string path = dir + "/ours.tsdb";
    tsdb::create_database({path, 4096, 3, w.series * 90 + 1024, true});
    std::unique_ptr<platform::RandomAccessFile> file =
        platform::open_random_access_file(path, platform::Access::read_write).file;
    if (!synced) {
        file = std::make_unique<bench_support::UnsyncedFile>(std::move(file));
    }
    engine = std::make_shared<tsdb::Engine>(
        tsdb::Database::open(tsdb::BackingStore(std::move(file), path)));
    engine->configure(buffer_for_hourly_batches);
    System sys;
    auto ids = std::make_shared<std::vector<uint32_t>>();
    sys.create = [engine, ids](uint32_t) {
        ids->push_back(engine->create_series(workload::three_levels()));
    };
    sys.write_hour = [engine, ids, &w](uint32_t s, uint32_t first) {
        for (uint32_t m = first; m < first + batch && m < w.minutes; ++m) {
            engine->put<tsdb::type_continuous>((*ids)[s], record(w, s, m));
        }
        if (s + 1 == w.series) {
            // The process's timer commits every 30 s, many times per hour of
            // real traffic: here once per simulated hour.
            engine->phase_shift();
        }
    };
    sys.finish_writes = [engine] {
        engine->flush_all();
        engine->phase_shift();
    };
    sys.read = [engine, ids](uint32_t s, int64_t from, int64_t to, std::ostream* check) {
        auto records = engine->get<tsdb::type_continuous>((*ids)[s], from, to);
        if (to - from > 7 * day) {
            records = grouped(records, from, to);
        }
        for (const auto& r : records) {
            check_lines(check, s, r);
        }
        return records.size();
    };
    return sys;
}

struct ProcessParts {
    std::unique_ptr<parent::ChildProcess> child;
    std::unique_ptr<parent::TsdbClient> client;
    std::vector<uint32_t> ids;
    uint32_t sent = 0;
};

System process_system(const std::string& dir, const Workload& w,
                      std::shared_ptr<ProcessParts>& parts) {
    const std::string path = dir + "/ours.tsdb";
    tsdb::create_database({path, 4096, 3, w.series * 90 + 1024, true});
    parts = std::make_shared<ProcessParts>();
    parent::ChildOptions options =
        parent::database_child(TSDB_BINARY, path, buffer_for_hourly_batches);
    options.on_log = [](const std::string&) {};
    options.error_output = "/dev/null";
    parts->child = std::make_unique<parent::ChildProcess>(options);
    parts->client = std::make_unique<parent::TsdbClient>(*parts->child);
    System sys;
    sys.create = [parts](uint32_t) {
        parts->ids.push_back(parts->client->create(workload::three_levels()));
    };
    sys.write_hour = [parts, &w](uint32_t s, uint32_t first) {
        tsdb::Put_Data_Data put{queues::queue_main, parts->ids[s], tsdb::PUT_Append, 5, {}};
        for (uint32_t m = first; m < first + batch && m < w.minutes; ++m) {
            const tsdb::continuous_record_t r = record(w, s, m);
            put.data.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
                r.timestart, r.timestart + 60, r.min, r.avg, r.max, r.ngood, r.nbad));
        }
        parts->client->put_async(put);
        if (++parts->sent % 64 == 0) {
            parts->client->sync();
        }
    };
    sys.finish_writes = [parts] { parts->client->sync(); };
    sys.read = [parts](uint32_t s, int64_t from, int64_t to, std::ostream* check) {
        const bool hourly = to - from > 7 * day;
        const tsdb::interval_list l =
            parts->client->get({parts->ids[s], 5, 0, !hourly, from, to,
                                hourly ? static_cast<uint32_t>((to - from) / 3600) : 0, 0});
        for (const auto& i : l.items) {
            const auto& c = dynamic_cast<const tsdb::data_interval_continuous_t&>(*i);
            check_lines(check, s,
                        {static_cast<uint32_t>(c.start), static_cast<uint32_t>(c.end - c.start),
                         c.ngood, c.nbad, c.min, c.max, c.avg});
        }
        return l.size();
    };
    return sys;
}

// The space each system keeps for the series' retention: the peers write
// their whole archives at creation; our file is sparse and counted by the
// blocks its allocation map gives to the series and to itself.
uint64_t reserved_bytes(const std::string& dir) {
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        if (entry.path().extension() == ".tsdb") {
            const tsdb::Database db =
                tsdb::Database::inspect(tsdb::BackingStore::open_backing_store(
                    entry.path().string(), platform::Access::read_only));
            bytes += uint64_t{db.allocation().allocated_count()} * db.block_size();
        } else {
            bytes += std::filesystem::file_size(entry.path());
        }
    }
    return bytes;
}

// Bytes this process and its children had sent to storage, pages dirtied
// through a mapping included.
uint64_t storage_write_bytes(int pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "write_bytes:") {
            return value;
        }
    }
    return 0;
}

// rrdcached's address, as rrdtool takes it.
std::string daemon_address() {
    const std::optional<std::string> address = platform::environment("RRDCACHED_ADDRESS");
    if (!address) {
        throw std::runtime_error("rrd-daemon needs RRDCACHED_ADDRESS");
    }
    return *address;
}

int run(const std::string& name, const std::string& dir, Workload& w,
        const std::string& check_file) {
    std::shared_ptr<tsdb::Engine> engine;
    std::shared_ptr<ProcessParts> parts;
    System sys = name == "rrd"             ? rrd_system(dir, w, "")
                 : name == "rrd-daemon"    ? rrd_system(dir, w, daemon_address())
                 : name == "ours"          ? engine_system(dir, w, engine, true)
                 : name == "ours-unsynced" ? engine_system(dir, w, engine, false)
                                           : process_system(dir, w, parts);
    for (uint32_t s = 0; s < w.series; ++s) {
        sys.create(s);
    }
    const auto ingest_began = Clock::now();
    for (uint32_t first = 0; first < w.minutes; first += batch) {
        w.load_hour(first);
        for (uint32_t s = 0; s < w.series; ++s) {
            sys.write_hour(s, first);
        }
    }
    sys.finish_writes();
    const double ingest = seconds_since(ingest_began);
    std::ofstream check(check_file);
    check.precision(9);
    size_t day_values = 0;
    const auto day_began = Clock::now();
    for (uint32_t s = 0; s < w.series; ++s) {
        day_values += sys.read(s, w.end() - day, w.end(), nullptr);
    }
    const double day_read = seconds_since(day_began);
    // The same reads again, untimed, for the agreement check.
    for (uint32_t s = 0; s < w.series; ++s) {
        sys.read(s, w.end() - day, w.end(), &check);
    }
    size_t month_values = 0;
    const auto month_began = Clock::now();
    for (uint32_t s = 0; s < w.series; ++s) {
        month_values += sys.read(s, w.end() - month, w.end(), nullptr);
    }
    const double month_read = seconds_since(month_began);
    uint64_t written = storage_write_bytes(getpid());
    if (parts) {
        written += storage_write_bytes(parts->child->pid());
        parts->child->stop();
    }
    // The file is measured once nothing holds it.
    sys = System{};
    engine.reset();
    std::printf(
        "{\"system\":\"%s\",\"samples\":%llu,\"ingest_s\":%.3f,\"day_values\":%zu,\"day_s\":%.3f,"
        "\"month_values\":%zu,\"month_s\":%.3f,\"bytes\":%llu,\"write_bytes\":%llu}\n",
        name.c_str(), static_cast<unsigned long long>(w.samples()), ingest, day_values, day_read,
        month_values, month_read, static_cast<unsigned long long>(reserved_bytes(dir)),
        static_cast<unsigned long long>(written));
    return 0;
}

// The floor under a read: reading the bytes of a range from the page cache
// into memory once (one read call per query; the same ranges are read once
// before the timing, so holes of the sparse file are not first touched
// inside it), and a bare round trip of a small message over two FIFOs
// between two threads, each waiting in poll, asleep or spinning.
double pread_copy_us(const std::string& file, uint64_t bytes_per_query, uint32_t queries) {
    const auto opened = platform::open_random_access_file(file, platform::Access::read_only);
    if (!opened.file) {
        throw std::runtime_error("cannot open " + file);
    }
    std::vector<uint8_t> buffer(bytes_per_query);
    const uint64_t file_bytes = std::filesystem::file_size(file);
    const auto read_all = [&] {
        for (uint32_t q = 0; q < queries; ++q) {
            const uint64_t at = (uint64_t{q} * 1'000'003 * 4096) % (file_bytes - bytes_per_query);
            opened.file->read_at(at, buffer);
        }
    };
    read_all();
    const auto began = Clock::now();
    read_all();
    return seconds_since(began) / queries * 1e6;
}

void wait_readable(int fd, bool spinning) {
    std::vector<platform::PollItem> items{{fd, true, false}};
    while (spinning && platform::poll_descriptors(items, 0) == 0) {
    }
    if (!spinning) {
        platform::poll_descriptors(items, -1);
    }
}

double fifo_round_trip_us(const std::string& dir, uint32_t trips, bool spinning) {
    const platform::Opened ping = platform::create_fifo(dir + "/ping.fifo");
    const platform::Opened pong = platform::create_fifo(dir + "/pong.fifo");
    if (ping.fd < 0 || pong.fd < 0) {
        throw std::runtime_error("cannot make FIFOs in " + dir);
    }
    uint8_t message[8] = {};
    std::thread echo([&] {
        for (uint32_t t = 0; t < trips; ++t) {
            wait_readable(ping.fd, spinning);
            platform::read_some(ping.fd, message, sizeof message);
            platform::write_some(pong.fd, message, sizeof message);
        }
    });
    uint8_t reply[8] = {};
    const auto began = Clock::now();
    for (uint32_t t = 0; t < trips; ++t) {
        platform::write_some(ping.fd, reply, sizeof reply);
        wait_readable(pong.fd, spinning);
        platform::read_some(pong.fd, reply, sizeof reply);
    }
    const double us = seconds_since(began) / trips * 1e6;
    echo.join();
    platform::close_descriptor(ping.fd);
    platform::close_descriptor(pong.fd);
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    try {
        if (a.size() == 4 && a[0] == "floor") {
            std::printf(
                "{\"pread_copy_us\":%.3f,\"fifo_round_trip_us\":%.3f,"
                "\"fifo_spinning_round_trip_us\":%.3f}\n",
                pread_copy_us(a[1], std::stoull(a[2]), 1000),
                fifo_round_trip_us(a[3], 10000, false), fifo_round_trip_us(a[3], 10000, true));
            return 0;
        }
        if (a.size() == 4 && a[0] == "workload") {
            write_workload(a[1], std::stoul(a[2]), std::stoul(a[3]));
            return 0;
        }
        if (a.size() == 7 && a[0] == "run" &&
            (a[1] == "rrd" || a[1] == "rrd-daemon" || a[1] == "ours" || a[1] == "ours-unsynced" ||
             a[1] == "ours-process")) {
            Workload w(a[5], std::stoul(a[3]), std::stoul(a[4]));
            return run(a[1], a[2], w, a[6]);
        }
    } catch (const std::exception& e) {
        std::cerr << "compare_driver: " << e.what() << "\n";
        return 1;
    } catch (const error::Exception& e) {
        std::cerr << "compare_driver: " << e.text() << "\n";
        return 1;
    }
    std::cerr << "usage: compare_driver workload FILE SERIES MINUTES\n"
                 "       compare_driver floor FILE BYTES_PER_QUERY DIR\n"
                 "       compare_driver run rrd|rrd-daemon|ours|ours-unsynced|ours-process DIR "
                 "SERIES MINUTES WORKLOAD "
                 "CHECK\n";
    return 2;
}
