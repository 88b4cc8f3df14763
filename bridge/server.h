// `tsdbctl serve`: a node's committed records over HTTP, read-only.
// POST /api/v1/read answers Prometheus remote read; GET /metrics gives the
// server's own metrics in the text exposition format; GET / is a page
// listing the series with a chart of each (GET /chart/ID.svg).
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include "bridge/remote_read.h"
#include "bridge/series_names.h"

namespace bridge {

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 9201;
    std::string node;
    ReadLimits limits;
};

// A series' chart as SVG; tools::EBadInput for a series that does not exist.
using ChartMaker = std::function<std::string(uint32_t id)>;

// Serves until `stopping`; says where it listens on `said`. Throws
// tools::EBadInput when it cannot listen there.
void serve(const std::string& database, const SeriesNames& names, const ServeOptions& options,
           const ChartMaker& chart, std::ostream& said, const std::atomic<bool>& stopping);

}  // namespace bridge
