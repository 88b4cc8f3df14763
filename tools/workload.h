// The synthetic monitoring workload shared by the benchmarks and by
// tsdbctl load: per series one sample per step (a minute unless chosen),
// values drawn from a fixed seed so every run sees the same data. Continuous
// samples wander around a level of their own with now and then a failed
// sample; enum samples stay in one of four states for a while; incidents
// happen rarely.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "tsdb/layout.h"
#include "tsdb/record.h"

namespace workload {

inline constexpr uint32_t start_time = 1700000000;
inline constexpr uint32_t minute = 60;

// 60 s x 1440, 300 s x 2016, 3600 s x 8760.
inline tsdb::time_series_layout_t three_levels() {
    return {tsdb::type_continuous, {{1440, 60}, {2016, 300}, {8760, 3600}}};
}

class Samples {
public:
    explicit Samples(uint32_t seed = 42, uint32_t start = start_time, uint32_t step = minute)
        : random_(seed), start_(start), step_(step) {}

    // The sample of one series at step m: a daily swing around a level of
    // the series' own, with noise.
    tsdb::continuous_record_t at(uint32_t series, uint32_t m) {
        const double day_part = static_cast<double>(time(m) % 86400) / 86400.0;
        const float v = static_cast<float>(20 + series % 50 +
                                           15 * std::sin(2 * 3.14159265 * day_part + series) +
                                           static_cast<double>(random_() % 64) / 16);
        const bool bad = random_() % 50 == 0;
        return bad ? tsdb::continuous_record_t{time(m), step_, 0, 1, 0, 0, 0}
                   : tsdb::continuous_record_t{time(m), step_, 1, 0, v, v, v};
    }

    // The state of one series at step m: one of four, held for about an hour.
    tsdb::enum_record_t state_at(uint32_t series, uint32_t m) {
        const uint32_t state = (series + m / 60 + (random_() % 20 == 0 ? 1 : 0)) % 4;
        return {time(m), step_, 1, 0, 1u << state};
    }

    // An incident in one series at step m, about one in 200 steps.
    std::optional<tsdb::incident_record_t> incident_at(uint32_t series, uint32_t m) {
        if (random_() % 200 != 0) {
            return std::nullopt;
        }
        const uint32_t severity = 1 + random_() % 4;
        return tsdb::incident_record_t{
            time(m), 0, severity,
            "check " + std::to_string(series) + " crossed level " + std::to_string(severity)};
    }

private:
    uint32_t time(uint32_t m) const { return start_ + m * step_; }

    std::minstd_rand random_;
    uint32_t start_;
    uint32_t step_;
};

}  // namespace workload
