// The groups this process reports its metrics in. They are made together,
// in one fixed order, when the first of them is used during static
// initialisation: activation adds groups newest first, so LIST_METRICS shows
// queues, metering, entrycache, low, records whatever order the files that
// use them are linked or initialised in.
#pragma once

#include "meter/metric.h"

namespace meter {

struct ProcessGroups {
    Group records{nullptr, "records"};
    Group low{nullptr, "low"};
    Group entrycache{nullptr, "entrycache"};
    Group metering{nullptr, "metering"};
    Group queues{nullptr, "queues"};
};

ProcessGroups& process_groups();

}  // namespace meter
