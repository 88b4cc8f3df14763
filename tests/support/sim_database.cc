#include "tests/support/sim_database.h"

namespace testing_support {

SimDisk formatted_disk(const tsdb::NewDatabase& options) {
    SimDisk disk(std::vector<uint8_t>(tsdb::database_file_size(options), 0));
    tsdb::BackingStore store = store_on(disk);
    tsdb::format_database(store, options);
    return disk;
}

}  // namespace testing_support
