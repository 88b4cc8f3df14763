#include "tools/counter_rate.h"

namespace tools {

CounterRates counter_rates(const tsdb::interval_list& records) {
    CounterRates out;
    const tsdb::data_interval_continuous_t* before = nullptr;
    for (const auto& item : records.items) {
        const auto* now = dynamic_cast<const tsdb::data_interval_continuous_t*>(item.get());
        if (now == nullptr || now->ngood == 0) {
            continue;
        }
        if (before != nullptr && now->end > before->end) {
            if (now->max < before->max) {
                ++out.resets;
            } else {
                const auto rate = static_cast<float>((double{now->max} - double{before->max}) /
                                                     static_cast<double>(now->end - before->end));
                out.rates.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
                    before->end, now->end, rate, rate, rate, 1, 0));
            }
        }
        before = now;
    }
    return out;
}

}  // namespace tools
