// The description of one series: its data type and its levels, finest first.
#pragma once

#include <cstdint>
#include <vector>

#include "tsdb/error.h"

namespace tsdb {

// Storage data types.
enum : uint32_t {
    type_continuous = 1,
    type_enum = 2,
    type_monotonic = 3,
    type_incident = 4,
};

struct level_t {
    uint32_t size = 0;        // capacity in record units
    uint32_t resolution = 0;  // seconds
    bool operator==(const level_t&) const = default;
};

struct time_series_layout_t {
    uint32_t data_type = 0;
    std::vector<level_t> levels;  // finest first
    bool operator==(const time_series_layout_t&) const = default;
};

// Bytes per record unit of a data type (incident levels are sized in
// bytes); tsdb::error_dbtype "Datatype out of range" for other types.
uint32_t record_unit_size(uint32_t data_type);

// Calls action.template operator()<T>() for the storage data type T;
// tsdb::error_dbtype "Datatype out of range" for any other number.
template <typename Action>
auto by_type(uint32_t data_type, Action&& action) {
    switch (data_type) {
        case type_continuous:
            return action.template operator()<type_continuous>();
        case type_enum:
            return action.template operator()<type_enum>();
        case type_monotonic:
            return action.template operator()<type_monotonic>();
        case type_incident:
            return action.template operator()<type_incident>();
        default:
            throw error_dbtype("Datatype out of range");
    }
}

}  // namespace tsdb
