// Answers to Prometheus remote read: the committed records of every series
// whose labels match a query's matchers, as samples.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/live_reader.h"
#include "bridge/series_names.h"

namespace bridge {

struct ReadLimits {
    size_t queries = 16;                   // per request
    size_t series = 10000;                 // matched by one query
    size_t body_bytes = 32 * 1024 * 1024;  // uncompressed request
};

struct ReadAnswer {
    std::string body;  // a compressed ReadResponse
    uint64_t samples = 0;
};

// Throws tools::EBadInput, before reading any record, for a request that
// is not a compressed ReadRequest, asks more than the limits allow, asks
// only streamed chunks, or holds a regular expression that is not one;
// throws the reader's failures.
ReadAnswer answer_read(std::string_view body, LiveReader& reader, const SeriesNames& names,
                       const std::string& node, const ReadLimits& limits);

}  // namespace bridge
