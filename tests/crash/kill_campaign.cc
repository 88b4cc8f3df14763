// The database process killed at random moments while a known stream of
// samples goes in: during start-up (open, repair, the upgrade of old buffer
// levels), ingest, aggregation and the commits it forces, age flushes, and
// shutdown. After every kill the file must pass the inspector's check, the
// process must start on it as it is, and what it holds must be the stream:
// every sample exactly, every aggregate the aggregation of the samples it
// spans, no gap, nothing it did not receive, the oldest minute still there,
// at least everything that was there when the process last started, and
// everything handled before the last completed commit but what a write
// buffer can still hold. A failed write request fails the campaign, and so
// does a database that keeps less than a minute per life. All along, a live
// reader reads the file as the reading tools do, across starts, commits and
// kills: every read of one committed state must be consistent and hold at
// least the minutes that were durable when it began.
//
//   kill_campaign TSDB INSPECT DIR KILLS [SEED]
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "parent/tsdb_client.h"
#include "platform/process.h"
#include "tsdb/committed_read.h"
#include "tsdb/engine.h"
#include "tsdb/file/creation.h"

namespace {

constexpr int64_t t0 = 1'600'000'020;  // minute 0 of every series
constexpr int32_t float_type = 5;
constexpr int32_t enum_type = 3;
constexpr int32_t incident_type = 4;

struct Failure {
    std::string text;
};

void require(bool holds, const std::string& what) {
    if (!holds) {
        throw Failure{what};
    }
}

int64_t minute_of(int64_t t) { return (t - t0) / 60; }

// The stream: minute m of every series.
std::unique_ptr<tsdb::data_interval_t> sample(int32_t data_type, int64_t m) {
    const int64_t t = t0 + 60 * m;
    switch (data_type) {
        case float_type: {
            const auto v = static_cast<float>(m);
            return std::make_unique<tsdb::data_interval_continuous_t>(t, t + 60, v, v, v, 1, 0);
        }
        case enum_type:
            return std::make_unique<tsdb::data_interval_enum_t>(1u << (m % 4), 1, 0, t, t + 60);
        default:
            return std::make_unique<tsdb::data_interval_incident_t>(static_cast<uint32_t>(m % 5),
                                                                    "m=" + std::to_string(m), t);
    }
}

// Samples a series' write buffer may hold in memory only.
constexpr int64_t buffer_entries = 32;

// At most this many series are made in the shape older versions made, with
// a buffer level that every start converts.
constexpr size_t old_shapes = 8;

struct Series {
    int32_t data_type;
    bool keeps_oldest = true;  // its coarsest level never fills
    uint32_t id = 0;
    int64_t next = 0;     // the next minute to write
    int64_t synced = 0;   // minutes before this were handled at the last sync
    int64_t durable = 0;  // minutes before this must survive a kill
};

// Checks one interval against the stream; returns the minutes it spans.
std::pair<int64_t, int64_t> check_interval(const Series& s, const tsdb::data_interval_t& i) {
    const std::string where = "series " + std::to_string(s.id) + ": ";
    if (const auto* c = dynamic_cast<const tsdb::data_interval_continuous_t*>(&i)) {
        const int64_t first = minute_of(c->start);
        const int64_t last = minute_of(c->end) - 1;
        require(c->nbad == 0 && c->ngood > 0, where + "bad or empty record");
        // An aggregate of minutes a..b holds min a, max b and b - a + 1 samples;
        // a read may have moved its start later, never its values.
        require(c->max == static_cast<float>(last), where + "max is not the last minute");
        require(c->min <= static_cast<float>(first), where + "min after the start");
        require(c->max - c->min + 1 == static_cast<float>(c->ngood), where + "sample count");
        require(std::fabs(c->avg - (c->min + c->max) / 2) <= 1e-3f * (1 + c->max),
                where + "average");
        return {first, last};
    }
    if (const auto* e = dynamic_cast<const tsdb::data_interval_enum_t*>(&i)) {
        const int64_t first = minute_of(e->start);
        const int64_t last = minute_of(e->end) - 1;
        require(e->nbad == 0 && e->ngood >= static_cast<uint32_t>(last - first + 1),
                where + "enum sample count");
        // The states of the minutes it spans, and no other; a read may have
        // moved its start later, so more states may show.
        uint32_t states = 0;
        for (int64_t m = first; m <= last && m < first + 4; ++m) {
            states |= 1u << (m % 4);
        }
        require((e->mask & states) == states && (e->mask & ~0xFu) == 0, where + "enum mask");
        if (first == last && e->ngood == 1) {
            require(e->mask == 1u << (first % 4), where + "enum state");
        }
        return {first, last};
    }
    const auto& n = dynamic_cast<const tsdb::data_interval_incident_t&>(i);
    const int64_t m = minute_of(n.itime);
    require((n.itime - t0) % 60 == 0 && n.msg == "m=" + std::to_string(m) && n.sev == m % 5,
            where + "incident " + n.msg);
    return {m, m};
}

// Reads the whole series and checks it against the stream: no gap, nothing
// past what was sent. Returns the minute after the newest one held.
int64_t verify(parent::TsdbClient& client, const Series& s) {
    const tsdb::interval_list all =
        client.get({s.id, s.data_type, 0, true, s.data_type == incident_type ? -1 : 0,
                    t0 + 60 * (s.next + 1), 0, 0});
    int64_t expected = -1;
    for (const auto& i : all.items) {
        const auto [first, last] = check_interval(s, *i);
        require(expected < 0 || first <= expected,
                "series " + std::to_string(s.id) + ": gap before minute " + std::to_string(first));
        require(expected >= 0 || !s.keeps_oldest || first == 0,
                "series " + std::to_string(s.id) + " lost its oldest minutes: it starts at " +
                    std::to_string(first));
        expected = std::max(expected, last + 1);
    }
    const int64_t held = std::max<int64_t>(expected, 0);
    require(held <= s.next, "series " + std::to_string(s.id) + " holds minutes never sent");
    require(held >= s.durable, "series " + std::to_string(s.id) + " lost minute " +
                                   std::to_string(held) + " that was there before (" +
                                   std::to_string(s.durable) + " were durable, " +
                                   std::to_string(s.next) + " sent)");
    return held;
}

// Reads the continuous series again and again while the process lives and
// dies, as a reading tool does: the last commit, read again when one lands.
class LiveReader {
public:
    LiveReader(std::string path, const std::atomic<uint32_t>& id,
               const std::atomic<int64_t>& durable)
        : path_(std::move(path)), id_(id), durable_(durable), thread_([this] { loop(); }) {}
    ~LiveReader() {
        reading_ = false;
        thread_.join();
    }
    LiveReader(const LiveReader&) = delete;
    LiveReader& operator=(const LiveReader&) = delete;

