// Records enter the finest level of a series; a level without room folds its
// oldest records into fewer, longer ones in the next coarser level, and the
// coarsest level drops its oldest records. No level ever grows.
//
// Room freed by aggregation becomes writable only at the next phase shift,
// so that the records it replaced stay intact on disk until the new heads
// are durable: an insertion that returns false must be retried after a
// phase shift (or the record kept for later).
#pragma once

#include <cstdint>
#include <vector>

#include "tsdb/record_reader.h"

namespace tsdb {

class Database;

// Appends a valid record at the level's tail; without room, runs one
// aggregation of the level and returns false.
template <uint32_t DataType>
bool insert_into_level(Database& db, uint32_t lblock, const record_t<DataType>& record);

// Checks the id and the series' type, then inserts into its finest level.
template <uint32_t DataType>
bool insert_into_series(Database& db, uint32_t check_id, const record_t<DataType>& record);

// Appends valid records, oldest first, to the series' finest level in one
// write; false, with nothing written and no aggregation, when they do not
// all fit.
template <uint32_t DataType>
bool append_to_series(Database& db, uint32_t check_id,
                      const std::vector<record_t<DataType>>& records);

// insert_into_series, with a record the level refuses as invalid logged and
// dropped (returns true).
template <uint32_t DataType>
bool guarded_insert(Database& db, uint32_t check_id, const record_t<DataType>& record);

// One aggregation run; false when an aggregated entry found no room in the
// next level.
template <uint32_t DataType>
bool aggregate_level(Database& db, uint32_t lblock);

// Moves everything in the series' finest level into the next level.
template <uint32_t DataType>
void drain_first_level(Database& db, uint32_t check_id);

// Drains each series' finest level into its next one (or drops its records),
// makes that level the series' first and commits; only then are the old
// finest levels freed. A failed commit leaves every series as it was.
void drop_first_levels(Database& db, const std::vector<uint32_t>& check_ids, bool keep_records);

}  // namespace tsdb
