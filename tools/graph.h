// A chart of a series over a time range, as an SVG document: continuous
// data as its average line over the band from minimum to maximum, enum data
// as one strip per state seen, incidents as markers at their severity. The
// time axis is labelled in local time, with the date or year where it
// changes; values at whole tick steps with SI prefixes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "queues/data_interval.h"

namespace tools {

struct ChartLabels {
    std::string title;
    std::string unit;  // after the values, behind their SI prefix: "B" gives "1.2 GB"
    double width = 800;
    double height = 300;
    std::vector<std::pair<double, std::string>> hrules = {};  // thresholds and their labels
    std::optional<double> lower = {};                         // fixes the value axis' bottom
    std::optional<double> upper = {};                         // and top
    bool logarithmic = false;
};

std::string chart(uint32_t storage_type, const tsdb::interval_list& data, int64_t from, int64_t to,
                  const ChartLabels& labels);

// Several continuous series in one chart: each one's average as a line in
// its own colour, named in the legend.
struct NamedSeries {
    std::string name;
    const tsdb::interval_list* data;
};
std::string lines_chart(const std::vector<NamedSeries>& series, int64_t from, int64_t to,
                        const ChartLabels& labels);

}  // namespace tools
