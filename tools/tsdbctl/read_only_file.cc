#include "tools/tsdbctl/read_only_file.h"

#include <chrono>
#include <filesystem>
#include <iostream>

#include "error/anomaly.h"
#include "tools/options.h"
#include "tools/tsdbctl/offline.h"

namespace tsdbctl {

namespace {

// Seconds since 1970 of the file's last change; 0 when it cannot be told.
int64_t last_change(const std::string& path) {
    std::error_code failed;
    const auto changed = std::filesystem::last_write_time(path, failed);
    if (failed) {
        return 0;
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(changed).time_since_epoch())
        .count();
}

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& database, bool verbose)
    : verbose_(verbose),
      changed_(last_change(database)),
      engine_(opened_engine(database, true)),
      handlers_(*engine_, *this),
      client_(*this) {
    logging::set_sink(this);
    closed_changed_ = false;
}

ReadOnlyFile::~ReadOnlyFile() {
    logging::set_sink(nullptr);
    try {
        closed_changed_ = closed_changed_ || !engine_->unchanged_since_open();
    } catch (const error::Exception&) {
        closed_changed_ = true;
    }
}

bool ReadOnlyFile::unchanged_since_open() {
    const bool unchanged = engine_->unchanged_since_open() && !closed_changed_;
    closed_changed_ = false;
    return unchanged;
}

void ReadOnlyFile::send(const std::string& line, int32_t) {
    if (verbose_) {
        std::cerr << "tsdb: " << line << "\n";
    }
}

std::optional<std::vector<tsdb::level_summary_t>> ReadOnlyFile::stored_levels(uint32_t id) {
    return engine_->stored_levels(id);
}

uint32_t ReadOnlyFile::send(queues::event& request) {
    request.uid = uids_.fresh();
    if (!handlers_.serves(request.type)) {
        throw tools::EBadInput("only the database process answers " +
                               queues::event_name(request.type));
    }
    try {
        handlers_.handle(request);
    } catch (const errors::db_anomaly& refused) {
        send(queues::exevent(request.dest, request.uid, refused.text()));
    } catch (const tsdb::error_generic& failed) {
        send(queues::exevent(request.dest, request.uid, failed.text()));
    }
    return request.uid;
}

std::unique_ptr<queues::event> ReadOnlyFile::reply_to(uint32_t uid) {
    std::unique_ptr<queues::event> reply = take_reply(uid);
    if (!reply) {
        throw tools::EBadInput("no reply to request " + std::to_string(uid));
    }
    return reply;
}

std::unique_ptr<queues::event> ReadOnlyFile::take_reply(uint32_t uid) {
    const auto found = replies_.find(uid);
    if (found == replies_.end()) {
        return nullptr;
    }
    std::unique_ptr<queues::event> reply = std::move(found->second);
    replies_.erase(found);
    return reply;
}

void ReadOnlyFile::send(const queues::event& reply) { replies_[reply.uid] = reply.clone(); }

}  // namespace tsdbctl
