// A database file opened read-only inside tsdbctl, for the verbs that only
// read. Requests are answered by the database process's own request
// handlers on that file, so the replies are the ones the process would
// give; a request that would change the file fails. It takes no lock: on a
// file a database process holds, it reads the last commit, and what it read
// holds together while every file opened so is unchanged_since_open().
#pragma once

#include <map>
#include <memory>
#include <string>

#include "log/log.h"
#include "parent/requests.h"
#include "queues/event_sender.h"
#include "server/request_handlers.h"
#include "tools/tsdbctl/backend.h"
#include "tsdb/engine.h"

namespace tsdbctl {

class ReadOnlyFile final : public Backend, parent::Requests, queues::EventSender, logging::Sink {
public:
    // Refuses a file that is not a database. The engine's log lines go to
    // the error output when verbose.
    ReadOnlyFile(const std::string& database, bool verbose);
    ~ReadOnlyFile() override;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // This file, and every one opened and closed since the last call, saw no
    // commit while it was read.
    bool unchanged_since_open();

    parent::TsdbClient& client() override { return client_; }
    uint32_t series_capacity() override { return engine_->check_capacity(); }
    std::optional<int64_t> committed_by() override { return changed_; }
    std::optional<std::vector<tsdb::level_summary_t>> stored_levels(uint32_t id) override;

private:
    uint32_t send(queues::event& request) override;
    std::unique_ptr<queues::event> reply_to(uint32_t uid) override;
    std::unique_ptr<queues::event> take_reply(uint32_t uid) override;
    void send(const queues::event& reply) override;
    uint32_t fresh_uid() override { return uids_.fresh(); }
    void send(const std::string& line, int32_t log_type) override;

    // A file closed after a commit landed on it while it was read.
    static inline bool closed_changed_ = false;

    bool verbose_;
    int64_t changed_;  // the file's last change, before it was opened
    std::unique_ptr<tsdb::Engine> engine_;
    server::RequestHandlers handlers_;
    parent::TsdbClient client_;
    queues::DialogCounter uids_;
    std::map<uint32_t, std::unique_ptr<queues::event>> replies_;
};

}  // namespace tsdbctl
