// The backend statistics report: a table of named timings written to the
// log every 100 seconds, when it holds anything.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace server {

struct statistics_entry_t {
    uint64_t calls = 0;
    double sum = 0;
    double sum_squares = 0;
    double min = 0;
    double max = 0;
};

using statistics_table = std::map<std::string, statistics_entry_t>;

class StatisticsReport {
public:
    // Logs the table, by name, when 100 seconds have passed since the last
    // report; an empty table only moves the timer.
    void run(const statistics_table& table, int64_t now);

private:
    int64_t last_report_ = 0;
};

}  // namespace server
