#include "server/statistics.h"

#include <cmath>

#include "log/log.h"
#include "util/format.h"

namespace server {

namespace {

// The standard deviation of the recorded values.
double deviation(const statistics_entry_t& e) {
    if (e.calls == 0) {
        return 0;
    }
    const double n = static_cast<double>(e.calls);
    const double mean = e.sum / n;
    return std::sqrt(e.sum_squares / n + mean * mean - 2 * e.sum * mean / n);
}

}  // namespace

void StatisticsReport::run(const statistics_table& table, int64_t now) {
    if (now - last_report_ < 100) {
        return;
    }
    last_report_ = now;
    if (table.empty()) {
        return;
    }
    const std::string rule(58, '-');
    logging::log("Backend statistics: ");
    logging::log(rule);
    for (const auto& [name, e] : table) {
        const double mean = e.calls == 0 ? 0 : e.sum / static_cast<double>(e.calls);
        logging::log(name + ": (avg: " + util::format_double(mean) + ") (min: " +
                     util::format_double(e.min) + ") (max: " + util::format_double(e.max) +
                     ") (dev: " + util::format_double(deviation(e)) +
                     ") (calls: " + util::format_u64(e.calls) + ")");
    }
    logging::log(rule);
}

}  // namespace server
