// tsdb-demo: a short tour of the storage engine on a freshly made database:
// it creates series, writes to a level, deletes one series, and shows what
// reopening the file finds.
#include <cstdio>
#include <string>

#include "error/exception.h"
#include "log/system_log.h"
#include "tools/create_database.h"
#include "tsdb/database.h"
#include "util/crash_reporter.h"

namespace {

void describe(const tsdb::Database& db, uint32_t id) {
    const tsdb::time_series_layout_t layout = db.fetch_ts_description(id);
    std::printf("  check id %u, data type %u:", id, layout.data_type);
    for (const tsdb::level_t& level : layout.levels) {
        std::printf(" %u x %us", level.size, level.resolution);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    util::install_crash_reporter(logging::report_crash);
    const std::string path = argc > 1 ? argv[1] : "./demo.tsdb";
    try {
        tools::create_database({path, 4096, 3, 256, true});
        std::printf("created %s\n", path.c_str());
        {
            tsdb::Database db = tsdb::Database::open(path);
            const uint32_t cpu =
                db.allocate_described_ts({1, {{1440, 60}, {2016, 300}, {8760, 3600}}});
            const uint32_t state = db.allocate_described_ts({2, {{1440, 60}, {720, 3600}}});
            const uint32_t incidents = db.allocate_described_ts({4, {{65536, 60}}});
            const std::string text =
                "level bytes are a ring: written at the tail, read from the head";
            const uint32_t level =
                db.chain(tsdb::ChainKind::check).check_entry(incidents).first_lblock;
            db.write_to_lblock(level, reinterpret_cast<const uint8_t*>(text.data()),
                               static_cast<uint32_t>(text.size()));
            db.deallocate_check_id(state);
            db.phase_shift_all();
            std::printf("created series %u, %u and %u, wrote %zu bytes, deleted series %u\n", cpu,
                        state, incidents, text.size(), state);
        }
        const tsdb::Database reopened = tsdb::Database::open(path);
        std::printf("reopened: %u blocks in use of %u\n", reopened.allocation().allocated_count(),
                    reopened.store_block_count());
        for (uint32_t id = 0; id < 3; ++id) {
            if (reopened.check_id_exists(id)) {
                describe(reopened, id);
            }
        }
    } catch (const error::Exception& e) {
        std::fprintf(stderr, "tsdb-demo: %s\n", e.text().c_str());
        return 1;
    }
    return 0;
}
