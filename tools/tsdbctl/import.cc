#include "tools/tsdbctl/import.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "tools/interval_rows.h"
#include "tools/options.h"
#include "tools/tsdbctl/archives.h"
#include "tools/tsdbctl/level_options.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"

namespace tsdbctl {

namespace {

// A value as a record stores it: refused when a 32-bit float cannot hold it;
// the first that reads back otherwise than the file holds it is said.
float stored_value(double v, int64_t start, const std::string& source) {
    if (!tools::float_holds(v)) {
        throw tools::EBadInput(source + ": the point at " + std::to_string(start) + " holds " +
                               tools::double_text(v) + ", beyond what a value can hold");
    }
    const auto stored = static_cast<float>(v);
    static bool said = false;
    if (!said && !std::isnan(v) && std::stod(tools::float_text(stored)) != v) {
        said = true;
        std::cerr << "import: values are stored as 32-bit floats (about 7 significant digits): "
                  << tools::double_text(v) << " at " << start << " reads back as "
                  << tools::float_text(stored) << "\n";
    }
    return stored;
}

// An archive's points as records of its level, leaving out those that start
// at or after `until`, where a finer archive holds the time; one may overlap
// it, as a level's oldest aggregate overlaps the finer level's records.
std::string patch_of(const Archive& archive, int64_t until, const std::string& source,
                     size_t& points) {
    std::string patch = tsdb::empty_patch(tsdb::type_continuous);
    for (const ArchivePoint& p : archive.points) {
        if (p.start >= until) {
            break;
        }
        tsdb::append_record(
            patch, tsdb::continuous_record_t{static_cast<uint32_t>(p.start), archive.resolution, 1,
                                             0, stored_value(p.min, p.start, source),
                                             stored_value(p.max, p.start, source),
                                             stored_value(p.avg, p.start, source)});
        ++points;
    }
    return patch;
}

// Each archive's patch, finest first; every point checked before anything
// is written.
std::vector<std::string> patches_of(const std::vector<Archive>& archives, const std::string& source,
                                    size_t& points) {
    std::vector<std::string> patches;
    // An archive keeps the time before every finer one's: the earliest
    // point of all of them, whichever holds it.
    int64_t until = std::numeric_limits<int64_t>::max();
    for (const Archive& archive : archives) {
        patches.push_back(patch_of(archive, until, source, points));
        if (!archive.points.empty()) {
            until = std::min(until, archive.points.front().start);
        }
    }
    return patches;
}

}  // namespace

// Says what each level holds and where it came from; refuses levels of
// values that are not averages unless they may stand for them.
void say_levels(const std::vector<Archive>& archives, const std::vector<std::string>& notes,
                bool as_average) {
    for (const std::string& note : notes) {
        std::cerr << "import: " << note << "\n";
    }
    bool averages = true;
    for (size_t l = 0; l < archives.size(); ++l) {
        std::cerr << "import: level " << l << " (" << archives[l].resolution
                  << " s): " << archives[l].held << "\n";
        averages = averages && archives[l].averages;
    }
    if (!averages && !as_average) {
        throw tools::EBadInput(
            "the file keeps values that are not averages where a level needs "
            "them (above); --as-average stores them as averages");
    }
}

void import(Context& c, const tools::Arguments& a) {
    const std::string source = a.at(0);
    std::vector<std::string> notes;
    const std::vector<Archive> archives =
        source.ends_with(".wsp") ? read_whisper(source) : read_rrd(source, a.value("--ds"), notes);
    say_levels(archives, notes, a.has("--as-average"));
    tsdb::time_series_layout_t layout{tsdb::type_continuous, {}};
    for (const Archive& archive : archives) {
        layout.levels.push_back({archive.rows, archive.resolution});
    }
    size_t points = 0;
    const std::vector<std::string> patches = patches_of(archives, source, points);
    OfflineDatabase offline(c.database);
    tsdb::Engine& engine = offline.engine();
    const uint32_t id = engine.create_series(layout);
    try {
        // Coarsest first, as a level's records are older than its finer level's.
        for (size_t l = patches.size(); l-- > 0;) {
            engine.place(id, static_cast<uint32_t>(l), patches[l]);
        }
        engine.flush_all();
        engine.phase_shift();
    } catch (...) {
        // A failed import leaves no series behind.
        engine.delete_series(id);
        engine.phase_shift();
        throw;
    }
    std::string levels;
    for (const tsdb::level_t& level : layout.levels) {
        levels += (levels.empty() ? "" : ", ") + level_text(level);
    }
    c.out << "imported " << points << " points of " << source << " into series " << id << " ("
          << levels << ")\n";
}

}  // namespace tsdbctl
