// A database file of arbitrary bytes: opening it must refuse it with a
// failure, or repair it into a file the consistency check finds nothing
// wrong with, on which every series reads back or refuses with a failure and
// writing to every series works or refuses; never a crash. The input's bytes
// replace part of a valid database holding series of every type, so that
// the fuzzer reaches past the header into chains, pointer blocks and level
// contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/sim_database.h"
#include "tsdb/engine.h"
#include "tsdb/error.h"
#include "tsdb/storage_type.h"

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
void use(tsdb::Engine& engine, uint32_t id) {
    engine.get<T>(id, 0, INT64_MAX);
    engine.oldest(id);
    engine.checksum(id);
    tsdb::record_t<T> r{};
    r.timestart = 2000000;
    r.duration = 60;
    engine.put<T>(id, r);
    engine.flush_all();
}

void require_consistent(const tsdb::Engine& engine) {
    const std::vector<std::string> problems = engine.problems();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "after the repairs at open: %s\n", problem.c_str());
    }
    if (!problems.empty()) {
        std::abort();
    }
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
        require_consistent(engine);
        for (uint32_t id = 0; id < engine.check_capacity(); ++id) {
            if (!engine.series_exists(id)) {
                continue;
            }
            try {
                tsdb::by_type(engine.data_type(id), [&]<uint32_t T>() { use<T>(engine, id); });
            } catch (const tsdb::error_generic&) {
                // A damaged level may refuse to be used; it must say so.
            }
        }
    } catch (const tsdb::error_generic&) {
    }
    return 0;
}
