// The write buffer's settings, as the configuration record gives them.
#pragma once

#include <cstdint>

namespace tsdb {

struct buffer_settings_t {
    uint32_t entries = 32;     // ring capacity per series
    uint32_t write_min = 8;    // count at which a flush is attempted
    uint32_t age_max = 600;    // seconds the oldest record may wait
    uint32_t flush_batch = 8;  // buffers visited per map per age flush; 0: none
};

}  // namespace tsdb
