// The synthetic monitoring workload shared by the benchmarks: S series of
// continuous data with three levels, one sample per series per simulated
// minute, values drawn from a fixed seed so every run sees the same data.
#pragma once

#include <cstdint>
#include <random>

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
    explicit Samples(uint32_t seed = 42) : random_(seed) {}
    // The sample of one series at minute m.
    tsdb::continuous_record_t at(uint32_t series, uint32_t m) {
        const float v =
            static_cast<float>((series * 7 + m) % 100) + static_cast<float>(random_() % 16) / 16;
        const bool bad = random_() % 50 == 0;
        return bad ? tsdb::continuous_record_t{start_time + m * minute, minute, 0, 1, 0, 0, 0}
                   : tsdb::continuous_record_t{start_time + m * minute, minute, 1, 0, v, v, v};
    }

private:
    std::minstd_rand random_;
};

}  // namespace workload
