// A recovery patch of arbitrary bytes merged into a series of each type:
// the merge must refuse it with a failure, changing nothing, or merge it
// into a consistent database, never crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/support/sim_database.h"
#include "tsdb/engine.h"
#include "tsdb/error.h"
#include "tsdb/file/consistency_check.h"
#include "util/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    testing_support::SimDisk disk =
        testing_support::formatted_disk(testing_support::small_database(200, 1024, 2));
    tsdb::Engine engine(testing_support::open_on(disk));
    const uint32_t type = 1 + data[0] % 4;
    const uint32_t id = engine.create_series({type, {{40, 60}, {20, 300}}});
    const std::string patch(util::chars_of(data + 1), size - 1);
    const std::string before = engine.checksum(id);
    try {
        engine.merge(id, {patch});
    } catch (const tsdb::error_generic&) {
        if (engine.checksum(id) != before) {
            std::fprintf(stderr, "a refused patch changed the series\n");
            std::abort();
        }
    }
    if (!engine.problems().empty()) {
        std::fprintf(stderr, "a merge left the database inconsistent\n");
        std::abort();
    }
    return 0;
}
