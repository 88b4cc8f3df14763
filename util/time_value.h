// Time values: seconds and microseconds since 1970-01-01 00:00:00 UTC, used
// for deadlines, time-outs and measurements. (2147483647 s, 0 µs) is "never",
// the unbounded deadline and time-out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace util {

class TimeValue {
public:
    static constexpr int32_t never_seconds = 2147483647;

    constexpr TimeValue() = default;
    // Microseconds of a million or more carry into the seconds; negative
    // microseconds break a rule of the caller.
    TimeValue(int32_t seconds, int32_t microseconds);

    static TimeValue now();
    static constexpr TimeValue never() { return TimeValue(Raw{never_seconds, 0}); }

    int32_t seconds() const { return seconds_; }
    int32_t microseconds() const { return microseconds_; }
    bool is_never() const { return *this == never(); }

    double as_double() const { return seconds_ + microseconds_ / 1e6; }

    // a - b; the result must not be negative in its microseconds.
    TimeValue operator-(const TimeValue& b) const;
    // A sum that reaches the largest time gives never;
    // a negative span that passes the smallest time stops there.
    TimeValue& operator+=(const TimeValue& b);
    TimeValue operator+(const TimeValue& b) const;

    bool operator==(const TimeValue& b) const = default;
    bool operator<=(const TimeValue& b) const { return as_double() <= b.as_double(); }

    // "seconds.micros" with six digits; negative values print as their
    // distance below zero ("-1.750000" for -2 s + 250000 µs).
    std::string text() const;

    enum class Zone { local, utc };
    // The seconds formatted by strftime; "invalid time" when they cannot be
    // converted to a calendar time.
    std::string calendar_text(Zone zone, const char* format = "%a %b %d %H:%M:%S %Y") const;

private:
    struct Raw {
        int32_t seconds, microseconds;
    };
    constexpr explicit TimeValue(Raw raw)
        : seconds_(raw.seconds), microseconds_(raw.microseconds) {}

    int32_t seconds_ = 0;
    int32_t microseconds_ = 0;
};

}  // namespace util
