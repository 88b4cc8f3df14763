// What a tsdbctl verb asks: the database process it started (a Session), or,
// for a verb that only reads, the file opened read-only in tsdbctl itself
// (a ReadOnlyFile) so that a file nobody may write can still be read.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "parent/tsdb_client.h"
#include "tsdb/level_summary.h"

namespace tsdbctl {

class Backend {
public:
    virtual ~Backend() = default;
    virtual parent::TsdbClient& client() = 0;
    // Series ids in use are below it.
    virtual uint32_t series_capacity() = 0;
    // What each level of the series holds on disk; nullopt where the database
    // process holds the file and only its requests can be asked.
    virtual std::optional<std::vector<tsdb::level_summary_t>> stored_levels(uint32_t id) = 0;
    // When a read of the file itself sees its last commit: a time by which
    // that commit was made (the file's last change when it was opened);
    // none where the database process answers.
    virtual std::optional<int64_t> committed_by() { return std::nullopt; }
};

}  // namespace tsdbctl
