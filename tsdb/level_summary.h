// What each level of a series holds on disk (records still in the write
// buffer are not counted): how full it is, how many records, and when its
// oldest and newest record start. For looking only; it changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tsdb/file/database.h"

namespace tsdb {

struct level_summary_t {
    uint32_t lblock = 0;
    uint32_t resolution = 0;
    uint32_t capacity = 0;  // records; bytes for an incident level
    uint32_t used_bytes = 0;
    uint32_t fill_percent = 0;  // of what the ring can hold
    uint32_t records = 0;
    std::optional<uint32_t> oldest_start;
    std::optional<uint32_t> newest_start;
};

// The series' levels, finest first. A record that runs past its level's
// tail raises tsdb::error_need_repair.
std::vector<level_summary_t> summarize_levels(Database& db, uint32_t check_id);

}  // namespace tsdb
