// Reading one record of a level at a byte position, through a cursor that
// wraps at the level's end. Continuous records come back repaired.
#pragma once

#include <cstdint>

#include "tsdb/file/lblock_cursor.h"
#include "tsdb/record.h"
#include "tsdb/storage_type.h"

namespace tsdb {

// Reads the record at `position`, of which `available` bytes remain before
// the level's tail; returns the position after it. A record that would run
// past the tail is damage: tsdb::error_need_repair.
uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     continuous_record_t& out);
uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     enum_record_t& out);
uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     incident_record_t& out);

}  // namespace tsdb
