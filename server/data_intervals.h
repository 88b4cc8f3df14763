// Between stored records and the intervals of the protocol. Reading turns
// the records of a range into intervals of the request's data type: raw
// (one per record), or grouped by time into `count` widths (value, enum and
// span forms), or, for incidents, cut to a page. Writing makes one record
// per interval. Of records that overlap, only the first is read.
#pragma once

#include <cstdint>
#include <vector>

#include "queues/data_interval.h"
#include "tsdb/record.h"

namespace server {

// The request payloads' data types: how a read is presented or a write is
// given (the stored series has a tsdb::StorageType).
enum WireType : int32_t {
    data_span = 2,  // monotonic continuous read as spans of operation
    data_enum = 3,
    data_incident = 4,
    data_float = 5,      // continuous values ("DataFloat")
    data_monotonic = 6,  // monotonic continuous read as values
};

struct read_shape_t {
    bool raw = false;
    int64_t start = 0;
    int64_t end = 0;
    uint32_t count = 0;  // 0: 50 widths (incident pages take it as it is)
    int32_t offset = 0;  // incident paging only
};

// Data types 2, 5 and 6.
tsdb::interval_list continuous_intervals(int32_t data_type,
                                         const std::vector<tsdb::continuous_record_t>& records,
                                         const read_shape_t& shape);
tsdb::interval_list enum_intervals(const std::vector<tsdb::enum_record_t>& records,
                                   const read_shape_t& shape);
tsdb::interval_list incident_intervals(const std::vector<tsdb::incident_record_t>& records,
                                       const read_shape_t& shape);

// Data types 2, 5 and 6. For 5 an interval of another kind is a breach the
// process does not survive (error::EFatal); for the others, and in the
// two conversions below, it refuses the request (errors::db_anomaly
// "checked_cast failed, ...").
std::vector<tsdb::continuous_record_t> continuous_records(int32_t data_type,
                                                          const tsdb::interval_list& intervals);
std::vector<tsdb::enum_record_t> enum_records(const tsdb::interval_list& intervals);
std::vector<tsdb::incident_record_t> incident_records(const tsdb::interval_list& intervals);

}  // namespace server
