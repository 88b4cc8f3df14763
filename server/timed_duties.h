// What the main loop does after every event or one-second wait: a phase
// shift of all chains when more than 30 seconds have passed since the last
// attempt, the age flush of the write buffers at most once a second, and the
// statistics report.
#pragma once

#include <cstdint>

#include "server/statistics.h"
#include "tsdb/engine.h"

namespace server {

class TimedDuties {
public:
    explicit TimedDuties(tsdb::Engine& engine) : engine_(engine) {}

    // At the engine's time.
    void run();

private:
    tsdb::Engine& engine_;
    int64_t last_age_flush_ = 0;
    StatisticsReport report_;
    const statistics_table statistics_;  // nothing in this process records into it
};

}  // namespace server
