#include "tools/tsdbctl/write_check.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "util/time_text.h"

namespace tsdbctl {

namespace {

constexpr int64_t latest_record_time = 0xFFFFFFFF;
constexpr int64_t future_slack = 300;

// The rule a continuous interval's values break, if any.
std::optional<std::string> value_rule(const tsdb::data_interval_t& i) {
    const auto* c = dynamic_cast<const tsdb::data_interval_continuous_t*>(&i);
    if (c == nullptr || c->ngood == 0) {
        return std::nullopt;
    }
    if (!std::isfinite(c->min) || !std::isfinite(c->avg) || !std::isfinite(c->max)) {
        return "not a number";
    }
    if (c->min > c->max) {
        return "min above max";
    }
    if (c->avg < c->min || c->avg > c->max) {
        return "average outside min and max";
    }
    return std::nullopt;
}

// The rule the interval breaks on its own, if any.
std::optional<std::string> own_rule(const tsdb::data_interval_t& i, const WriteRules& rules) {
    const Span s = span_of(i);
    if (s.start < 0 || s.end > latest_record_time) {
        return "outside the times a record can hold (1970 to 2106)";
    }
    if (s.end < s.start) {
        return "ends before it starts";
    }
    if (!rules.allow_future && s.start > rules.now + future_slack) {
        return "more than 5 minutes in the future (--allow-future writes it)";
    }
    return value_rule(i);
}

}  // namespace

Span span_of(const tsdb::data_interval_t& i) {
    if (const auto* c = dynamic_cast<const tsdb::data_interval_continuous_t*>(&i)) {
        return {c->start, c->end};
    }
    if (const auto* e = dynamic_cast<const tsdb::data_interval_enum_t*>(&i)) {
        return {e->start, e->end};
    }
    const auto& n = dynamic_cast<const tsdb::data_interval_incident_t&>(i);
    return {n.itime, n.itime};
}

int64_t occupied_until(const tsdb::data_interval_t& i) {
    const Span s = span_of(i);
    return s.end == s.start && dynamic_cast<const tsdb::data_interval_incident_t*>(&i) != nullptr
               ? s.end + 1
               : s.end;
}

CheckedWrites check_writes(tsdb::interval_list intervals, const std::vector<size_t>& lines,
                           const WriteRules& rules) {
    CheckedWrites out;
    std::optional<int64_t> end = rules.newest_end;
    for (size_t k = 0; k < intervals.size(); ++k) {
        std::unique_ptr<tsdb::data_interval_t>& i = intervals.items[k];
        if (const auto broken = own_rule(*i, rules)) {
            out.refused.push_back({lines[k], *broken});
            continue;
        }
        const Span s = span_of(*i);
        if (end && s.start < *end) {
            if (rules.backfill) {
                out.older.items.push_back(std::move(i));
            } else {
                out.refused.push_back({lines[k], "older than the newest record, which ends at " +
                                                     util::time_text(*end) + " (--backfill)"});
            }
            continue;
        }
        if (const auto* incident = dynamic_cast<const tsdb::data_interval_incident_t*>(i.get());
            incident && end && rules.incident_step > 0 &&
            s.start < *end - 1 + rules.incident_step) {
            out.refused.push_back({lines[k], "less than " + std::to_string(rules.incident_step) +
                                                 " s after the incident at " +
                                                 util::time_text(*end - 1) +
                                                 ", which the database keeps in its place"});
            continue;
        }
        end = occupied_until(*i);
        out.appended.items.push_back(std::move(i));
    }
    return out;
}

std::string refusal_summary(const std::vector<Refusal>& refused) {
    std::map<std::string, std::vector<size_t>> by_rule;
    for (const Refusal& r : refused) {
        by_rule[r.rule].push_back(r.line);
    }
    constexpr size_t lines_named = 5;
    std::string text;
    for (const auto& [rule, lines] : by_rule) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(lines.size()) + " " + rule + ": line";
        text += lines.size() > 1 ? "s" : "";
        for (size_t n = 0; n < std::min(lines.size(), lines_named); ++n) {
            text += ' ';
            text += std::to_string(lines[n]);
        }
        text += lines.size() > lines_named ? " ..." : "";
    }
    return text;
}

}  // namespace tsdbctl
