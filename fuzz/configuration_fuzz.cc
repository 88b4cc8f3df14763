// The configuration record of arbitrary bytes: read strictly, printed,
// written back and read again to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "io/error.h"
#include "io/memory_pipe.h"
#include "queues/event_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    io::MemoryPipe pipe;
    pipe.feed(std::vector<uint8_t>(data, data + size));
    pipe.close();
    protocol::ioprim in(&pipe.in(), nullptr);
    queues::event_of<queues::SERVER_CONFIGURATION> first;
    try {
        protocol::get(in, first.payload);
    } catch (const io::EEndOfStream&) {
        return 0;
    }
    std::ostringstream text;
    queues::print_event(text, first);
    io::MemoryPipe again;
    protocol::ioprim out(nullptr, &again.out());
    protocol::put(out, first.payload);
    out.flush();
    again.close();
    protocol::ioprim back(&again.in(), nullptr);
    queues::event_of<queues::SERVER_CONFIGURATION> second;
    protocol::get(back, second.payload);
    std::ostringstream text_again;
    queues::print_event(text_again, second);
    if (text.str() != text_again.str()) {
        std::fprintf(stderr, "the record did not survive writing and reading\n");
        std::abort();
    }
    return 0;
}
