#include "bridge/mapping.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "tsdb/storage_type.h"

namespace bridge {

namespace {

constexpr std::array<Metric, 5> continuous_metrics = {Metric::avg, Metric::min, Metric::max,
                                                      Metric::good_samples, Metric::bad_samples};
constexpr std::array<Metric, 1> enum_metrics = {Metric::state_mask};
constexpr std::array<Metric, 1> incident_metrics = {Metric::severity};

}  // namespace

std::string_view metric_name(Metric metric) {
    switch (metric) {
        case Metric::avg:
            return "tsdb_avg";
        case Metric::min:
            return "tsdb_min";
        case Metric::max:
            return "tsdb_max";
        case Metric::good_samples:
            return "tsdb_good_samples";
        case Metric::bad_samples:
            return "tsdb_bad_samples";
        case Metric::state_mask:
            return "tsdb_state_mask";
        case Metric::severity:
            return "tsdb_incident_severity";
    }
    return "";
}

std::span<const Metric> metrics_of(uint32_t storage_type) {
    switch (storage_type) {
        case tsdb::type_enum:
            return enum_metrics;
        case tsdb::type_incident:
            return incident_metrics;
        default:
            return continuous_metrics;
    }
}

std::optional<double> value_of(Metric metric, const Row& row) {
    switch (metric) {
        case Metric::avg:
            return row.ngood == 0 ? std::nullopt : std::optional(shown_value(row.avg));
        case Metric::min:
            return row.ngood == 0 ? std::nullopt : std::optional(shown_value(row.min));
        case Metric::max:
            return row.ngood == 0 ? std::nullopt : std::optional(shown_value(row.max));
        case Metric::good_samples:
            return row.ngood;
        case Metric::bad_samples:
            return row.nbad;
        case Metric::state_mask:
        case Metric::severity:
            return row.code;
    }
    return std::nullopt;
}

double shown_value(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double read = 0;
    std::from_chars(text, written.ptr, read);
    return read;
}

std::string label_value(const std::string& name, Metric metric, const SeriesIdentity& series) {
    if (name == "__name__") {
        return std::string(metric_name(metric));
    }
    if (name == "check") {
        return std::to_string(series.id);
    }
    if (name == "node") {
        return series.node;
    }
    if (series.named == nullptr) {
        return "";
    }
    if (name == "name") {
        return series.named->name;
    }
    for (const Label& label : series.named->labels) {
        if (label.name == name) {
            return label.value;
        }
    }
    return "";
}

std::vector<Label> labels_of(Metric metric, const SeriesIdentity& series) {
    std::vector<Label> labels = {{"__name__", std::string(metric_name(metric))},
                                 {"check", std::to_string(series.id)},
                                 {"node", series.node}};
    if (series.named) {
        labels.push_back({"name", series.named->name});
        labels.insert(labels.end(), series.named->labels.begin(), series.named->labels.end());
    }
    std::sort(labels.begin(), labels.end(),
              [](const Label& a, const Label& b) { return a.name < b.name; });
    return labels;
}

}  // namespace bridge
