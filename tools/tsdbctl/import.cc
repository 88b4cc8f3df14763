#include "tools/tsdbctl/import.h"

#include <limits>

#include "tools/options.h"
#include "tools/tsdbctl/archives.h"
#include "tools/tsdbctl/level_options.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"

namespace tsdbctl {

namespace {

// An archive's points as records of its level, leaving out those that start
// at or after `until`, where a finer archive holds the time; one may overlap
// it, as a level's oldest aggregate overlaps the finer level's records.
std::string patch_of(const Archive& archive, int64_t until, size_t& points) {
    std::string patch = tsdb::empty_patch(tsdb::type_continuous);
    for (const ArchivePoint& p : archive.points) {
        if (p.start >= until) {
            break;
        }
        tsdb::append_record(
            patch, tsdb::continuous_record_t{static_cast<uint32_t>(p.start), archive.resolution, 1,
                                             0, p.min, p.max, p.avg});
        ++points;
    }
    return patch;
}

}  // namespace

void import(Context& c, const tools::Arguments& a) {
    const std::string source = a.at(0);
    const std::vector<Archive> archives =
        source.ends_with(".wsp") ? read_whisper(source) : read_rrd(source, a.value("--ds"));
    tsdb::time_series_layout_t layout{tsdb::type_continuous, {}};
    for (const Archive& archive : archives) {
        layout.levels.push_back({archive.rows, archive.resolution});
    }
    OfflineDatabase offline(c.database);
    tsdb::Engine& engine = offline.engine();
    const uint32_t id = engine.create_series(layout);
    size_t points = 0;
    // Coarsest first: an archive keeps the time before its finer neighbour's.
    std::vector<int64_t> finer_starts(archives.size(), std::numeric_limits<int64_t>::max());
    for (size_t l = 1; l < archives.size(); ++l) {
        if (!archives[l - 1].points.empty()) {
            finer_starts[l] = archives[l - 1].points.front().start;
        }
    }
    for (size_t l = archives.size(); l-- > 0;) {
        engine.place(id, static_cast<uint32_t>(l), patch_of(archives[l], finer_starts[l], points));
    }
    engine.flush_all();
    engine.phase_shift();
    std::string levels;
    for (const tsdb::level_t& level : layout.levels) {
        levels += (levels.empty() ? "" : ", ") + level_text(level);
    }
    c.out << "imported " << points << " points of " << source << " into series " << id << " ("
          << levels << ")\n";
}

}  // namespace tsdbctl
