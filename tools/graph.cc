#include "tools/graph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include "tools/svg.h"
#include "tsdb/layout.h"
#include "util/format.h"
#include "util/time_value.h"

namespace tools {

namespace {

using tsdb::data_interval_continuous_t;
using tsdb::data_interval_enum_t;
using tsdb::data_interval_incident_t;

constexpr double left = 70;
constexpr double right = 20;
constexpr double top = 30;
constexpr double bottom = 52;  // tick labels of two lines, then the legend
constexpr double legend_line = 14;
constexpr const char* palette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                   "#9467bd", "#8c564b", "#e377c2", "#7f7f7f"};

std::string digits(double value, int significant) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*g", significant, value);
    return text;
}

// Whether a unit carries a prefix already ("ms", "KiB", "MB/s"), so that no
// second one goes before it.
bool prefixed(const std::string& unit) {
    static constexpr std::string_view bases[] = {"s",   "B",     "b",    "bit", "Hz", "W",
                                                 "V",   "A",     "g",    "m",   "iB", "B/s",
                                                 "b/s", "bit/s", "iB/s", "bps"};
    if (unit.size() < 2 ||
        std::string_view("kKMGTPEmunp").find(unit[0]) == std::string_view::npos) {
        return false;
    }
    return std::find(std::begin(bases), std::end(bases), std::string_view(unit).substr(1)) !=
           std::end(bases);
}

// A value with an SI prefix (1.2 G, 350 m) in at most `significant` digits,
// so that any magnitude fits the margin; binary prefixes (1.5 KiB) for a
// unit that asks for them ("iB", "iB/s"); none for a prefixed unit.
std::string si_text(double value, const std::string& unit, int significant = 4) {
    static constexpr const char* large[] = {"", " k", " M", " G", " T", " P", " E"};
    static constexpr const char* binary[] = {"", " Ki", " Mi", " Gi", " Ti", " Pi", " Ei"};
    static constexpr const char* small[] = {"", " m", " u", " n", " p"};
    if (prefixed(unit)) {
        return digits(value, significant) + " " + unit;
    }
    const bool in_binary = unit.starts_with("iB");
    const double base = in_binary ? 1024 : 1000;
    double scaled = value;
    size_t step = 0;
    if (std::fabs(value) >= base) {
        while (std::fabs(scaled) >= base && step + 1 < std::size(large)) {
            scaled /= base;
            ++step;
        }
        return digits(scaled, significant) + (in_binary ? binary : large)[step] +
               (in_binary ? unit.substr(1) : unit);
    }
    if (in_binary) {
        return digits(value, significant) + " " + unit.substr(1);
    }
    while (scaled != 0 && std::fabs(scaled) < 1 && step + 1 < std::size(small)) {
        scaled *= 1000;
        ++step;
    }
    const std::string prefix = small[step];
    return digits(scaled, significant) + (prefix.empty() && !unit.empty() ? " " : prefix) + unit;
}

// A tick step of 1, 2 or 5 times a power of ten that cuts the range into
// about `wanted` parts.
double nice_step(double range, int wanted) {
    const double rough = range / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (rough <= m * power) {
            return m * power;
        }
    }
    return 10 * power;
}

std::string local_text(int64_t t, const char* format) {
    return util::TimeValue(static_cast<int32_t>(t), 0)
        .calendar_text(util::TimeValue::Zone::local, format);
}

struct TimeTick {
    int64_t at;
    std::string text;
    std::string context;  // the day or year, under the text where it changes
};

// Ticks at whole minutes, hours or days, up to `most` of them; each carries
// its date where the day changes from the tick before.
std::vector<TimeTick> clock_ticks(int64_t from, int64_t to, size_t most) {
    static constexpr int64_t steps[] = {60,    300,   900,   1800,   3600,   3 * 3600,
                                        21600, 43200, 86400, 172800, 604800, 1209600};
    const int64_t step = *std::find_if(std::begin(steps), std::end(steps) - 1, [&](int64_t s) {
        return (to - from) / s < static_cast<int64_t>(most);
    });
    const bool daily = step >= 86400;
    std::vector<TimeTick> ticks;
    std::string previous;
    for (int64_t t = (from / step + 1) * step; t < to; t += step) {
        const std::string context = local_text(t, daily ? "%Y" : "%b %d");
        ticks.push_back(
            {t, local_text(t, daily ? "%b %d" : "%H:%M"), context == previous ? "" : context});
        previous = context;
    }
    return ticks;
}

