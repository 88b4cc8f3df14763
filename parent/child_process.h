// The parent side of the transport, for tests, tools and benchmarks: plays
// sibling 0 for one child. It makes the pool and its own FIFO, starts the
// child with the transport's environment, answers its start-up (area,
// configuration), takes its log lines and start-up notices, sends requests
// and matches replies by uid (many may be in flight), and stops it by
// SYS_EXIT and the shutdown protocol. Every wait has a time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/sibling_messenger.h"
#include "parent/requests.h"
#include "queues/event_sender.h"
#include "queues/event_stream.h"
#include "util/time_value.h"

namespace parent {

// A child that went away, did not answer in time, or answered oddly.
class EChild : public error::Exception {
public:
    explicit EChild(std::string text, std::optional<int> exit_status = std::nullopt)
        : Exception(std::move(text)), exit_status(exit_status) {}
    // Set when the child ended during its start-up.
    std::optional<int> exit_status;
};

struct ChildOptions {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;
    control::Server_Configuration_Fields configuration;
    int32_t queue = queues::queue_tsdb;
    uint32_t area_size = 8 << 20;  // each side's area of the pool
    // Log lines of the child; stderr when unset.
    std::function<void(const std::string&)> on_log;
    // A file for the child's error output; ours when empty.
    std::string error_output;
    // Called with the child's pid once it runs, before its start-up is over
    // (a test that signals a starting child).
    std::function<void(int pid)> on_started;
    util::TimeValue start_timeout{10, 0};
};

class ChildProcess final : public Requests {
public:
    // Starts the child and waits until it sent INIT_OK. A child that ends
    // first raises EChild with its exit status.
    explicit ChildProcess(ChildOptions options);
    // Kills a child that is still running.
    ~ChildProcess() override;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    bool supports_metrics() const { return supports_metrics_; }
    // The queues the child said it depends on in INIT_OK.
    const std::set<queues::queue_t>& depend_on() const { return depend_on_; }

    // Sends the request with a fresh uid (set on it) and returns the uid.
    uint32_t send(queues::event& request) override;
    // The reply (or failure reply) to the request with this uid.
    std::unique_ptr<queues::event> await(uint32_t uid, util::TimeValue timeout = {30, 0});
    std::unique_ptr<queues::event> request(queues::event& request,
                                           util::TimeValue timeout = {30, 0});
    // The reply with this uid if it has already arrived, else null.
    std::unique_ptr<queues::event> take_reply(uint32_t uid) override;
    std::unique_ptr<queues::event> reply_to(uint32_t uid) override { return await(uid); }

    // SYS_EXIT, the shutdown protocol, and the child's exit status; EChild
    // when the child ends without its final AckShutdown, as a death.
    int stop(util::TimeValue timeout = {30, 0});
    // The exit status once the child has ended by itself.
    std::optional<int> exit_status(util::TimeValue timeout);

    io::SiblingMessenger& messenger() { return *messenger_; }
    // Where the pipes' publication files are: "<private directory>/smem".
    const std::string& fifo_prefix() const { return fifo_prefix_; }

private:
    // Handles incoming events until `done` holds or the deadline passes.
    void serve_until(const std::function<bool()>& done, util::TimeValue deadline,
                     const std::string& waiting_for);
    void handle(std::unique_ptr<queues::event> e);
    void send_event(const queues::event& e);
    void await_start();

    ChildOptions options_;
    std::string fifo_prefix_;
    int pool_fd_ = -1;
    std::unique_ptr<io::SiblingMessenger> messenger_;
    std::unique_ptr<protocol::ioprim> stream_;
    int pid_ = -1;
    std::optional<int> exit_status_;
    bool init_ok_ = false;
    bool supports_metrics_ = false;
    std::set<queues::queue_t> depend_on_;
    bool gone_ = false;
    queues::DialogCounter uids_;
    std::map<uint32_t, std::unique_ptr<queues::event>> replies_;
};

}  // namespace parent
