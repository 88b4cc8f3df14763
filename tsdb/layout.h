// The description of one series: its storage type and its levels, finest
// first. Plain values with no behaviour, so that the request payloads and
// the parent side can name a layout without depending on the engine.
#pragma once

#include <cstdint>
#include <vector>

namespace tsdb {

// How a series stores its records (the request payloads' data types are
// another numbering: they say how a read is presented).
enum StorageType : uint32_t {
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
    uint32_t data_type = 0;       // a StorageType
    std::vector<level_t> levels;  // finest first
    bool operator==(const time_series_layout_t&) const = default;
};

}  // namespace tsdb
