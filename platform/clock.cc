#include "platform/clock.h"

#include <time.h>

namespace platform {

std::optional<int64_t> wall_clock_microseconds() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return std::nullopt;
    }
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

}  // namespace platform
