// Reading a series back (a time range, or every stored record as bytes),
// removing old records, and finding the oldest one. Levels are walked from
// the coarsest to the finest so that records come out in time order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tsdb/record_reader.h"

namespace tsdb {

class Database;
class WriteBuffer;

// Records whose timestart lies in [from, to), from every level and then
// the write buffer. Where aggregation left records overlapping at the
// seams between levels, the spans are cut so that none overlap.
template <uint32_t DataType>
std::vector<record_t<DataType>> get_data(Database& db, const WriteBuffer& buffer, uint32_t check_id,
                                         int64_t from, int64_t to);

// Every stored record, coarsest level first, in its encoding; the write
// buffer is flushed first. A record whose span is broken on disk ends the
// read with tsdb::error_range.
using ByteSink = std::function<void(const uint8_t* bytes, size_t length)>;
template <uint32_t DataType>
void read_whole_series(Database& db, WriteBuffer& buffer, uint32_t check_id, const ByteSink& sink);

// Removes every stored record whose timestart is at or before t.
template <uint32_t DataType>
void truncate_old_data(Database& db, WriteBuffer& buffer, uint32_t check_id, int64_t t);

// The timestart of the oldest stored record, 0 when there is none.
uint32_t oldest_time(Database& db, uint32_t check_id);

}  // namespace tsdb
