// Arbitrary bytes from a peer: the event reader must end the stream cleanly
// (or read events), never crash, hang or allocate beyond what the bytes
// justify. Every event read is also printed and written back.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "io/memory_pipe.h"
#include "queues/event_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the area size, so that values straddle areas.
    io::MemoryPipe pipe(size_t{data[0]} + 1);
    pipe.feed(std::vector<uint8_t>(data + 1, data + size));
    pipe.close();
    protocol::ioprim in(&pipe.in(), nullptr);
    io::MemoryPipe sink;
    protocol::ioprim out(nullptr, &sink.out());
    try {
        for (;;) {
            const auto e = queues::read_event(in);
            std::ostringstream text;
            queues::print_event(text, *e);
            queues::write_event(out, *e);
            out.flush();
            sink.take();
        }
    } catch (const io::EEndOfStream&) {
    }
    return 0;
}
