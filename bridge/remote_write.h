// Pushing a node's records to a receiver with Prometheus remote write 1.0:
// samples in time order across every series, in batches of bounded size,
// none sent again once the receiver acknowledged it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "bridge/live_reader.h"
#include "bridge/series_names.h"

namespace bridge {

struct RemoteWriteOptions {
    std::string url;  // http://HOST:PORT/PATH
    int64_t from_ms;  // where a series the state knows nothing of starts
    bool follow;      // keep pushing what later commits add, until stopped
    std::optional<std::string> state_file;
    std::string node;
    size_t batch_samples = 10000;
    bool progress = false;  // a progress line on `said`
};

struct RemoteWriteResult {
    uint64_t sent = 0;
    uint64_t refused = 0;  // in batches the receiver answered with a 4xx other than 429
};

// Pushes until everything committed was handled (and, following, until
// `stopping`), finishing the batch in flight. Retries, said on `said`, are
// made with exponential backoff for 5xx, 429 and failed connections;
// without --follow it gives up after a few minutes with tools::EBadInput.
// Throws tools::EBadInput for a URL it cannot use.
RemoteWriteResult remote_write(LiveReader& reader, const SeriesNames& names,
                               const RemoteWriteOptions& options, std::ostream& said,
                               const std::atomic<bool>& stopping);

}  // namespace bridge
