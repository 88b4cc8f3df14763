#include "util/time_text.h"

#include <cstdio>
#include <ctime>

#include "error/assert.h"
#include "error/exception.h"
#include "platform/local_time.h"

namespace util {

std::string time_text(int64_t t) {
    error::require(t >= 0, "time2str(): Parameter less than 0");
    const platform::LocalTime local = platform::local_time(static_cast<std::time_t>(t));
    if (local.set_failed) {
        throw error::ESystemError("Couldn't set TZ environment variable");
    }
    if (!local.calendar) {
        throw error::ESystemError("Couldn't get localtime for time " + std::to_string(t));
    }
    const std::tm& c = *local.calendar;
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", c.tm_year + 1900, c.tm_mon + 1,
                  c.tm_mday, c.tm_hour, c.tm_min, c.tm_sec);
    return text;
}

}  // namespace util
