// The wall clock.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// Microseconds since 1970-01-01 00:00:00 UTC, or nothing when the clock
// cannot be read.
std::optional<int64_t> wall_clock_microseconds() noexcept;

}  // namespace platform
