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
    const lblock_entry_t level = db.chain(ChainKind::lblock).lblock_entry(lblock);
    const uint32_t size = level.dblocks * db.block_size();
    const uint32_t tail = db.chain(ChainKind::tail).position(lblock);
    LblockCursor cursor(db.store(), level);
    for (uint32_t p = db.chain(ChainKind::head).position(lblock); p != tail;) {
        Record r;
        p = read_record(cursor, p, (tail + size - p) % size, r);
        if (!visit(r, p)) {
            return;
        }
    }
}

}  // namespace tsdb
