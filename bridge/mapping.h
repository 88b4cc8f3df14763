// How the records of a series become samples of Prometheus metrics, the
// same on every path: a continuous or monotonic record gives tsdb_avg,
// tsdb_min and tsdb_max (when it holds good samples), tsdb_good_samples and
// tsdb_bad_samples; an enum record tsdb_state_mask; an incident
// tsdb_incident_severity. A sample's time is the record's end in
// milliseconds (an incident's own time); its value is the number a table
// shows for the stored float, read as a double, so that 0.1 stays 0.1.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/series_names.h"

namespace bridge {

enum class Metric : uint8_t { avg, min, max, good_samples, bad_samples, state_mask, severity };

std::string_view metric_name(Metric metric);
// The metrics a series of that storage type gives.
std::span<const Metric> metrics_of(uint32_t storage_type);

// A record as the metrics see it.
struct Row {
    int64_t ms = 0;  // the sample time
    uint32_t ngood = 0;
    uint32_t nbad = 0;
    float min = 0;
    float avg = 0;
    float max = 0;
    uint32_t code = 0;  // an enum record's mask, an incident's severity
};

// The metric's value in the row; none where the row gives no sample of it.
std::optional<double> value_of(Metric metric, const Row& row);
// The shortest decimal that reads back as the float, read as a double.
double shown_value(float value);

// What every sample of a series carries besides its metric's name.
struct SeriesIdentity {
    uint32_t id;
    std::string node;
    const SeriesName* named;  // null when the labels file names it not
};

// The value of one of those labels; "" for a label the series has not.
std::string label_value(const std::string& name, Metric metric, const SeriesIdentity& series);

// The labels of a metric of a series, __name__ included, sorted by name.
std::vector<Label> labels_of(Metric metric, const SeriesIdentity& series);

}  // namespace bridge