// Ticks at the first of every month, or of every few months or years, up
// to `most` of them; each carries its year where the year changes.
std::vector<TimeTick> calendar_ticks(int64_t from, int64_t to, size_t most) {
    std::vector<int64_t> months;
    std::string month = local_text(from, "%Y%m");
    for (int64_t day = from / 86400 * 86400 + 86400; day < to; day += 86400) {
        const std::string this_month = local_text(day, "%Y%m");
        if (this_month != month) {
            months.push_back(day);
            month = this_month;
        }
    }
    size_t every = 1;
    for (const size_t k : {1, 2, 3, 6, 12, 24, 60, 120}) {
        every = k;
        if (months.size() / k < most) {
            break;
        }
    }
    std::vector<TimeTick> ticks;
    std::string year;
    for (size_t m = 0; m < months.size(); m += every) {
        const std::string this_year = local_text(months[m], "%Y");
        ticks.push_back({months[m], every >= 12 ? this_year : local_text(months[m], "%b"),
                         every >= 12 || this_year == year ? "" : this_year});
        year = this_year;
    }
    return ticks;
}

// Maps times and values onto the plot area.
class Plot {
public:
    // The legend takes `legend_lines` lines under the time axis.
    Plot(const ChartLabels& frame, int64_t from, int64_t to, double low, double high,
         size_t legend_lines = 1)
        : width_(frame.width),
          height_(frame.height),
          bottom_(bottom +
                  legend_line * static_cast<double>(std::max<size_t>(legend_lines, 1) - 1)),
          from_(from),
          span_(std::max<int64_t>(to - from, 1)),
          low_(low),
          high_(high),
          log_(frame.logarithmic) {}

    double width() const { return width_; }
    double height() const { return height_; }
    // Where the legend's first line stands.
    double legend_y() const { return height_ - bottom_ + 44; }
    double x(int64_t t) const {
        return left + (width_ - left - right) * static_cast<double>(t - from_) /
                          static_cast<double>(span_);
    }
    double y(double v) const {
        // On a logarithmic axis what lies at or below its bottom is drawn there.
        const double share = log_ ? (std::log10(std::max(v, low_)) - std::log10(low_)) /
                                        (std::log10(high_) - std::log10(low_))
                                  : (v - low_) / (high_ - low_);
        return height_ - bottom_ - (height_ - top - bottom_) * share;
    }

    // Threshold lines across the plot, each with its label at the right.
    void rules(Svg& svg, const ChartLabels& labels) const {
        for (const auto& [value, label] : labels.hrules) {
            if (value < low_ || value > high_) {
                continue;
            }
            svg.line({left, y(value)}, {width_ - right, y(value)}, "#d62728", 1);
            svg.text({width_ - right, y(value) - 3},
                     label.empty() ? si_text(value, labels.unit) : label, "end", 10);
        }
    }

    // The frame, the title, value ticks `value_step` apart (none for 0)
    // and the time ticks. Tick labels carry the digits that tell them apart.
    void axes(Svg& svg, const ChartLabels& labels, double value_step) const {
        const double largest = std::max(std::fabs(low_), std::fabs(high_));
        const int significant =
            value_step <= 0 || largest == 0
                ? 4
                : std::clamp(static_cast<int>(std::floor(std::log10(largest)) -
                                              std::floor(std::log10(value_step))) +
                                 1,
                             4, 15);
        svg.rect(0, 0, width_, height_, "#ffffff");
        svg.text({width_ / 2, 18}, labels.title, "middle", 13);
        svg.line({left, height_ - bottom_}, {width_ - right, height_ - bottom_}, "#333333");
        svg.line({left, top}, {left, height_ - bottom_}, "#333333");
        for (const double shown : value_ticks(value_step)) {
            svg.line({left - 4, y(shown)}, {width_ - right, y(shown)}, "#e0e0e0", 0.5);
            svg.text({left - 6, y(shown) + 4}, si_text(shown, labels.unit, significant), "end", 10);
        }
        time_ticks(svg);
    }

    void no_data(Svg& svg) const { svg.text({width_ / 2, height_ / 2}, "no data", "middle", 13); }

private:
    // Every power of ten on a logarithmic axis, else whole steps.
    std::vector<double> value_ticks(double step) const {
        std::vector<double> ticks;
        if (log_) {
            const auto decades = std::lround(std::log10(high_ / low_));
            for (long d = 0; d <= decades; ++d) {
                ticks.push_back(low_ * std::pow(10.0, static_cast<double>(d)));
            }
            return ticks;
        }
        if (step <= 0) {
            return ticks;
        }
        const auto first = static_cast<long>(std::ceil(low_ / step - 1e-9));
        const auto last = static_cast<long>(std::floor(high_ / step + 1e-9));
        for (long n = first; n <= last; ++n) {
            ticks.push_back(n == 0 ? 0.0 : static_cast<double>(n) * step);
        }
        return ticks;
    }

