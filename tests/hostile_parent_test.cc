// A parent that misbehaves over the real transport: after writes the process
// has acknowledged, it sends mutated events, list counts no event can hold,
// requests raced by bytes that are no event, bursts, and MessageAt
// announcements of blocks that are not its messages. Whatever comes, the
// process never aborts or hangs, every reply to a request sent before the
// hostile bytes arrives, and every acknowledged record stays on disk.
// Runs TSDB_HOSTILE_SECONDS (default 15) of random cases, from the seed
// TSDB_HOSTILE_SEED when given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "io/control_message.h"
#include "io/memory_pipe.h"
#include "platform/descriptor.h"
#include "queues/event_stream.h"
#include "tests/support/tsdb_process.h"
#include "tsdb/engine.h"
#include "util/time_value.h"

using namespace testing_support;

namespace {

constexpr int64_t t0 = 1700000000;

std::vector<uint8_t> bytes_of(const queues::event& e) {
    io::MemoryPipe pipe;
    protocol::ioprim io(nullptr, &pipe.out());
    queues::write_event(io, e);
    io.flush();
    return pipe.take();
}

void send_raw(parent::ChildProcess& child, const std::vector<uint8_t>& bytes) {
    io::OStream& out = child.messenger().output(queues::queue_tsdb);
    for (size_t done = 0; done < bytes.size();) {
        const io::Area<uint8_t> room = out.writeBegin();
        if (room.size == 0) {
            io::waitReady(out, util::TimeValue(5, 0));
            continue;
        }
        const size_t n = std::min(room.size, bytes.size() - done);
        std::memcpy(room.data, bytes.data() + done, n);
        out.writeCommit(n);
        done += n;
    }
    out.flush();
}

// A control message straight into the process's FIFO, as if from the parent.
void send_control(parent::ChildProcess& child, const io::ControlMessage& m) {
    int error = 0;
    const auto published = platform::read_small_file(child.fifo_prefix() + ".20", error);
    ASSERT_TRUE(published.has_value());
    const std::string path = published->substr(published->find(':') + 1);
    const platform::Opened fifo =
        platform::open_fifo_writer(path.ends_with('\n') ? path.substr(0, path.size() - 1) : path);
    std::array<uint8_t, io::ControlMessage::size> bytes{};
    m.encode(bytes.data());
    platform::write_some(fifo.fd, bytes.data(), bytes.size());
    platform::close_descriptor(fifo.fd);
}

tsdb::Put_Data_Data minutes(uint32_t id, int64_t first, int count) {
    tsdb::Put_Data_Data put{queues::queue_main, id, tsdb::PUT_Append, 5, {}};
    for (int64_t m = first; m < first + count; ++m) {
        put.data.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
            t0 + 60 * m, t0 + 60 * (m + 1), 1.0f, 2.0f, 3.0f, 1, 0));
    }
    return put;
}

std::vector<uint8_t> no_event() { return {44, 1, 0, 0, 0, 0, 0, 0}; }  // type 300

class HostileParent {
public:
    HostileParent(TsdbProcess& tsdb, uint32_t seed) : tsdb_(tsdb), rng_(seed) {}

    // One case; what went wrong, or empty.
    std::string run() {
        child_ = tsdb_.start();
        parent::TsdbClient client(*child_);
        id_ = client.create({tsdb::type_continuous, {{20000, 60}}});
        acknowledged_ = pick(1, 50);
        client.put(minutes(id_, 0, static_cast<int>(acknowledged_)));
        const std::optional<uint32_t> raced = misbehave(client);
        if (raced) {
            try {
                child_->await(*raced, util::TimeValue(10, 0));
            } catch (const parent::EChild& e) {
                return "the reply to a request sent before the hostile bytes was lost: " + e.text();
            }
        }
        std::string ended = end_of_process();
        return ended.empty() ? stored() : ended;
    }

    std::string kind;

private:
    uint64_t pick(uint64_t low, uint64_t high) {
        return std::uniform_int_distribution<uint64_t>(low, high)(rng_);
    }

