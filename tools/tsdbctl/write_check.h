// What `tsdbctl put` may send: each interval is held against the rules the
// database keeps and against what the series already holds, so that nothing
// is reported written that the database would drop or put out of place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "queues/data_interval.h"

namespace tsdbctl {

// The time an interval covers; an incident's start and end are its time.
struct Span {
    int64_t start;
    int64_t end;
};
Span span_of(const tsdb::data_interval_t& interval);
// Where an interval stops taking room in time: its end, or the second after
// an incident.
int64_t occupied_until(const tsdb::data_interval_t& interval);

struct WriteRules {
    std::optional<int64_t> newest_end;  // where the series' newest record ends
    int64_t now = 0;
    bool allow_future = false;  // else more than 5 minutes ahead is refused
    bool backfill = false;      // older intervals go apart instead of being refused
    // For incidents: the finest level's resolution; one less than this after
    // a kept incident is folded into it, so it is refused.
    int64_t incident_step = 0;
};

struct Refusal {
    size_t line;       // of the input
    std::string rule;  // why, in a few words
};

struct CheckedWrites {
    tsdb::interval_list appended;  // newer than anything held, in time order
    tsdb::interval_list older;     // only with backfill
    std::vector<Refusal> refused;
};

// Sorts the intervals read from `lines` of the input.
CheckedWrites check_writes(tsdb::interval_list intervals, const std::vector<size_t>& lines,
                           const WriteRules& rules);

// "3 older than the newest record at ...: lines 4 5 9, 1 not a number: line 2":
// the refusals by rule, with the first few lines of each.
std::string refusal_summary(const std::vector<Refusal>& refused);

}  // namespace tsdbctl
