#include "tools/tsdbctl/resize.h"

#include "tools/options.h"
#include "tools/tsdbctl/level_options.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"

namespace tsdbctl {

namespace {

// The records a patch holds, and how many start before `t`.
struct Counted {
    size_t records = 0;
    size_t before = 0;
};

Counted count(uint32_t type, const std::string& patch, uint32_t t) {
    Counted counted;
    for_each_patch_record(type, patch, [&](const auto& r) {
        ++counted.records;
        counted.before += r.timestart < t ? 1 : 0;
    });
    return counted;
}

}  // namespace

void resize(Context& c, const tools::Arguments& a) {
    const uint32_t id = tools::parse_number("ID", a.at(0), 0, UINT32_MAX - 1);
    const std::vector<tsdb::level_t> levels = levels_asked(a);
    OfflineDatabase offline(c.database);
    tsdb::Engine& engine = offline.engine();
    if (!engine.series_exists(id)) {
        throw tools::EBadInput("series " + std::to_string(id) +
                               " does not exist (tsdbctl list shows those that do)");
    }
    const uint32_t type = engine.data_type(id);
    const std::string before = engine.extract(id);
    engine.relayout(id, keeping_at_least({type, levels}).levels);
    const std::string after = engine.extract(id);
    const uint32_t oldest = engine.oldest(id);
    const Counted was = count(type, before, after.size() > 4 ? oldest : 0);
    c.out << "series " << id << ": " << was.records << " records -> "
          << count(type, after, 0).records << " records";
    if (was.before > 0) {
        c.out << "; " << was.before << " older than the new levels hold dropped";
    }
    c.out << "\n";
}

}  // namespace tsdbctl
