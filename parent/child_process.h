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
#include <string>
#include <utility>
#include <vector>

#include "io/sibling_messenger.h"
#include "queues/event_sender.h"
#include "queues/event_stream.h"
#include "util/time_value.h"

namespace parent {

// A child that went away, did not answer in time, or answered oddly.
class EChild : public error::Exception {
public:
    using Exception::Exception;
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
    util::TimeValue start_timeout{10, 0};
};

class ChildProcess {
public:
    // Starts the child and waits until it sent INIT_OK.
    explicit ChildProcess(ChildOptions options);
    // Kills a child that is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    bool supports_metrics() const { return supports_metrics_; }

    // Sends the request with a fresh uid (set on it) and returns the uid.
    uint32_t send(queues::event& request);
    // The reply (or failure reply) to the request with this uid.
    std::unique_ptr<queues::event> await(uint32_t uid, util::TimeValue timeout = {30, 0});
    std::unique_ptr<queues::event> request(queues::event& request,
                                           util::TimeValue timeout = {30, 0});

    // SYS_EXIT, the shutdown protocol, and the child's exit status.
    int stop(util::TimeValue timeout = {30, 0});
    // The exit status once the child has ended by itself.
    std::optional<int> exit_status(util::TimeValue timeout);

    io::SiblingMessenger& messenger() { return *messenger_; }

private:
    // Handles incoming events until `done` holds or the deadline passes.
    void serve_until(const std::function<bool()>& done, util::TimeValue deadline,
                     const std::string& waiting_for);
    void handle(std::unique_ptr<queues::event> e);
    void send_event(const queues::event& e);

    ChildOptions options_;
    std::string fifo_prefix_;
    int pool_fd_ = -1;
    std::unique_ptr<io::SiblingMessenger> messenger_;
    std::unique_ptr<protocol::ioprim> stream_;
    int pid_ = -1;
    std::optional<int> exit_status_;
    bool init_ok_ = false;
    bool supports_metrics_ = false;
    bool gone_ = false;
    queues::DialogCounter uids_;
    std::map<uint32_t, std::unique_ptr<queues::event>> replies_;
};

}  // namespace parent
