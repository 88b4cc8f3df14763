#include "server/buffer_settings.h"

#include <algorithm>
#include <string>

#include "log/log.h"

namespace server {

namespace {

uint32_t within(const char* key, uint32_t value, uint32_t low, uint32_t high) {
    const uint32_t used = std::clamp(value, low, high);
    if (used != value) {
        logging::log("Configuration " + std::string(key) + "=" + std::to_string(value) +
                     " is out of range; using " + std::to_string(used));
    }
    return used;
}

}  // namespace

tsdb::buffer_settings_t buffer_settings(const control::Server_Configuration_Fields& conf) {
    const uint32_t entries = within("tsdb_buffer_entries", conf.tsdb_buffer_entries, 2, 4096);
    return {entries, within("tsdb_buffer_write_min", conf.tsdb_buffer_write_min, 1, entries),
            conf.tsdb_buffer_age_max, conf.tsdb_buffer_flush_batch};
}

}  // namespace server
