#include "tests/support/sim_database.h"

namespace testing_support {

SimDisk formatted_disk(const tools::NewDatabase& options) {
    SimDisk disk(std::vector<uint8_t>(tools::file_size(options), 0));
    tsdb::BackingStore store = store_on(disk);
    tools::format_database(store, options);
    return disk;
}

}  // namespace testing_support
