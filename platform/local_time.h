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

}  // namespace platform
