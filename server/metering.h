// The parent's questions about this process's metrics: GET_METRIC (a value),
// GET_METRIC_TYPE (what a metric is) and LIST_METRICS (the whole tree).
#pragma once

#include <string>
#include <vector>

#include "meter/metric.h"
#include "queues/event_sender.h"

namespace server {

// The metric the path names from the root; null for a group or no metric.
const meter::Metric* lookup_metric(const std::vector<std::string>& path);

// Answers the three metric requests to their sender; false for any other
// event, which is left to the request handlers.
bool handle_metering(const queues::event& request, queues::EventSender& out);

// Registers the metrics made so far and tells the parent (SUPPORTS_METRICS).
void activate_metering(queues::EventSender& out);

}  // namespace server
