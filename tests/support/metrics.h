// Reading the process's counters in tests.
#pragma once

#include <string>

#include "meter/metric.h"

namespace testing_support {

inline uint64_t counter(const std::string& group, const std::string& name) {
    if (!meter::metering_active()) {
        meter::activate_metering();
    }
    const auto* g = dynamic_cast<const meter::Group*>(meter::Group::root().child(group));
    return dynamic_cast<const meter::IntegerCounter&>(*g->child(name)).value();
}

}  // namespace testing_support
