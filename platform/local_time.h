// Local calendar time in the zone the process started with: the TZ value
// found at the first conversion is set again before every later one, so a
// library that changes TZ meanwhile cannot move the process's clock face.
#pragma once

#include <ctime>
#include <optional>

namespace platform {

// The broken-down local time of t; nothing when TZ cannot be set
// (`set_failed`) or the time has no calendar form.
struct LocalTime {
    std::optional<std::tm> calendar;
    bool set_failed = false;
};
LocalTime local_time(std::time_t t);
// The broken-down time of t in UTC; nothing when it has no calendar form.
std::optional<std::tm> utc_time(std::time_t t);

// The time of a calendar date and clock time read in that local zone, or in
// UTC; nothing when it has no such time.
std::optional<std::time_t> from_local_calendar(std::tm calendar);
std::optional<std::time_t> from_utc_calendar(std::tm calendar);

}  // namespace platform
