// The time as the database sees it: whole seconds since 1970-01-01 UTC. The
// process hands the system's clock to the engine at open; a test hands its
// own, so that what depends on the time does not depend on when it runs.
#pragma once

#include <cstdint>
#include <functional>

namespace util {

using Clock = std::function<int64_t()>;

int64_t system_seconds();

}  // namespace util
