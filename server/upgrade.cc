#include "server/upgrade.h"

#include <string>
#include <vector>

#include "log/log.h"

namespace server {

void upgrade_buffer_levels(tsdb::Engine& engine, bool discard_records) {
    logging::log("Checking for pre 3.2.1 buffer-levels...");
    std::vector<uint32_t> upgraded;
    for (uint32_t id = 0; id < engine.check_capacity(); ++id) {
        if (!engine.series_exists(id) || !engine.has_buffer_level(id)) {
            continue;
        }
        logging::log("TSDB check id " + std::to_string(id) +
                     " has a pre-3.2.1 buffer-level. Will fix.");
        if (discard_records) {
            logging::log("Discarding buffer-level data (tsdb_upgrade_discard_bufferlevels)");
        }
        upgraded.push_back(id);
    }
    if (!upgraded.empty()) {
        engine.drop_buffer_levels(upgraded, !discard_records);
    }
    logging::log("Done checking for pre 3.2.1 buffer-levels.");
}

}  // namespace server
