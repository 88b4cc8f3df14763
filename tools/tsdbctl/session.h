// The database process behind a tsdbctl command: started as a child on the
// database the way the product's server starts it, asked through the
// request client, and stopped by the shutdown protocol.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "parent/tsdb_client.h"
#include "tools/tsdbctl/backend.h"

namespace tsdbctl {

class Session final : public Backend {
public:
    // The write buffer's age limit of a session's process, in seconds.
    static constexpr uint32_t live_age_max = 10;

    // Starts the process; a process that cannot open the database raises
    // parent::EChild with its reason.
    Session(const std::string& database, bool verbose);
    // Stops a process still running, by the protocol.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    parent::TsdbClient& client() override { return *client_; }
    // The process says it when it looks for the oldest record.
    uint32_t series_capacity() override;
    std::optional<std::vector<tsdb::level_summary_t>> stored_levels(uint32_t) override {
        return std::nullopt;
    }
    // Ends the process; raises parent::EChild when it does not end well.
    void stop();

private:
    // A directory only this user may enter, for the process's error output;
    // removed with everything in it when the session ends.
    struct PrivateDirectory {
        PrivateDirectory();
        ~PrivateDirectory();
        PrivateDirectory(const PrivateDirectory&) = delete;
        PrivateDirectory& operator=(const PrivateDirectory&) = delete;
        std::string path;
    };

    std::string database_;
    PrivateDirectory private_;
    std::string error_file_;
    bool verbose_;
    std::vector<std::string> log_;
    std::unique_ptr<parent::ChildProcess> child_;
    std::unique_ptr<parent::TsdbClient> client_;
};

// The database program: $TSDB_PROGRAM, else "tsdb" beside this program, else
// the build tree's server/tsdb.
std::string tsdb_program();

}  // namespace tsdbctl
