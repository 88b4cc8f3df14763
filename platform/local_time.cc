#include "platform/local_time.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace platform {

namespace {

// The zone of the first conversion; nothing when TZ was unset then.
const std::optional<std::string>& first_zone() {
    static const std::optional<std::string> zone = [] {
        const char* tz = std::getenv("TZ");
        return tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
    }();
    return zone;
}

}  // namespace

LocalTime local_time(std::time_t t) {
    const std::optional<std::string>& zone = first_zone();
    const int set = zone ? setenv("TZ", zone->c_str(), 1) : unsetenv("TZ");
    if (set != 0) {
        return {std::nullopt, true};
    }
    tzset();
    std::tm calendar{};
    if (localtime_r(&t, &calendar) == nullptr) {
        return {};
    }
    return {calendar, false};
}

std::optional<std::time_t> from_local_calendar(std::tm calendar) {
    local_time(0);  // sets the process's zone
    calendar.tm_isdst = -1;
    const std::time_t t = mktime(&calendar);
    return t == -1 ? std::nullopt : std::optional<std::time_t>(t);
}

std::optional<std::time_t> from_utc_calendar(std::tm calendar) {
    const std::time_t t = timegm(&calendar);
    return t == -1 ? std::nullopt : std::optional<std::time_t>(t);
}

std::optional<std::tm> utc_time(std::time_t t) {
    std::tm parts{};
    if (gmtime_r(&t, &parts) == nullptr) {
        return std::nullopt;
    }
    return parts;
}

}  // namespace platform
