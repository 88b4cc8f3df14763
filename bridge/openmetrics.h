// A node's history as OpenMetrics text, which
// `promtool tsdb create-blocks-from openmetrics` turns into Prometheus blocks.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/live_reader.h"
#include "bridge/series_names.h"

namespace bridge {

struct TimeRange {
    int64_t from_ms;
    int64_t to_ms;
};

// Every committed record whose sample time lies in the range, a metric
// family at a time (each family's lines together, as the format asks),
// ending with "# EOF". Returns the samples written; throws the reader's
// failures.
uint64_t write_openmetrics(LiveReader& reader, const SeriesNames& names, const std::string& node,
                           TimeRange range, std::ostream& out);

// `name{label="value",...}`, values escaped as the text formats want.
std::string series_text(const std::vector<Label>& labels);

}  // namespace bridge