    int reads() const { return reads_; }
    // What a read found wrong; empty while nothing.
    std::string failure() {
        const std::lock_guard<std::mutex> hold(mutex_);
        return failure_;
    }

private:
    void loop() {
        while (reading_) {
            const uint32_t id = id_;
            const int64_t durable = durable_;
            if (id == no_series) {
                std::this_thread::yield();
                continue;
            }
            std::string wrong;
            try {
                tsdb::read_committed([&] {
                    const auto engine = tsdb::Engine::open_read_only(path_);
                    wrong = read_wrong(*engine, id, durable);
                    return engine->unchanged_since_open();
                });
            } catch (const error::Exception& e) {
                wrong = e.text();
            }
            ++reads_;
            if (!wrong.empty()) {
                const std::lock_guard<std::mutex> hold(mutex_);
                failure_ = "live read " + std::to_string(reads_) + ": " + wrong;
                return;
            }
        }
    }

    static std::string read_wrong(tsdb::Engine& engine, uint32_t id, int64_t durable) {
        const std::vector<std::string> problems = engine.problems();
        if (!problems.empty()) {
            return problems.front();
        }
        int64_t minutes = 0;
        for (const auto& r : engine.get<tsdb::type_continuous>(id, 0, int64_t{1} << 40)) {
            if (!tsdb::is_valid(r)) {
                return "a record nobody wrote";
            }
            minutes += r.ngood;
        }
        return minutes >= durable ? ""
                                  : "it holds " + std::to_string(minutes) + " minutes of " +
                                        std::to_string(durable) + " durable";
    }

public:
    static constexpr uint32_t no_series = 0xFFFFFFFF;

private:
    std::string path_;
    const std::atomic<uint32_t>& id_;
    const std::atomic<int64_t>& durable_;
    std::atomic<bool> reading_{true};
    std::atomic<int> reads_{0};
    std::mutex mutex_;
    std::string failure_;
    std::thread thread_;
};

class Campaign {
public:
    Campaign(std::string tsdb, std::string inspect, std::string dir, uint32_t seed)
        : tsdb_(std::move(tsdb)),
          inspect_(std::move(inspect)),
          dir_(std::move(dir)),
          random_(seed) {
        mkdir(dir_.c_str(), 0700);
        tsdb::create_database({dir_ + "/kill.tsdb", 1024, 3, 512, true});
    }

