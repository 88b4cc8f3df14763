#include "bridge/openmetrics.h"

#include <algorithm>

#include "tools/interval_rows.h"

namespace bridge {

namespace {

constexpr Metric families[] = {Metric::avg,          Metric::min,         Metric::max,
                               Metric::good_samples, Metric::bad_samples, Metric::state_mask,
                               Metric::severity};

bool gives(uint32_t type, Metric metric) {
    const auto metrics = metrics_of(type);
    return std::find(metrics.begin(), metrics.end(), metric) != metrics.end();
}

// Seconds with the milliseconds as a fraction, as OpenMetrics times are.
void write_time(std::ostream& out, int64_t ms) {
    const int64_t fraction = ms % 1000;
    out << ms / 1000;
    if (fraction != 0) {
        const std::string digits = std::to_string(1000 + fraction);
        out << '.' << digits.substr(1);
    }
}

std::string escaped(const std::string& value) {
    std::string text;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace

std::string series_text(const std::vector<Label>& labels) {
    std::string name;
    std::string rest;
    for (const Label& label : labels) {
        if (label.name == "__name__") {
            name = label.value;
            continue;
        }
        rest += (rest.empty() ? "" : ",") + label.name + "=\"" + escaped(label.value) + "\"";
    }
    return name + "{" + rest + "}";
}

uint64_t write_openmetrics(LiveReader& reader, const SeriesNames& names, const std::string& node,
                           TimeRange range, std::ostream& out) {
    const std::vector<SeriesInfo> all = reader.series();
    uint64_t written = 0;
    for (const Metric metric : families) {
        out << "# TYPE " << metric_name(metric) << " gauge\n";
        for (const SeriesInfo& series : all) {
            if (!gives(series.type, metric)) {
                continue;
            }
            const std::string prefix =
                series_text(labels_of(metric, {series.id, node, names.of(series.id)})) + " ";
            for (const Row& row :
                 reader.rows(series, range.from_ms, range.to_ms).value_or(std::vector<Row>{})) {
                if (const auto value = value_of(metric, row)) {
                    out << prefix << tools::double_text(*value) << ' ';
                    write_time(out, row.ms);
                    out << '\n';
                    ++written;
                }
            }
        }
    }
    out << "# EOF\n";
    return written;
}

}  // namespace bridge
