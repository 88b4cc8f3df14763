#include "tools/graph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "tools/svg.h"
#include "tsdb/layout.h"
#include "util/format.h"
#include "util/time_value.h"

namespace tools {

namespace {

using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;

constexpr double width = 900;
constexpr double height = 320;
constexpr double left = 70;
constexpr double right = 20;
constexpr double top = 30;
constexpr double bottom = 40;
constexpr const char* palette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                   "#9467bd", "#8c564b", "#e377c2", "#7f7f7f"};

std::string four_digits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// A value in at most four significant digits with an SI prefix (1.2 G, 350 m),
// so that any magnitude fits the margin.
std::string si_text(double value, const std::string& unit) {
    static constexpr const char* large[] = {"", " k", " M", " G", " T", " P", " E"};
    static constexpr const char* small[] = {"", " m", " u", " n", " p"};
    double scaled = value;
    size_t step = 0;
    if (std::fabs(value) >= 1000) {
        while (std::fabs(scaled) >= 1000 && step + 1 < std::size(large)) {
            scaled /= 1000;
            ++step;
        }
        return four_digits(scaled) + large[step] + unit;
    }
    while (scaled != 0 && std::fabs(scaled) < 1 && step + 1 < std::size(small)) {
        scaled *= 1000;
        ++step;
    }
    const std::string prefix = small[step];
    return four_digits(scaled) + (prefix.empty() && !unit.empty() ? " " : prefix) + unit;
}

// Maps times and values onto the plot area.
class Plot {
public:
    Plot(int64_t from, int64_t to, double low, double high)
        : from_(from), span_(std::max<int64_t>(to - from, 1)), low_(low), high_(high) {}

    double x(int64_t t) const {
        return left +
               (width - left - right) * static_cast<double>(t - from_) / static_cast<double>(span_);
    }
    double y(double v) const {
        return height - bottom - (height - top - bottom) * (v - low_) / (high_ - low_);
    }

    void axes(Svg& svg, const ChartLabels& labels, int value_ticks) const {
        svg.rect(0, 0, width, height, "#ffffff");
        svg.text({width / 2, 18}, labels.title, "middle", 13);
        svg.line({left, height - bottom}, {width - right, height - bottom}, "#333333");
        svg.line({left, top}, {left, height - bottom}, "#333333");
        for (int i = 0; value_ticks > 0 && i <= value_ticks; ++i) {
            const double v = low_ + (high_ - low_) * i / value_ticks;
            svg.line({left - 4, y(v)}, {width - right, y(v)}, "#e0e0e0", 0.5);
            svg.text({left - 6, y(v) + 4}, si_text(v, labels.unit), "end", 10);
        }
        time_ticks(svg);
    }

private:
    void time_ticks(Svg& svg) const {
        static constexpr int64_t steps[] = {60,    300,   900,   1800,   3600,   3 * 3600,
                                            21600, 43200, 86400, 172800, 604800, 2592000};
        int64_t step = steps[std::size(steps) - 1];
        for (int64_t s : steps) {
            if (span_ / s <= 8) {
                step = s;
                break;
            }
        }
        const char* format = span_ <= 86400 ? "%H:%M" : "%m-%d %H:%M";
        for (int64_t t = (from_ / step + 1) * step; t < from_ + span_; t += step) {
            svg.line({x(t), height - bottom}, {x(t), height - bottom + 4}, "#333333");
            const util::TimeValue at(static_cast<int32_t>(t), 0);
            svg.text({x(t), height - bottom + 16},
                     at.calendar_text(util::TimeValue::Zone::local, format), "middle", 10);
        }
    }

    int64_t from_;
    int64_t span_;
    double low_;
    double high_;
};

std::pair<double, double> padded(double low, double high) {
    if (!(low < high)) {
        return {low - 1, high + 1};
    }
    const double pad = (high - low) * 0.05;
    return {low - pad, high + pad};
}

int64_t middle(const data_interval_continuous_t& c) { return c.start + (c.end - c.start) / 2; }

// Time between two intervals that neither covers, and more than either spans.
bool gap_between(const data_interval_continuous_t& a, const data_interval_continuous_t& b) {
    const int64_t missing = b.start - a.end;
    return missing > 0 && missing > std::max(a.end - a.start, b.end - b.start);
}

void legend_and_summary(Svg& svg, const std::vector<const data_interval_continuous_t*>& good,
                        const std::string& unit) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    double sum = 0;
    double samples = 0;
    for (const auto* c : good) {
        low = std::min<double>(low, c->min);
        high = std::max<double>(high, c->max);
        sum += double{c->avg} * c->ngood;
        samples += c->ngood;
    }
    const double y = height - 8;
    svg.line({left, y - 4}, {left + 20, y - 4}, palette[0], 1.5);
    svg.text({left + 24, y}, "average", "start", 10);
    svg.rect(left + 80, y - 9, 20, 10, palette[0], 0.2);
    svg.text({left + 104, y}, "min to max", "start", 10);
    svg.text({width - right, y},
             "min " + si_text(low, unit) + "  avg " + si_text(sum / samples, unit) + "  max " +
                 si_text(high, unit) + "  last " + si_text(good.back()->avg, unit),
             "end", 10);
}

