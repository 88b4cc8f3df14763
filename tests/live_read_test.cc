// A reader beside a writing database process: the process, under a test
// parent, creates, writes (its levels aggregating), deletes, merges and
// truncates series with commits every few requests, while a reader thread
// opens the file read-only again and again. Every read must be one
// committed state: consistent, only valid records, every record committed
// before the read began, and no series whose deletion was committed.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "tests/support/tsdb_process.h"
#include "tsdb/committed_read.h"
#include "tsdb/engine.h"

using namespace testing_support;

namespace {

constexpr int64_t t0 = 1700000000;
const tsdb::time_series_layout_t aggregating{tsdb::type_continuous,
                                             {{10, 60}, {50, 600}, {200, 3600}}};

// What the writer knows to be on disk as of its last commit. Ids are given
// again after a deletion: each life of an id is numbered.
struct Life {
    uint64_t number = 0;
    uint64_t samples = 0;  // at least these
    bool operator==(const Life&) const = default;
};
struct Committed {
    std::map<uint32_t, Life> series;
    std::set<uint32_t> deleted;
};

class Model {
public:
    Committed snapshot() {
        const std::lock_guard<std::mutex> hold(mutex_);
        return committed_;
    }
    void set(Committed c) {
        const std::lock_guard<std::mutex> hold(mutex_);
        committed_ = std::move(c);
    }

private:
    std::mutex mutex_;
    Committed committed_;
    uint64_t lives_ = 0;
};

// What is wrong with one read of the file against what was committed before
// it began; a series deleted or made again by the time it ended may be
// either way. Empty when nothing is.
std::string checked_read(tsdb::Engine& engine, const Committed& before, const Committed& after) {
    const std::vector<std::string> problems = engine.problems();
    if (!problems.empty()) {
        return problems.front();
    }
    for (const auto& [id, life] : before.series) {
        const auto now = after.series.find(id);
        if (now == after.series.end() || now->second.number != life.number) {
            continue;
        }
        if (!engine.series_exists(id)) {
            return "series " + std::to_string(id) + " is missing";
        }
        uint64_t samples = 0;
        for (const auto& r : engine.get<tsdb::type_continuous>(id, 0, int64_t{1} << 40)) {
            if (!tsdb::is_valid(r)) {
                return "series " + std::to_string(id) + " holds a record nobody wrote";
            }
            samples += r.ngood;
        }
        if (samples < life.samples) {
            return "series " + std::to_string(id) + " holds " + std::to_string(samples) +
                   " samples of " + std::to_string(life.samples) + " committed";
        }
    }
    for (uint32_t id : before.deleted) {
        if (!after.series.contains(id) && engine.series_exists(id)) {
            return "series " + std::to_string(id) + " is there after its deletion was committed";
        }
    }
    return "";
}

class Writer {
public:
    Writer(parent::TsdbClient& client, Model& model) : client_(client), model_(model) {}

    void round(int r) {
        for (auto& [id, written] : acknowledged_) {
            client_.put(minutes(id, written, 10 + r % 20));
            written += 10 + r % 20;
            client_.checksum(id);  // flushes its write buffer into its levels
        }
        if (acknowledged_.size() > 8) {
            // From now on a read may find it or not.
            const uint32_t gone = acknowledged_.begin()->first;
            acknowledged_.erase(gone);
            committed_.series.erase(gone);
            model_.set(committed_);
            client_.remove(gone);
            deleting_.insert(gone);
        }
        if (r % 7 == 6) {
            const uint32_t id = acknowledged_.rbegin()->first;
            client_.merge(id, {client_.extract(id)});
        }
        if (r % 9 == 8) {
            client_.truncate(truncated_, t0 + 60 * r);
        }
        // A creation commits everything before it; it may take a deleted id.
        const uint32_t made = client_.create(aggregating);
        acknowledged_[made] = 0;
        deleting_.erase(made);
        committed_.deleted.erase(made);
        commit_known();
    }

    void start() {
        truncated_ = client_.create(aggregating);
        for (int i = 0; i < 3; ++i) {
            acknowledged_[client_.create(aggregating)] = 0;
        }
        commit_known();
    }

private:
    void commit_known() {
        for (const auto& [id, written] : acknowledged_) {
            Life& life = committed_.series[id];
            life.samples = written;
            if (life.number == 0) {
                life.number = ++lives_;
            }
        }
        committed_.deleted.insert(deleting_.begin(), deleting_.end());
        deleting_.clear();
        model_.set(committed_);
    }

    static tsdb::Put_Data_Data minutes(uint32_t id, uint64_t first, uint64_t count) {
        tsdb::Put_Data_Data put{queues::queue_main, id, tsdb::PUT_Append, 5, {}};
        for (uint64_t m = first; m < first + count; ++m) {
            const int64_t start = t0 + 60 * static_cast<int64_t>(m);
            put.data.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
                start, start + 60, 1.0f, 2.0f, 3.0f, 1, 0));
        }
        return put;
    }

    parent::TsdbClient& client_;
    Model& model_;
    std::map<uint32_t, uint64_t> acknowledged_;
    std::set<uint32_t> deleting_;  // deleted, not yet committed
    Committed committed_;
    uint64_t lives_ = 0;
    uint32_t truncated_ = 0;
};

}  // namespace

TEST(LiveRead, EveryReadBesideAWritingProcessIsOneCommittedState) {
    TsdbProcess tsdb;
    tsdb.configuration.tsdb_buffer_entries = 4;
    tsdb.configuration.tsdb_buffer_write_min = 2;
    auto child = tsdb.start();
    parent::TsdbClient client(*child);
    Model model;
    Writer writer(client, model);
    writer.start();

    std::atomic<bool> writing{true};
    std::atomic<bool> failed{false};
    std::atomic<int> reads{0};
    std::string failure;  // the reader's, read after it ends
    std::thread reader([&] {
        while (writing && !failed) {
            const Committed before = model.snapshot();
            try {
                tsdb::read_committed([&] {
                    const auto engine = tsdb::Engine::open_read_only(tsdb.database);
                    const std::string wrong = checked_read(*engine, before, model.snapshot());
                    const bool one_state = engine->unchanged_since_open();
                    if (one_state && !wrong.empty()) {
                        failure = "read " + std::to_string(reads) + ": " + wrong;
                        failed = true;
                    }
                    return one_state;
                });
            } catch (const error::Exception& e) {
                failure = "read " + std::to_string(reads) + " failed: " + e.text();
                failed = true;
            }
            ++reads;
        }
    });
    int rounds = 0;
    for (; (rounds < 300 || reads < 2000) && rounds < 20000 && !failed; ++rounds) {
        writer.round(rounds);
    }
    writing = false;
    reader.join();
    EXPECT_EQ(failure, "");
    EXPECT_GE(reads, 2000);
    std::cout << reads << " reads beside " << rounds << " rounds of writes\n";
    EXPECT_EQ(child->stop(), 0);
}