    // The hostile part; the uid of a request whose reply must arrive.
    std::optional<uint32_t> misbehave(parent::TsdbClient& client) {
        switch (pick(0, 4)) {
            case 0: {
                kind = "a mutated event";
                std::vector<uint8_t> bytes = mutated(bytes_of(queues::event_of<queues::PUT_DATA>(
                    queues::queue_tsdb, 0, minutes(id_, 100000, 3))));
                // What follows a cut: the rest of its intervals, then a type
                // that no event has.
                bytes.insert(bytes.end(), 4096, 0xFF);
                send_raw(*child_, bytes);
                return std::nullopt;
            }
            case 1: {
                kind = "a list count no event holds";
                std::vector<uint8_t> bytes = bytes_of(queues::event_of<queues::PUT_DATA>(
                    queues::queue_tsdb, 0, minutes(id_, 100000, 1)));
                // The interval count follows the header and four fields.
                const uint32_t count = pick(0, 1) ? 0xFFFFFFFFu : 1u << 30;
                std::memcpy(bytes.data() + 16 + 16, &count, 4);
                send_raw(*child_, bytes);
                return std::nullopt;
            }
            case 2: {
                kind = "a request raced by bytes that are no event";
                queues::event_of<queues::RECOVERY_CHECKSUM_TIMESERIES> ask(queues::queue_tsdb, 0,
                                                                           id_);
                ask.uid = 900000;
                std::vector<uint8_t> bytes = bytes_of(ask);
                const std::vector<uint8_t> junk = no_event();
                bytes.insert(bytes.end(), junk.begin(), junk.end());
                send_raw(*child_, bytes);
                return ask.uid;
            }
            case 3: {
                kind = "a burst, then bytes that are no event";
                for (uint32_t m = 0; m < 200; ++m) {
                    client.put_async(minutes(id_, static_cast<int64_t>(acknowledged_ + m), 1));
                }
                client.sync();
                acknowledged_ += 200;
                send_raw(*child_, no_event());
                return std::nullopt;
            }
            default: {
                kind = "a MessageAt of a block that is not a message";
                // Mostly in the pool (its header, the parent's area, the
                // process's), sometimes anywhere a control message can name.
                const uint64_t offset =
                    8 * (pick(0, 3) > 0 ? pick(0, uint64_t{3} << 20) : pick(0, (1u << 29) - 1));
                send_control(*child_,
                             io::ControlMessage::valued(io::ControlType::MessageAt, offset, 0));
                return std::nullopt;
            }
        }
    }

    // Changes inside the intervals, or the event cut short there. An event
    // whose counts or lengths promise more bytes waits for them, as any
    // stream's reader must: those stay as they were written.
    std::vector<uint8_t> mutated(std::vector<uint8_t> bytes) {
        constexpr size_t intervals_at = 16 + 16 + 4;  // header, four fields, the count
        if (pick(0, 1) == 0) {
            for (uint64_t n = pick(1, 8); n > 0; --n) {
                bytes[pick(intervals_at, bytes.size() - 1)] = static_cast<uint8_t>(pick(0, 255));
            }
        } else {
            bytes.resize(pick(intervals_at, bytes.size() - 1));
        }
        return bytes;
    }

    // The process either goes on answering (then stops by the protocol) or
    // ends its parent's stream by its own shutdown; it never dies of it.
    std::string end_of_process() {
        queues::event_of<queues::GET_METRIC_TYPE> probe;
        const uint32_t uid = child_->send(probe);
        bool answered = true;
        try {
            child_->await(uid, util::TimeValue(10, 0));
        } catch (const parent::EChild& e) {
            if (e.text().find("Timed out") != std::string::npos) {
                return "the process neither answered nor ended: " + e.text();
            }
            answered = false;
        }
        std::optional<int> status;
        try {
            status = answered ? child_->stop() : child_->exit_status(util::TimeValue(10, 0));
        } catch (const parent::EChild& e) {
            return "the process did not end cleanly: " + e.text();
        }
        if (!status || *status < 0 || (*status != 0 && !ended_by_breach())) {
            return "the process ended with status " + std::to_string(status.value_or(-999));
        }
        // A breach the process cannot go on after ends it at once, the write
        // buffers unflushed, as a crash would: only what was committed stays.
        if (*status != 0) {
            acknowledged_ = 0;
        }
        child_.reset();
        return "";
    }

    bool ended_by_breach() const {
        return tsdb_.error_output() ==
               "Caught: dbms_tsdb_convert<DataFloat> got non-continuous data\n";
    }

    std::string stored() {
        const auto engine = tsdb::Engine::open_read_only(tsdb_.database);
        const std::vector<std::string> problems = engine->problems();
        if (!problems.empty()) {
            return "the file has problems: " + problems.front();
        }
        uint64_t samples = 0;
        for (const auto& r : engine->get<tsdb::type_continuous>(id_, 0, int64_t{1} << 40)) {
            samples += r.ngood;
        }
        if (samples < acknowledged_) {
            return "the file holds " + std::to_string(samples) + " samples of " +
                   std::to_string(acknowledged_) + " acknowledged";
        }
        return "";
    }

    TsdbProcess& tsdb_;
    std::mt19937_64 rng_;
    std::unique_ptr<parent::ChildProcess> child_;
    uint32_t id_ = 0;
    uint64_t acknowledged_ = 0;
};

}  // namespace

TEST(HostileParent, NeverAbortsHangsLosesAReplyOrAnAcknowledgedRecord) {
    const char* seconds_text = std::getenv("TSDB_HOSTILE_SECONDS");
    const double seconds = seconds_text != nullptr ? std::stod(seconds_text) : 15;
    const char* seed_text = std::getenv("TSDB_HOSTILE_SEED");  // to repeat a case
    const uint32_t first_seed = seed_text != nullptr ? static_cast<uint32_t>(std::stoul(seed_text))
                                                     : std::random_device{}();
    const util::TimeValue until =
        util::TimeValue::now() + util::TimeValue(static_cast<int32_t>(seconds), 0);
    int cases = 0;
    for (uint32_t seed = first_seed; util::TimeValue::now() <= until; ++seed, ++cases) {
        TsdbProcess tsdb;
        HostileParent hostile(tsdb, seed);
        const std::string failed = hostile.run();
        ASSERT_EQ(failed, "") << "seed " << seed << ", " << hostile.kind
                              << "; error output: " << tsdb.error_output();
    }
    std::cout << cases << " hostile cases, first seed " << first_seed << "\n";
}
