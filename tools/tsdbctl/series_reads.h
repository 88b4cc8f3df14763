// Reads the verbs share: a series' type, refusing one that does not exist
// in an operator's words, and every record it holds.
#pragma once

#include <cstdint>

#include "parent/tsdb_client.h"

namespace tsdbctl {

// A series' layout, or its type; tools::EBadInput "series N does not
// exist ..." for a free id.
tsdb::time_series_layout_t layout_of_existing(parent::TsdbClient& client, uint32_t id);
uint32_t type_of_existing(parent::TsdbClient& client, uint32_t id);

// Every record of every level and the write buffer, oldest first.
tsdb::interval_list every_record(parent::TsdbClient& client, uint32_t id, uint32_t type);

}  // namespace tsdbctl
