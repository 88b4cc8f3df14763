// Intervals as rows for people and scripts: the columns of each kind, CSV
// input with a header line, and table, CSV and JSON output. Times are epoch
// seconds in CSV and JSON and local time in tables.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "queues/data_interval.h"

namespace tools {

// "continuous", "enum", "monotonic", "incident" and back; UsageError for
// another name.
const char* type_name(uint32_t storage_type);
uint32_t storage_type_named(const std::string& name);
// The protocol data type that writes and reads a series of this type as
// it is stored (values, not spans).
int32_t protocol_type(uint32_t storage_type);

// continuous and monotonic: start,end,min,avg,max,ngood,nbad
// enum: start,end,mask,ngood,nbad
// incident: time,severity,message
std::vector<std::string> columns(uint32_t storage_type);
// The shortest text that reads back as the same float, or double.
std::string float_text(float value);
std::string double_text(double value);
// Whether a record's 32-bit value can hold `value` (rounded); NaN it can.
bool float_holds(double value);
// An interval's fields in the order of its type's columns, as CSV writes them.
std::vector<std::string> interval_fields(const tsdb::data_interval_t& interval);

// Reads CSV whose header names the columns of the type in any order
// (continuous data may give "value" for min, avg and max; ngood defaults
// to 1 and nbad to 0). Times may be any form parse_time() reads. Throws
// EBadInput "line N: ..." for the first bad line. Each interval's line number
// goes to `lines` when given.
tsdb::interval_list read_intervals(std::istream& in, uint32_t storage_type, int64_t now,
                                   std::vector<size_t>* lines = nullptr);

enum class Format { table, csv, json };
Format format_named(const std::string& name);

// Tables name the zone of their times (UTC with `utc`, else local) and show
// each interval's span; CSV and JSON carry epoch seconds.
void write_intervals(std::ostream& out, Format format, uint32_t storage_type,
                     const tsdb::interval_list& intervals, bool utc = false);

}  // namespace tools
