// tsdbctl get with several series: their values on one time grid, a row per
// step and a column per series, as a table, CSV or JSON.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/interval_rows.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

struct Grid {
    int64_t from;
    int64_t step;  // seconds
    size_t cells;  // rows, from `from` on
};

// A step that gives about 500 rows over the range, in whole minutes.
int64_t default_step(int64_t from, int64_t to);

// Each cell holds the average of the good samples whose records overlap it
// (continuous and monotonic series; each record weighted by its good samples
// and by how much of it lies in the cell) or the states seen (enum series).
// Incident series have no values to align: tools::EBadInput.
void write_aligned(Context& c, const std::vector<uint32_t>& ids, const Grid& grid,
                   tools::Format format, bool utc);

}  // namespace tsdbctl