    // Lives of the process until it was killed `kills` times.
    void run(int kills) {
        LiveReader reader(dir_ + "/kill.tsdb", reader_series_, reader_durable_);
        for (int life = 1; kills_ < kills; ++life) {
            require(reader.failure().empty(), reader.failure());
            try {
                cycle(life);
            } catch (const Failure& f) {
                throw Failure{"life " + std::to_string(life) + ", the last kill landed after " +
                              last_kill_ + ": " + f.text};
            }
        }
        finish();
        require(reader.failure().empty(), reader.failure());
        std::cout << "live reads beside the lives and kills: " << reader.reads() << "\n";
    }

private:
    // What the live reader must find: the continuous series' durable minutes.
    void publish_durable() {
        if (!series_.empty()) {
            reader_durable_ = series_[0].durable;
            reader_series_ = series_[0].id;
        }
    }

    // One life of the process: start, verify, write, die.
    void cycle(int n) {
        const int kind = static_cast<int>(random_() % 10);
        if (kind == 2 && !series_.empty()) {
            kill_while_starting(n);
            return;
        }
        auto child = start();
        parent::TsdbClient client(*child);
        if (series_.empty()) {
            create(client);
        }
        for (Series& s : series_) {
            s.next = s.synced = s.durable = verify(client, s);
        }
        publish_durable();
        if (kind == 3 && series_.size() < 3 + old_shapes) {
            create_old_shape(client);
        }
        write_for_a_while(client);
        if (kind == 0) {  // a clean stop keeps everything
            require(child->stop() == 0, "the process did not stop cleanly");
            clean_stops_++;
            return;
        }
        if (kind == 1) {  // killed during its shutdown
            queues::event_of<queues::SYS_EXIT> exit;
            child->send(exit);
            std::this_thread::sleep_for(std::chrono::microseconds(random_() % 3000));
        }
        platform::kill_process(child->pid(), SIGKILL);
        require(child->exit_status({5, 0}).has_value(), "the killed process did not end");
        count_kill();
        check_file(n);
    }

    // Killed at a random moment of its start: the open with its repairs and
    // phase shift, or the conversion of old buffer levels.
    void kill_while_starting(int n) {
        const auto delay = std::chrono::microseconds(random_() % 5000);
        std::thread killer;
        parent::ChildOptions options = child_options();
        options.on_started = [&killer, delay](int pid) {
            killer = std::thread([pid, delay] {
                std::this_thread::sleep_for(delay);
                platform::kill_process(pid, SIGKILL);
            });
        };
        landmark_ = "start-up";
        // The killer is joined however the start ends.
        const auto join_killer = [&killer] {
            if (killer.joinable()) {
                killer.join();
            }
        };
        try {
            parent::ChildProcess child(options);
            join_killer();
            require(child.exit_status({5, 0}).has_value(), "the killed process did not end");
        } catch (const parent::EChild&) {
            join_killer();
            killed_starting_++;
        } catch (...) {
            join_killer();
            throw;
        }
        count_kill();
        check_file(n);
    }

    void count_kill() {
        kills_++;
        landings_[landmark_]++;
        last_kill_ = landmark_;
    }

    void finish() {
        auto child = start();
        parent::TsdbClient client(*child);
        for (Series& s : series_) {
            s.durable = verify(client, s);
        }
        require(child->stop() == 0, "the last process did not stop cleanly");
        require(series_[0].durable >= kills_,
                "the database kept " + std::to_string(series_[0].durable) + " minutes in " +
                    std::to_string(kills_) + " lives");
        std::cout << "kills survived: " << kills_ << ", clean stops: " << clean_stops_
                  << ", minutes held: " << series_[0].durable
                  << ", series with an old shape: " << series_.size() - 3
                  << ", killed before they were up: " << killed_starting_
                  << "\nkills landed after:";
        for (const auto& [where, count] : landings_) {
            std::cout << " " << where << " " << count << ",";
        }
        std::cout << "\n";
    }

    parent::ChildOptions child_options() {
        // Nothing of the last life counts as synced: it may be lost.
        for (Series& s : series_) {
            s.synced = s.durable;
        }
        // An age of 0: the samples are old, so every age flush writes.
        parent::ChildOptions options =
            parent::database_child(tsdb_, dir_ + "/kill.tsdb", {buffer_entries, 4, 0, 8});
        options.configuration.log_mask = 0x4000000;  // commits are logged
        options.on_log = [this](const std::string& line) { observe(line); };
        options.error_output = dir_ + "/stderr";
        return options;
    }

    std::unique_ptr<parent::ChildProcess> start() {
        landmark_ = "start-up";
        return std::make_unique<parent::ChildProcess>(child_options());
    }

