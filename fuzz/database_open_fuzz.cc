// A database file of arbitrary bytes: opening it must refuse it with a
// failure or repair it into a consistent database whose every series reads
// back, never crash. The first bytes of the input replace the start of a
// valid database holding series of every type, so that the fuzzer reaches
// past the header into chains, pointer blocks and level contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/sim_database.h"
#include "tsdb/consistency_check.h"
#include "tsdb/engine.h"
#include "tsdb/error.h"

namespace {

const std::vector<uint8_t>& valid_image() {
    static const std::vector<uint8_t> image = [] {
        testing_support::SimDisk disk =
            testing_support::formatted_disk(testing_support::small_database(96, 1024, 2));
        {
            tsdb::Engine engine(testing_support::open_on(disk));
            for (uint32_t type = 1; type <= 4; ++type) {
                const uint32_t id = engine.create_series({type, {{40, 60}, {20, 300}}});
                for (uint32_t m = 0; m < 60; ++m) {
                    const uint32_t t = 1000000 + m * 60;
                    tsdb::by_type(type, [&]<uint32_t T>() {
                        tsdb::record_t<T> r{};
                        r.timestart = t;
                        r.duration = 60;
                        engine.put<T>(id, r);
                    });
                }
            }
            engine.flush_all();
            engine.phase_shift();
        }
        return disk.current();
    }();
    return image;
}

template <uint32_t T>
void read_all(tsdb::Engine& engine, uint32_t id) {
    engine.get<T>(id, 0, INT64_MAX);
    engine.oldest(id);
    engine.checksum(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Input: an offset (4 bytes) into the valid image, then bytes written there.
    if (size < 4) {
        return 0;
    }
    std::vector<uint8_t> image = valid_image();
    uint32_t offset = 0;
    std::memcpy(&offset, data, 4);
    offset %= static_cast<uint32_t>(image.size());
    const size_t n = std::min(size - 4, image.size() - offset);
    std::memcpy(image.data() + offset, data + 4, n);
    testing_support::SimDisk disk(image);
    try {
        tsdb::Engine engine(testing_support::open_on(disk));
        const std::vector<std::string> problems = tsdb::find_problems(engine.database());
        if (!problems.empty()) {
            std::fprintf(stderr, "opened with a problem left: %s\n", problems.front().c_str());
            std::abort();
        }
        for (uint32_t id = 0; id < engine.check_capacity(); ++id) {
            if (!engine.series_exists(id)) {
                continue;
            }
            try {
                tsdb::by_type(engine.data_type(id), [&]<uint32_t T>() { read_all<T>(engine, id); });
            } catch (const tsdb::error_generic&) {
                // A damaged level may refuse to be read; it must say so.
            }
        }
    } catch (const tsdb::error_generic&) {
    }
    return 0;
}
