// The write buffer's settings from the configuration record. Values the
// buffer cannot work with are replaced, with a log line naming the key.
#pragma once

#include "queues/server_configuration.h"
#include "tsdb/buffer_settings.h"

namespace server {

// Entries within 2 to 4096, the flush count within 1 to the entries; the age
// and the batch are used as given (a batch of 0 turns age flushing off).
tsdb::buffer_settings_t buffer_settings(const control::Server_Configuration_Fields& conf);

}  // namespace server