    // Follows the process's log: where a kill would land, and what is durable.
    void observe(const std::string& line) {
        if (line.find(" complete!") != std::string::npos) {
            landmark_ = "a commit";
            // A commit logged after a sync's reply came after everything that
            // sync waited for: all of it but what the buffers hold is durable.
            for (Series& s : series_) {
                s.durable = std::max(s.durable, s.synced - buffer_entries);
            }
            publish_durable();
        } else if (line.find("target records to lblock") != std::string::npos) {
            landmark_ = "an aggregation";
        } else if (line.find("Flushing all in-memory buffers") != std::string::npos) {
            landmark_ = "the shutdown's flush";
        } else if (line.find("has a pre-3.2.1 buffer-level") != std::string::npos) {
            landmark_ = "a buffer-level upgrade";
        }
    }

    void create(parent::TsdbClient& client) {
        // Small fine levels: aggregation and the commits it forces happen
        // often; coarsest levels that never fill, so no minute is dropped.
        series_ = {{float_type}, {enum_type}, {incident_type, false}};
        series_[0].id =
            client.create({tsdb::type_continuous, {{40, 60}, {30, 300}, {20000, 3600}}});
        series_[1].id = client.create({tsdb::type_enum, {{60, 60}, {40, 900}, {20000, 3600}}});
        series_[2].id = client.create({tsdb::type_incident, {{4096, 60}}});
    }

    // A series as older versions made it: the next start converts it.
    void create_old_shape(parent::TsdbClient& client) {
        series_.push_back({float_type});
        series_.back().id =
            client.create({tsdb::type_continuous, {{100, 1}, {100, 60}, {20000, 3600}}});
    }

    void write_for_a_while(parent::TsdbClient& client) {
        const uint32_t requests = 1 + random_() % 40;
        std::vector<uint32_t> puts;
        for (uint32_t r = 0; r < requests; ++r) {
            const auto minutes = static_cast<int64_t>(1 + random_() % 30);
            for (Series& s : series_) {
                tsdb::Put_Data_Data put{
                    queues::queue_main, s.id, tsdb::PUT_Append, s.data_type, {}};
                for (int64_t m = s.next; m < s.next + minutes; ++m) {
                    put.data.items.push_back(sample(s.data_type, m));
                }
                puts.push_back(client.put_async(put));
                s.next += minutes;
            }
            if (random_() % 4 == 0) {
                client.sync();
                check_puts(client, puts);
                for (Series& s : series_) {
                    s.synced = s.next;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random_() % 20000));
    }

    // Every write that was answered must have succeeded.
    static void check_puts(parent::TsdbClient& client, std::vector<uint32_t>& puts) {
        for (uint32_t uid : puts) {
            try {
                client.check(uid);
            } catch (const parent::ERequestFailed& failed) {
                throw Failure{"a PUT_DATA failed: " + failed.text()};
            }
        }
        puts.clear();
    }

    void check_file(int n) {
        const std::string command = inspect_ + " check " + dir_ + "/kill.tsdb 2>&1";
        FILE* out = popen(command.c_str(), "r");
        std::string text;
        char buffer[512];
        while (size_t got = fread(buffer, 1, sizeof buffer, out)) {
            text.append(buffer, got);
        }
        require(pclose(out) == 0, "after kill " + std::to_string(n) + " the check found:\n" + text);
    }

    std::string tsdb_;
    std::string inspect_;
    std::string dir_;
    std::mt19937 random_;
    std::vector<Series> series_;
    int kills_ = 0;
    int clean_stops_ = 0;
    int killed_starting_ = 0;
    std::string landmark_;  // the last thing the process logged that a kill may hit
    std::map<std::string, int> landings_;
    std::string last_kill_ = "nothing";
    std::atomic<uint32_t> reader_series_{LiveReader::no_series};
    std::atomic<int64_t> reader_durable_{0};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: kill_campaign TSDB INSPECT DIR KILLS [SEED]\n";
        return 2;
    }
    const int kills = std::stoi(argv[4]);
    const uint32_t seed = argc > 5 ? static_cast<uint32_t>(std::stoul(argv[5])) : 1;
    try {
        Campaign(argv[1], argv[2], argv[3], seed).run(kills);
        std::cout << "kill_campaign (seed " << seed << "): passed\n";
    } catch (const Failure& f) {
        std::cerr << "kill_campaign (seed " << seed << "): " << f.text << "\n";
        return 1;
    } catch (const error::Exception& e) {
        std::cerr << "kill_campaign (seed " << seed << "): " << e.text() << "\n";
        return 1;
    }
    return 0;
}