    void time_ticks(Svg& svg) const {
        // A label takes about 70 units; fewer ticks on a narrow chart.
        const size_t most = std::max<size_t>(2, static_cast<size_t>((width_ - left - right) / 70));
        const int64_t to = from_ + span_;
        const std::vector<TimeTick> ticks =
            span_ > 60 * 86400 ? calendar_ticks(from_, to, most) : clock_ticks(from_, to, most);
        for (const TimeTick& tick : ticks) {
            const double x_at = x(tick.at);
            svg.line({x_at, height_ - bottom_}, {x_at, height_ - bottom_ + 4}, "#333333");
            svg.text({x_at, height_ - bottom_ + 16}, tick.text, "middle", 10);
            if (!tick.context.empty()) {
                svg.text({x_at, height_ - bottom_ + 28}, tick.context, "middle", 10);
            }
        }
    }

    double width_;
    double height_;
    double bottom_;
    int64_t from_;
    int64_t span_;
    double low_;
    double high_;
    bool log_;
};

// The value range widened to whole tick steps around the data.
struct ValueAxis {
    double low;
    double high;
    double step;
};

ValueAxis value_axis(double low, double high);

// The axis over the values, the thresholds and what the labels fix.
ValueAxis value_axis(double low, double high, const ChartLabels& labels) {
    for (const auto& rule : labels.hrules) {
        low = std::min(low, rule.first);
        high = std::max(high, rule.first);
    }
    low = labels.lower.value_or(low);
    high = labels.upper.value_or(high);
    if (labels.logarithmic) {
        const double bottom_value = std::pow(10.0, std::floor(std::log10(low > 0 ? low : 1e-3)));
        const double top_value =
            std::pow(10.0, std::ceil(std::log10(std::max(high, bottom_value * 10))));
        return {bottom_value, std::max(top_value, bottom_value * 10), 0};
    }
    if (labels.lower && labels.upper && low < high) {
        return {low, high, nice_step(high - low, 5)};
    }
    return value_axis(low, high);
}

ValueAxis value_axis(double low, double high) {
    if (!(low < high)) {
        const double pad = low == 0 ? 1 : std::fabs(low) * 0.1;
        low -= pad;
        high += pad;
    }
    const double step = nice_step(high - low, 5);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

int64_t middle(const data_interval_continuous_t& c) { return c.start + (c.end - c.start) / 2; }

// At most `length` characters of a text (whole UTF-8 ones), "..." after a cut.
std::string shortened(const std::string& text, size_t length) {
    size_t at = 0;
    for (size_t characters = 0; at < text.size() && characters < length; ++characters) {
        do {
            ++at;
        } while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80);
    }
    return at < text.size() ? text.substr(0, at) + "..." : text;
}

// The n-th series' colour: the palette's, then hues a golden angle apart.
std::string colour_of(size_t n) {
    if (n < std::size(palette)) {
        return palette[n];
    }
    const double hue = std::fmod(static_cast<double>(n) * 137.508, 360.0);
    return "hsl(" + std::to_string(static_cast<int>(hue)) + ",70%,40%)";
}

// Each legend entry's x and line (from 0), wrapped to the chart's width.
std::vector<Point> legend_places(const std::vector<NamedSeries>& series, double width) {
    std::vector<Point> places;
    double x = left;
    double line = 0;
    for (const NamedSeries& s : series) {
        const double wide = 30 + 6.5 * static_cast<double>(s.name.size());
        if (x > left && x + wide > width - right) {
            x = left;
            ++line;
        }
        places.push_back({x, line});
        x += wide;
    }
    return places;
}

// Time between two intervals that neither covers, and more than either spans.
bool gap_between(const data_interval_continuous_t& a, const data_interval_continuous_t& b) {
    const int64_t missing = b.start - a.end;
    return missing > 0 && missing > std::max(a.end - a.start, b.end - b.start);
}

void legend_and_summary(Svg& svg, const Plot& plot,
                        const std::vector<const data_interval_continuous_t*>& good,
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
    const double y = plot.height() - 8;
    svg.line({left, y - 4}, {left + 20, y - 4}, palette[0], 1.5);
    svg.text({left + 24, y}, "average", "start", 10);
    svg.rect(left + 80, y - 9, 20, 10, palette[0], 0.2);
    svg.text({left + 104, y}, "min to max", "start", 10);
    svg.text({plot.width() - right, y},
             "min " + si_text(low, unit) + "  avg " + si_text(sum / samples, unit) + "  max " +
                 si_text(high, unit) + "  last " + si_text(good.back()->avg, unit),
             "end", 10);
}

// The intervals with good samples and finite values, and where an interval
// without them (a gap, whatever its length) lies between two of them.
struct Good {
    std::vector<const data_interval_continuous_t*> list;
    std::vector<bool> after_gap;  // per interval of the list
};

