#include "parent/child_process.h"

#include <csignal>
#include <iostream>

#include "io/error.h"
#include "platform/descriptor.h"
#include "platform/process.h"
#include "util/bytes.h"
#include "util/system_error.h"

namespace parent {

namespace {

constexpr uint64_t pool_header = 64;

// The pipes and publication files live in a directory only we may enter.
std::string private_prefix() {
    int error = 0;
    const auto dir = platform::make_private_directory("/tmp/tsdb-parent-", error);
    if (!dir) {
        util::raise_system_error("Cannot make a directory for the pipes", error);
    }
    return *dir + "/smem";
}

std::string directory_of(const std::string& prefix) { return prefix.substr(0, prefix.rfind('/')); }

int make_pool(uint64_t size) {
    const platform::Opened pool = platform::create_shared_memory(size);
    if (pool.fd < 0) {
        util::raise_system_error("Cannot create the shared pool", pool.error);
    }
    int failure = 0;
    uint8_t* base = platform::map_shared(pool.fd, size, failure);
    if (base == nullptr) {
        util::raise_system_error("Cannot map the shared pool", failure);
    }
    util::store_le32(base, io::pool_magic);
    platform::unmap_shared(base, size);
    return pool.fd;
}

}  // namespace

ChildProcess::ChildProcess(ChildOptions options)
    : options_(std::move(options)), fifo_prefix_(private_prefix()) {
    const uint64_t area = options_.area_size & ~uint32_t{7};
    const uint64_t size = pool_header + 2 * area;
    pool_fd_ = make_pool(size);
    const io::siblingmessenger_conf_t conf{static_cast<uint32_t>(pool_fd_), fifo_prefix_,
                                           static_cast<uint32_t>(size)};
    messenger_ = std::make_unique<io::SiblingMessenger>(
        conf, io::SiblingMessenger::AreaOf{pool_header, area}, [area](int32_t) {
            return io::SiblingMessenger::AreaOf{pool_header + area, area};
        });
    stream_ = std::make_unique<protocol::ioprim>(&messenger_->input(options_.queue),
                                                 &messenger_->output(options_.queue));
    std::vector<std::pair<std::string, std::string>> environment = options_.environment;
    environment.emplace_back("smem::mapfile", std::to_string(pool_fd_));
    environment.emplace_back("smem::fifoprefix", fifo_prefix_);
    environment.emplace_back("smem::mapsize", std::to_string(size));
    pid_ = platform::spawn(options_.program, options_.arguments, environment, {pool_fd_},
                           options_.error_output);
    if (pid_ < 0) {
        platform::close_descriptor(pool_fd_);
        platform::remove_directory(directory_of(fifo_prefix_));
        throw EChild("Cannot start " + options_.program + ": " + util::system_error_text(-pid_));
    }
    if (options_.on_started) {
        options_.on_started(pid_);
    }
    await_start();
}

void ChildProcess::await_start() {
    try {
        serve_until([this] { return init_ok_; }, util::TimeValue::now() + options_.start_timeout,
                    "INIT_OK");
    } catch (const EChild& failure) {
        // No destructor runs for a constructor that throws: end the child here.
        std::optional<int> status = platform::wait_for_exit(pid_, 5000);
        if (!status) {
            platform::kill_process(pid_, SIGKILL);
            platform::wait_for_exit(pid_, 2000);
        }
        messenger_.reset();
        platform::close_descriptor(pool_fd_);
        platform::remove_directory(directory_of(fifo_prefix_));
        throw EChild(
            failure.text() + (status ? "; it exited with status " + std::to_string(*status) : ""),
            status);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exit_status_) {
        platform::kill_process(pid_, SIGKILL);
        platform::wait_for_exit(pid_, 2000);
    }
    messenger_.reset();
    platform::close_descriptor(pool_fd_);
    platform::remove_directory(directory_of(fifo_prefix_));
}

void ChildProcess::send_event(const queues::event& e) {
    if (gone_) {
        throw EChild("Child " + options_.program + " has gone; cannot send " +
                     queues::event_name(e.type));
    }
    try {
        queues::write_event(*stream_, e);
        stream_->flush();
    } catch (const io::EEndOfStream& failure) {
        gone_ = true;
        throw EChild("Child " + options_.program + " has gone: " + failure.text());
    }
}

uint32_t ChildProcess::send(queues::event& request) {
    request.uid = uids_.fresh();
    request.dest = options_.queue;
    send_event(request);
    return request.uid;
}

std::unique_ptr<queues::event> ChildProcess::await(uint32_t uid, util::TimeValue timeout) {
    serve_until([&] { return replies_.contains(uid); }, util::TimeValue::now() + timeout,
                "the reply to request " + std::to_string(uid));
    return take_reply(uid);
}

std::unique_ptr<queues::event> ChildProcess::request(queues::event& request,
                                                     util::TimeValue timeout) {
    return await(send(request), timeout);
}

std::unique_ptr<queues::event> ChildProcess::take_reply(uint32_t uid) {
    auto found = replies_.find(uid);
    if (found == replies_.end()) {
        return nullptr;
    }
    std::unique_ptr<queues::event> reply = std::move(found->second);
    replies_.erase(found);
    return reply;
}

int ChildProcess::stop(util::TimeValue timeout) {
    const util::TimeValue deadline = util::TimeValue::now() + timeout;
    queues::event_of<queues::SYS_EXIT> exit;
    send(exit);
    serve_until([this] { return gone_; }, deadline, "the end of the shutdown");
    const std::optional<int> status = exit_status(deadline - util::TimeValue::now());
    if (!status) {
        throw EChild("Child " + options_.program + " did not exit after its shutdown");
    }
    // Without its final AckShutdown a child has died, whatever its exit status.
    if (!messenger_->completedShutdown(options_.queue)) {
        throw EChild("Child " + options_.program + " exited with status " +
                         std::to_string(*status) + " without its final AckShutdown",
                     status);
    }
    return *status;
}

std::optional<int> ChildProcess::exit_status(util::TimeValue timeout) {
    if (!exit_status_) {
        const double ms = timeout.seconds() < 0 ? 0 : timeout.as_double() * 1000;
        exit_status_ = platform::wait_for_exit(pid_, static_cast<int>(ms));
    }
    return exit_status_;
}

void ChildProcess::serve_until(const std::function<bool()>& done, util::TimeValue deadline,
                               const std::string& waiting_for) {
    while (!done()) {
        if (gone_) {
            throw EChild("Child " + options_.program + " went away while we waited for " +
                         waiting_for);
        }
        const util::TimeValue now = util::TimeValue::now();
        if (deadline <= now) {
            throw EChild("Timed out waiting for " + waiting_for + " from " + options_.program);
        }
        // A child that dies before its transport is up ends no stream: look
        // for its exit between short waits.
        const util::TimeValue slice(0, 100000);
        const util::TimeValue left = deadline - now;
        try {
            io::waitReady(messenger_->front(), left <= slice ? left : slice);
        } catch (const io::ETimeout&) {
            gone_ = exit_status({0, 0}).has_value();
            continue;
        }
        try {
            handle(queues::read_event(*stream_));
        } catch (const io::EEndOfStream&) {
            gone_ = true;
        }
    }
}

void ChildProcess::handle(std::unique_ptr<queues::event> e) {
    switch (e->type) {
        case queues::REQUEST_SERVER_CONFIGURATION:
            send_event(queues::event_of<queues::SERVER_CONFIGURATION>(options_.queue, e->uid,
                                                                      options_.configuration));
            return;
        case queues::SYSTEM_LOG_REQUEST: {
            const std::string& line = static_cast<const control::Log_Request_Data*>(e->data)->msg;
            if (options_.on_log) {
                options_.on_log(line);
            } else {
                std::cerr << queues::queue_name(options_.queue) << ": " << line << "\n";
            }
            return;
        }
        case queues::SUPPORTS_METRICS:
            supports_metrics_ = true;
            return;
        case queues::INIT_OK:
            init_ok_ = true;
            depend_on_ = static_cast<const control::Init_Ok_Data*>(e->data)->depend_on;
            return;
        default:
            replies_[e->uid] = std::move(e);
    }
}

}  // namespace parent
