// A database file worked on by tsdbctl itself, through the engine, while
// no database process runs on it: the file's lock keeps one away. The
// engine's log lines are for the process's log, not for an operator.
#pragma once

#include <memory>
#include <string>

#include "log/log.h"
#include "tsdb/engine.h"

namespace tsdbctl {

// The engine on a database file, for reading only or not; tools::EBadInput
// "cannot open PATH: why" for a file that is not a database or that a
// process holds.
std::unique_ptr<tsdb::Engine> opened_engine(const std::string& path, bool read_only);

class OfflineDatabase final : logging::Sink {
public:
    // Refuses, as opened_engine does.
    explicit OfflineDatabase(const std::string& path);
    ~OfflineDatabase() override;
    OfflineDatabase(const OfflineDatabase&) = delete;
    OfflineDatabase& operator=(const OfflineDatabase&) = delete;

    tsdb::Engine& engine() { return *engine_; }

private:
    void send(const std::string&, int32_t) override {}

    std::unique_ptr<tsdb::Engine> engine_;
};

}  // namespace tsdbctl
