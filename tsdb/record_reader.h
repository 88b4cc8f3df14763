// Reading one record of a level at a byte position, through a cursor that
// wraps at the level's end. Continuous records come back repaired.
#pragma once

#include <cstdint>

#include "tsdb/lblock_cursor.h"
#include "tsdb/record.h"

namespace tsdb {

// The record type stored by each data type.
template <uint32_t DataType>
struct record_of;
template <>
struct record_of<1> {
    using type = continuous_record_t;
};
template <>
struct record_of<2> {
    using type = enum_record_t;
};
template <>
struct record_of<3> {
    using type = continuous_record_t;
};
template <>
struct record_of<4> {
    using type = incident_record_t;
};
template <uint32_t DataType>
using record_t = typename record_of<DataType>::type;

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