Good good_of(const tsdb::interval_list& data) {
    Good good;
    bool gap = false;
    for (const auto& i : data.items) {
        const auto* c = dynamic_cast<const data_interval_continuous_t*>(i.get());
        if (c != nullptr && c->ngood > 0 && std::isfinite(c->min) && std::isfinite(c->max)) {
            good.list.push_back(c);
            good.after_gap.push_back(gap);
            gap = false;
        } else {
            gap = true;
        }
    }
    return good;
}

// Calls `draw(first, last)` for each stretch without a gap: a gap stays empty.
template <typename Draw>
void for_each_stretch(const Good& good, Draw&& draw) {
    const auto& list = good.list;
    for (size_t first = 0; first < list.size();) {
        size_t last = first;
        while (last + 1 < list.size() && !good.after_gap[last + 1] &&
               !gap_between(*list[last], *list[last + 1])) {
            ++last;
        }
        draw(first, last);
        first = last + 1;
    }
}

void continuous_chart(Svg& svg, const tsdb::interval_list& data, int64_t from, int64_t to,
                      const ChartLabels& labels) {
    const Good all_good = good_of(data);
    const std::vector<const data_interval_continuous_t*>& good = all_good.list;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const auto* c : good) {
        low = std::min<double>(low, c->min);
        high = std::max<double>(high, c->max);
    }
    const ValueAxis axis = good.empty() ? value_axis(0, 1, labels) : value_axis(low, high, labels);
    const Plot plot(labels, from, to, axis.low, axis.high);
    plot.axes(svg, labels, axis.step);
    if (good.empty()) {
        return plot.no_data(svg);
    }
    for_each_stretch(all_good, [&](size_t first, size_t last) {
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
    });
    legend_and_summary(svg, plot, good, labels.unit);
    plot.rules(svg, labels);
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
    const Plot plot(labels, from, to, 0, lanes);
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
        plot.no_data(svg);
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
    const Plot plot(labels, from, to, 0, top_severity);
    plot.axes(svg, labels, top_severity <= 10 ? 1 : nice_step(top_severity, 5));
    size_t drawn = 0;
    for (const auto& i : data.items) {
        if (const auto* n = dynamic_cast<const data_interval_incident_t*>(i.get())) {
            const Point at{plot.x(n->itime), plot.y(n->sev)};
            svg.circle(at, 4, gravity[std::min<size_t>(n->sev, std::size(gravity) - 1)],
                       "severity " + std::to_string(n->sev) + ": " + n->msg);
            // The message beside it, for pictures without tooltips.
            svg.text({at.first + 6, at.second - 6}, shortened(n->msg, 24), "start", 9);
            ++drawn;
        }
    }
    if (drawn == 0) {
        plot.no_data(svg);
    }
}

}  // namespace

std::string lines_chart(const std::vector<NamedSeries>& series, int64_t from, int64_t to,
                        const ChartLabels& labels) {
    std::vector<Good> good;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const NamedSeries& s : series) {
        good.push_back(good_of(*s.data));
        for (const auto* c : good.back().list) {
            low = std::min<double>(low, c->avg);
            high = std::max<double>(high, c->avg);
        }
    }
    const std::vector<Point> entries = legend_places(series, labels.width);
    const size_t lines = entries.empty() ? 1 : static_cast<size_t>(entries.back().second) + 1;
    Svg svg(labels.width, labels.height);
    const bool empty = !(low <= high);
    const ValueAxis axis = empty ? value_axis(0, 1, labels) : value_axis(low, high, labels);
    const Plot plot(labels, from, to, axis.low, axis.high, lines);
    plot.axes(svg, labels, axis.step);
    if (empty) {
        plot.no_data(svg);
    }
    for (size_t n = 0; n < series.size(); ++n) {
        const std::string colour = colour_of(n);
        for_each_stretch(good[n], [&](size_t first, size_t last) {
            std::vector<Point> line;
            for (size_t k = first; k <= last; ++k) {
                line.emplace_back(plot.x(middle(*good[n].list[k])), plot.y(good[n].list[k]->avg));
            }
            svg.polyline(line, colour, 1.5);
        });
        const double x = entries[n].first;
        const double y = plot.legend_y() + legend_line * entries[n].second;
        svg.line({x, y - 4}, {x + 20, y - 4}, colour, 1.5);
        svg.text({x + 24, y}, series[n].name, "start", 10);
    }
    plot.rules(svg, labels);
    return svg.str();
}

std::string chart(uint32_t storage_type, const tsdb::interval_list& data, int64_t from, int64_t to,
                  const ChartLabels& labels) {
    Svg svg(labels.width, labels.height);
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
