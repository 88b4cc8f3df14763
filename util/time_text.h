// The text form of a time in messages and traces: local time as
// "2009-03-07 14:05:09" (the year without leading zeros).
#pragma once

#include <cstdint>
#include <string>

namespace util {

// A negative time breaks the caller's rule (assertion); error::ESystemError
// "Couldn't set TZ environment variable" or "Couldn't get localtime for
// time " and t when the conversion fails.
std::string time_text(int64_t t);

}  // namespace util
