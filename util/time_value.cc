#include "util/time_value.h"

#include <cstdio>
#include <ctime>
#include <limits>

#include "error/assert.h"
#include "platform/clock.h"

namespace util {

namespace {

constexpr int32_t micros_per_second = 1000000;

}  // namespace

TimeValue::TimeValue(int32_t seconds, int32_t microseconds) {
    error::require(microseconds >= 0, "Cannot normalize negative microseconds");
    seconds_ = seconds + microseconds / micros_per_second;
    microseconds_ = microseconds % micros_per_second;
}

TimeValue TimeValue::now() {
    const auto micros = platform::wall_clock_microseconds();
    if (!micros) {
        std::fputs(
            "(TIME) Error getting system time \n(TIME) This may cause inaccurate measurements \n",
            stderr);
        return TimeValue();
    }
    return TimeValue(Raw{static_cast<int32_t>(*micros / micros_per_second),
                         static_cast<int32_t>(*micros % micros_per_second)});
}

TimeValue TimeValue::operator-(const TimeValue& b) const {
    int64_t seconds = int64_t{seconds_} - b.seconds_;
    int32_t micros = microseconds_ - b.microseconds_;
    if (micros < 0) {
        --seconds;
        micros += micros_per_second;
    }
    error::require(micros >= 0, "Negative usec");
    return TimeValue(Raw{static_cast<int32_t>(seconds), micros});
}

TimeValue& TimeValue::operator+=(const TimeValue& b) {
    int64_t seconds = int64_t{seconds_} + b.seconds_;
    int32_t micros = microseconds_ + b.microseconds_;
    if (micros >= micros_per_second) {
        ++seconds;
        micros -= micros_per_second;
    }
    error::require(micros < micros_per_second, "Too big usec in +=");
    if (seconds >= never_seconds) {
        *this = never();
    } else if (seconds < std::numeric_limits<int32_t>::min()) {
        *this = TimeValue(Raw{std::numeric_limits<int32_t>::min(), 0});
    } else {
        *this = TimeValue(Raw{static_cast<int32_t>(seconds), micros});
    }
    return *this;
}

TimeValue TimeValue::operator+(const TimeValue& b) const {
    TimeValue sum = *this;
    sum += b;
    return sum;
}

std::string TimeValue::text() const {
    char buffer[32];
    if (seconds_ < 0 && microseconds_ != 0) {
        std::snprintf(buffer, sizeof buffer, "-%lld.%06d", -static_cast<long long>(seconds_) - 1,
                      micros_per_second - microseconds_);
    } else {
        std::snprintf(buffer, sizeof buffer, "%d.%06d", seconds_, microseconds_);
    }
    return buffer;
}

std::string TimeValue::calendar_text(Zone zone, const char* format) const {
    const std::time_t seconds = seconds_;
    std::tm calendar{};
    const bool converted = zone == Zone::local ? localtime_r(&seconds, &calendar) != nullptr
                                               : gmtime_r(&seconds, &calendar) != nullptr;
    if (!converted) {
        return "invalid time";
    }
    char buffer[1024];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &calendar);
    return std::string(buffer, length);
}

}  // namespace util
