// The bodies of remote write and remote read: protobuf messages,
// snappy block-compressed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bridge/remote.pb.h"
#include "bridge/series_names.h"

namespace bridge {

void set_labels(wire::TimeSeries& series, const std::vector<Label>& labels);

// A message's bytes, compressed.
std::string compressed(const google::protobuf::MessageLite& message);

// Fills `message` from a compressed body; tools::EBadInput "not snappy",
// "more than N bytes uncompressed" or "not a NAME" otherwise.
void read_compressed(std::string_view body, size_t max_uncompressed,
                     google::protobuf::MessageLite& message);

}  // namespace bridge
