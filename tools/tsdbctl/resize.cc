#include "tools/tsdbctl/resize.h"

#include "tools/options.h"
#include "tools/tsdbctl/level_options.h"
#include "tools/tsdbctl/offline.h"
#include "tools/tsdbctl/patch_records.h"
#include "tsdb/patch.h"
#include "tsdb/storage_type.h"

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

// The records as a write into levels of that finest resolution keeps them:
// each folded into the one before while their merge spans less than the
// resolution (an incident into the one less than that before it).
template <uint32_t T>
std::string consolidated(const std::string& patch, uint32_t resolution) {
    std::vector<tsdb::record_t<T>> kept;
    const auto folds = [&](const tsdb::record_t<T>& r) {
        if (resolution <= 1 || kept.empty()) {
            return false;
        }
        tsdb::record_t<T>& last = kept.back();
        if constexpr (T == tsdb::type_incident) {
            return r.timestart >= last.timestart && r.timestart - last.timestart < resolution;
        } else {
            tsdb::record_t<T> merged = last;
            tsdb::merge(merged, r);
            if (merged.duration >= resolution) {
                return false;
            }
            last = merged;
            return true;
        }
    };
    tsdb::record_t<T> r;
    for (size_t at = 4, taken = 0; at < patch.size(); at += taken) {
        taken = tsdb::decode_at(patch, at, r);
        if (taken == 0) {
            break;  // extract writes whole records
        }
        if (!folds(r)) {
            kept.push_back(r);
        }
    }
    std::string out = tsdb::empty_patch(T);
    for (const auto& r : kept) {
        tsdb::append_record(out, r);
    }
    return out;
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
    // Records finer than the new finest level are folded first, as a write
    // into it would have folded them; then the levels change.
    const std::string folded = tsdb::by_type(
        type, [&]<uint32_t T>() { return consolidated<T>(before, levels.front().resolution); });
    if (folded != before) {
        engine.merge(id, {folded});
    }
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
