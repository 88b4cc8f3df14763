#include "server/timed_duties.h"

namespace server {

void TimedDuties::run() {
    const int64_t now = engine_.now();
    if (engine_.last_phase_shift_attempt() + 30 < now) {
        engine_.phase_shift();
    }
    if (last_age_flush_ < now) {
        engine_.age_flush(static_cast<uint32_t>(now));
        last_age_flush_ = now;
    }
    report_.run(statistics_, now);
}

}  // namespace server
