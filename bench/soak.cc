// A long run of the database process under a large catalogue: N series get
// a simulated month of samples, then ten thousand requests of every kind go
// in (the oldest-record search, which walks every series and logs two lines
// for each, a hundred times). The process's resident memory is sampled
// along the way; it must stay flat once every series has its buffer.
//
//   soak [--series N] [--days D] [--step S] [--requests R]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "parent/tsdb_client.h"
#include "tools/workload.h"
#include "tsdb/file/creation.h"

namespace {

using Clock = std::chrono::steady_clock;

long resident_kib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

struct Options {
    uint32_t series = 100000;
    uint32_t days = 30;
    uint32_t step = 3600;
    uint32_t requests = 10000;
};

Options parse(int argc, char** argv) {
    Options o;
    std::map<std::string, uint32_t*> known = {{"--series", &o.series},
                                              {"--days", &o.days},
                                              {"--step", &o.step},
                                              {"--requests", &o.requests}};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!known.contains(argv[i])) {
            throw std::runtime_error(std::string("unknown option ") + argv[i]);
        }
        *known[argv[i]] = static_cast<uint32_t>(std::stoul(argv[i + 1]));
    }
    return o;
}

class Soak {
public:
    explicit Soak(const Options& o) : o_(o), samples_(42, workload::start_time, o.step) {
        tsdb::create_database({path_, 4096, 3, o.series * 10 + 4096, true});
        parent::ChildOptions options = parent::database_child(TSDB_BINARY, path_);
        options.on_log = [](const std::string&) {};
        options.error_output = "/dev/null";
        child_ = std::make_unique<parent::ChildProcess>(options);
        client_ = std::make_unique<parent::TsdbClient>(*child_);
    }
    ~Soak() { std::remove(path_.c_str()); }

    void run() {
        sample("started");
        create_series();
        sample("series made");
        const uint32_t per_day = 86400 / o_.step;
        for (uint32_t day = 0; day < o_.days; ++day) {
            for (uint32_t s = 0; s < o_.series; ++s) {
                put(ids_[s], day * per_day, per_day);
            }
            client_->sync();
            sample("day " + std::to_string(day + 1));
        }
        requests_of_every_kind(per_day * o_.days);
        child_->stop();
    }

private:
    void sample(const std::string& when) {
        const double s = std::chrono::duration<double>(Clock::now() - began_).count();
        std::printf("%-22s %8.1f s  rss %8ld KiB\n", when.c_str(), s, resident_kib(child_->pid()));
        std::fflush(stdout);
    }

    tsdb::time_series_layout_t layout() const {
        const uint32_t per_day = 86400 / o_.step;
        return {tsdb::type_continuous, {{per_day * 30, o_.step}, {365, 86400}}};
    }

    void create_series() {
        std::vector<uint32_t> uids;
        for (uint32_t s = 0; s < o_.series; ++s) {
            queues::event_of<queues::CREATE_TIMESERIES> request(0, 0, layout());
            uids.push_back(child_->send(request));
            if (uids.size() == 64 || s + 1 == o_.series) {
                for (uint32_t uid : uids) {
                    const auto reply = child_->await(uid);
                    ids_.push_back(
                        static_cast<const queues::event_of<queues::RETURN_CREATE_TIMESERIES>&>(
                            *reply)
                            .payload);
                }
                uids.clear();
            }
        }
    }

    void put(uint32_t id, uint32_t first, uint32_t n) {
        tsdb::Put_Data_Data p{queues::queue_main, id, tsdb::PUT_Append, 5, {}};
        for (uint32_t m = first; m < first + n; ++m) {
            const tsdb::continuous_record_t r = samples_.at(id, m);
            p.data.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
                r.timestart, int64_t{r.timestart} + o_.step, r.min, r.avg, r.max, r.ngood, r.nbad));
        }
        client_->put_async(p);
        if (++sent_ % 64 == 0) {
            client_->sync();
        }
    }

    void requests_of_every_kind(uint32_t written) {
        const int64_t end = workload::start_time + int64_t{written} * o_.step;
        uint32_t next = written;
        for (uint32_t r = 0; r < o_.requests; ++r) {
            const uint32_t id = ids_[(r * 7919) % ids_.size()];
            client_->get({id, 5, 0, true, end - 86400, end, 0, 0});
            client_->get({id, 5, 0, false, end - 30 * 86400, end, 50, 0});
            put(id, next, 1);
            client_->describe(id);
            client_->checksum(id);
            const std::string patch = client_->extract(id);
            const uint32_t spare = client_->create(layout());
            client_->merge(spare, {patch});
            client_->truncate(spare, end - 86400);
            client_->remove(spare);
            client_->counter({"records", "get"});
            if (r % 100 == 0) {
                client_->oldest();
            }
            if (r % 1000 == 999) {
                next += 1;
                sample(std::to_string(r + 1) + " requests");
            }
        }
    }

    const Options o_;
    const std::string path_ = "/tmp/tsdb_soak.tsdb";
    workload::Samples samples_;
    std::unique_ptr<parent::ChildProcess> child_;
    std::unique_ptr<parent::TsdbClient> client_;
    std::vector<uint32_t> ids_;
    uint32_t sent_ = 0;
    const Clock::time_point began_ = Clock::now();
};

}  // namespace

int main(int argc, char** argv) {
    try {
        Soak(parse(argc, argv)).run();
    } catch (const std::exception& e) {
        std::cerr << "soak: " << e.what() << "\n";
        return 1;
    } catch (const error::Exception& e) {
        std::cerr << "soak: " << e.text() << "\n";
        return 1;
    }
    return 0;
}
