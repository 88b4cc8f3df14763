// Walking the records of one level, oldest first.
#pragma once

#include <cstdint>

#include "tsdb/file/database.h"
#include "tsdb/record_reader.h"

namespace tsdb {

// Visits the records of one level from its head; `visit` gets each record
// and the position after it, and returns false to stop.
template <typename Record, typename Visit>
void for_each_record(Database& db, uint32_t lblock, Visit&& visit) {
    const LevelView level = db.level(lblock);
    LblockCursor cursor(db.store(), level.entry);
    for (uint32_t p = level.head; p != level.tail;) {
        Record r;
        p = read_record(cursor, p, (level.tail + level.size - p) % level.size, r);
        if (!visit(r, p)) {
            return;
        }
    }
}

}  // namespace tsdb
