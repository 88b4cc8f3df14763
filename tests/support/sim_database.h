// Databases on a simulated disk, made and reopened the way the process does.
#pragma once

#include <string>
#include <vector>

#include "tests/support/sim_disk.h"
#include "tsdb/file/backing_store.h"
#include "tsdb/file/creation.h"
#include "tsdb/file/database.h"

namespace testing_support {

inline tsdb::NewDatabase small_database(uint32_t blocks = 256, uint32_t block_size = 1024,
                                        uint32_t copies = 3) {
    return {"/sim/db.tsdb", block_size, copies, blocks, false};
}

// A disk holding a freshly made, empty database.
SimDisk formatted_disk(const tsdb::NewDatabase& options = small_database());

inline tsdb::BackingStore store_on(SimDisk& disk, FaultPlan plan = {}) {
    return tsdb::BackingStore(disk.open(plan), "/sim/db.tsdb");
}

inline tsdb::Database open_on(SimDisk& disk, FaultPlan plan = {},
                              util::Clock clock = util::system_seconds) {
    return tsdb::Database::open(store_on(disk, plan), std::move(clock));
}

// The failure text of `action`, which must throw Failure.
template <typename Failure, typename Action>
std::string failure_text(Action&& action) {
    try {
        action();
    } catch (const Failure& e) {
        return e.text();
    }
    return "(no failure)";
}

}  // namespace testing_support
