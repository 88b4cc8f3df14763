// Counter rates: the per-second rate between the records of a counter
// series, as a chart or a table shows values.
#pragma once

#include <cstddef>

#include "queues/data_interval.h"

namespace tools {

struct CounterRates {
    // One interval per step between two records with good samples, from
    // the first's end to the second's, its value the counter's rise (the
    // records' maxima) over the seconds between.
    tsdb::interval_list rates;
    // Steps where the counter fell: a reset, which gives no rate.
    size_t resets = 0;
};

CounterRates counter_rates(const tsdb::interval_list& records);

}  // namespace tools
