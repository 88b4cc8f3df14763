// Interval lists of arbitrary bytes, as a peer sends them: read, converted
// to records for every protocol data type (refused with a failure when of
// the wrong kind), and converted back to intervals in every read shape.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "error/anomaly.h"
#include "error/exception.h"
#include "io/error.h"
#include "io/memory_pipe.h"
#include "queues/data_interval.h"
#include "queues/ioprim.h"
#include "server/data_intervals.h"

namespace {

template <typename Convert>
void refused_or_done(Convert&& convert) {
    try {
        convert();
    } catch (const errors::db_anomaly&) {
    } catch (const error::EFatal&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Input: a read shape (24 bytes), then the list's bytes.
    if (size < 24) {
        return 0;
    }
    server::read_shape_t shape;
    std::memcpy(&shape.start, data, 8);
    std::memcpy(&shape.end, data + 8, 8);
    std::memcpy(&shape.count, data + 16, 4);
    std::memcpy(&shape.offset, data + 20, 4);
    shape.raw = (shape.count & 1) != 0;
    io::MemoryPipe pipe;
    pipe.feed(std::vector<uint8_t>(data + 24, data + size));
    pipe.close();
    protocol::ioprim in(&pipe.in(), nullptr);
    tsdb::interval_list list;
    try {
        list.read_from(in);
    } catch (const io::EEndOfStream&) {
        return 0;
    }
    for (int32_t type : {2, 5, 6}) {
        refused_or_done([&] {
            server::continuous_intervals(type, server::continuous_records(type, list), shape);
        });
    }
    refused_or_done([&] { server::enum_intervals(server::enum_records(list), shape); });
    refused_or_done([&] { server::incident_intervals(server::incident_records(list), shape); });
    return 0;
}