void continuous_chart(Svg& svg, const tsdb::interval_list& data, int64_t from, int64_t to,
                      const ChartLabels& labels) {
    std::vector<const data_interval_continuous_t*> good;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const auto& i : data.items) {
        const auto* c = dynamic_cast<const data_interval_continuous_t*>(i.get());
        if (c != nullptr && c->ngood > 0 && std::isfinite(c->min) && std::isfinite(c->max)) {
            good.push_back(c);
            low = std::min<double>(low, c->min);
            high = std::max<double>(high, c->max);
        }
    }
    const auto [bottom_value, top_value] = good.empty() ? std::pair(0.0, 1.0) : padded(low, high);
    const Plot plot(from, to, bottom_value, top_value);
    plot.axes(svg, labels, 5);
    if (good.empty()) {
        svg.text({width / 2, height / 2}, "no data", "middle", 13);
        return;
    }
    // Each stretch without a gap is drawn on its own: a gap stays empty.
    for (size_t first = 0; first < good.size();) {
        size_t last = first;
        while (last + 1 < good.size() && !gap_between(*good[last], *good[last + 1])) {
            ++last;
        }
        std::vector<Point> line;
        std::vector<Point> band;
        for (size_t k = first; k <= last; ++k) {
            line.emplace_back(plot.x(middle(*good[k])), plot.y(good[k]->avg));
            band.emplace_back(plot.x(middle(*good[k])), plot.y(good[k]->max));
        }
        for (size_t k = last + 1; k-- > first;) {
            band.emplace_back(plot.x(middle(*good[k])), plot.y(good[k]->min));
        }
        svg.polygon(band, palette[0], 0.2);
        svg.polyline(line, palette[0], 1.5);
        first = last + 1;
    }
    legend_and_summary(svg, good, labels.unit);
}

void enum_chart(Svg& svg, const tsdb::interval_list& data, int64_t from, int64_t to,
                const ChartLabels& labels) {
    uint32_t seen = 0;
    for (const auto& i : data.items) {
        if (const auto* e = dynamic_cast<const data_interval_enum_t*>(i.get())) {
            seen |= e->mask;
        }
    }
    std::vector<int> states;
    for (int bit = 0; bit < 32; ++bit) {
        if ((seen >> bit & 1) != 0) {
            states.push_back(bit);
        }
    }
    const double lanes = std::max<double>(static_cast<double>(states.size()), 1);
    const Plot plot(from, to, 0, lanes);
    plot.axes(svg, labels, 0);
    for (size_t lane = 0; lane < states.size(); ++lane) {
        const double y = plot.y(static_cast<double>(lane) + 1);
        const double h = plot.y(0) - plot.y(1);
        svg.text({left - 6, y + h / 2 + 4}, "state " + std::to_string(states[lane]), "end", 10);
        // Touching intervals in the state make one rectangle.
        std::optional<std::pair<int64_t, int64_t>> run;
        const auto draw = [&] {
            if (run) {
                svg.rect(plot.x(run->first), y + 2, plot.x(run->second) - plot.x(run->first), h - 4,
                         palette[lane % std::size(palette)], 0.8);
            }
        };
        for (const auto& i : data.items) {
            const auto* e = dynamic_cast<const data_interval_enum_t*>(i.get());
            if (e == nullptr || (e->mask >> states[lane] & 1) == 0) {
                continue;
            }
            if (run && e->start <= run->second) {
                run->second = std::max(run->second, e->end);
            } else {
                draw();
                run = std::pair(e->start, e->end);
            }
        }
        draw();
    }
    if (states.empty()) {
        svg.text({width / 2, height / 2}, "no data", "middle", 13);
    }
}

void incident_chart(Svg& svg, const tsdb::interval_list& data, int64_t from, int64_t to,
                    const ChartLabels& labels) {
    uint32_t worst = 1;
    for (const auto& i : data.items) {
        if (const auto* n = dynamic_cast<const data_interval_incident_t*>(i.get())) {
            worst = std::max(worst, n->sev);
        }
    }
    // Whole severities on the axis; colours from mild to grave.
    static constexpr const char* gravity[] = {"#2ca02c", "#bcbd22", "#ff7f0e", "#d62728",
                                              "#7f0000"};
    const uint32_t top_severity = worst + 1 <= 10 ? worst + 1 : (worst + 1 + 9) / 10 * 10;
    const Plot plot(from, to, 0, top_severity);
    plot.axes(svg, labels, static_cast<int>(std::min<uint32_t>(top_severity, 10)));
    size_t drawn = 0;
    for (const auto& i : data.items) {
        if (const auto* n = dynamic_cast<const data_interval_incident_t*>(i.get())) {
            svg.circle({plot.x(n->itime), plot.y(n->sev)}, 4,
                       gravity[std::min<size_t>(n->sev, std::size(gravity) - 1)],
                       "severity " + std::to_string(n->sev) + ": " + n->msg);
            ++drawn;
        }
    }
    if (drawn == 0) {
        svg.text({width / 2, height / 2}, "no data", "middle", 13);
    }
}

}  // namespace

std::string chart(uint32_t storage_type, const tsdb::interval_list& data, int64_t from, int64_t to,
                  const ChartLabels& labels) {
    Svg svg(width, height);
    switch (storage_type) {
        case tsdb::type_enum:
            enum_chart(svg, data, from, to, labels);
            break;
        case tsdb::type_incident:
            incident_chart(svg, data, from, to, labels);
            break;
        default:
            continuous_chart(svg, data, from, to, labels);
    }
    return svg.str();
}

}  // namespace tools
