#include "util/clock.h"

#include "util/time_value.h"

namespace util {

int64_t system_seconds() { return TimeValue::now().seconds(); }

}  // namespace util
