#include <rrd.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "tools/options.h"
#include "tools/tsdbctl/archives.h"

namespace tsdbctl {

namespace {

// What rrd_info says of the file: its step, its data sources and, per
// resolution, the consolidations kept and the most rows.
struct Layout {
    unsigned long step = 0;
    unsigned long last_update = 0;
    std::vector<std::string> sources;
    // Per resolution, the rows each consolidation keeps.
    std::map<uint32_t, std::map<std::string, uint32_t>> resolutions;
    std::vector<std::string> predictions;  // the archives left out
};

// Holt-Winters archives predict and flag; they hold no measured values.
bool predicts(const std::string& consolidation) {
    return consolidation == "HWPREDICT" || consolidation == "MHWPREDICT" ||
           consolidation == "SEASONAL" || consolidation == "DEVSEASONAL" ||
           consolidation == "DEVPREDICT" || consolidation == "FAILURES";
}

std::string failure(const std::string& path) {
    const std::string said = rrd_get_error();
    rrd_clear_error();
    return "cannot read " + path + ": " + said;
}

Layout layout_of(const std::string& path) {
    rrd_info_t* const info = rrd_info_r(path.c_str());
    if (info == nullptr) {
        throw tools::EBadInput(failure(path));
    }
    Layout layout;
    std::map<std::string, std::string> cf;
    std::map<std::string, unsigned long> rows;
    std::map<std::string, unsigned long> per_row;
    for (const rrd_info_t* i = info; i != nullptr; i = i->next) {
        const std::string key = i->key;
        if (key == "step") {
            layout.step = i->value.u_cnt;
        } else if (key == "last_update") {
            layout.last_update = i->value.u_cnt;
        } else if (key.starts_with("ds[") && key.ends_with("].type")) {
            layout.sources.push_back(key.substr(3, key.size() - 9));
        } else if (key.starts_with("rra[") && key.ends_with("].cf")) {
            cf[key.substr(0, key.find(']'))] = i->value.u_str;
        } else if (key.starts_with("rra[") && key.ends_with("].rows")) {
            rows[key.substr(0, key.find(']'))] = i->value.u_cnt;
        } else if (key.starts_with("rra[") && key.ends_with("].pdp_per_row")) {
            per_row[key.substr(0, key.find(']'))] = i->value.u_cnt;
        }
    }
    rrd_info_free(info);
    // The library itself divides by these: such a file is refused before
    // it is fetched from.
    if (layout.step == 0) {
        throw tools::EBadInput(path + " has a step of 0 seconds; no RRDtool writes such a file");
    }
    for (const auto& [rra, consolidation] : cf) {
        if (rows[rra] == 0 || per_row[rra] == 0 || layout.step * per_row[rra] > UINT32_MAX) {
            throw tools::EBadInput(path + ": " + rra + "] has " + std::to_string(rows[rra]) +
                                   " rows of " + std::to_string(per_row[rra]) +
                                   " steps; no RRDtool writes such an archive");
        }
    }
    for (const auto& [rra, consolidation] : cf) {
        if (predicts(consolidation)) {
            layout.predictions.push_back(consolidation);
            continue;
        }
        uint32_t& kept =
            layout.resolutions[static_cast<uint32_t>(layout.step * per_row[rra])][consolidation];
        kept = std::max(kept, static_cast<uint32_t>(rows[rra]));
    }
    return layout;
}

// One consolidation's values over the archive's range, by the start of
// their rows; unknown values left out.
std::map<int64_t, double> fetched(const std::string& path, const std::string& consolidation,
                                  uint32_t resolution, uint32_t rows, unsigned long last_update,
                                  const std::string& ds) {
    time_t end = static_cast<time_t>(last_update / resolution * resolution);
    time_t start = end - static_cast<time_t>(resolution) * rows;
    unsigned long step = resolution;
    unsigned long count = 0;
    char** names = nullptr;
    rrd_value_t* data = nullptr;
    if (rrd_fetch_r(path.c_str(), consolidation.c_str(), &start, &end, &step, &count, &names,
                    &data) != 0) {
        throw tools::EBadInput(failure(path));
    }
    size_t column = count;
    for (size_t n = 0; n < count; ++n) {
        column = names[n] == ds ? n : column;
        rrd_freemem(names[n]);
    }
    rrd_freemem(names);
    std::map<int64_t, double> values;
    // Rows are stamped with their end; the first covers (start, start + step].
    for (time_t t = start; column < count && t < end; t += static_cast<time_t>(step)) {
        const double v =
            data[static_cast<size_t>((t - start) / static_cast<time_t>(step)) * count + column];
        if (!std::isnan(v) && step == resolution) {
            values[t] = v;
        }
    }
    rrd_freemem(data);
    return values;
}

// "min, avg and max from MIN, AVERAGE and MAX", "avg from LAST".
std::string held_from(const std::map<std::string, uint32_t>& kept, const std::string& avg_from) {
    const bool min = kept.contains("MIN");
    const bool max = kept.contains("MAX");
    std::string fields = std::string(min ? "min, " : "") + "avg" + (max ? " and max" : "");
    std::string from = std::string(min ? "MIN, " : "") + avg_from + (max ? " and MAX" : "");
    return fields + " from " + from;
}

}  // namespace

std::vector<Archive> read_rrd(const std::string& path, const std::string& ds,
                              std::vector<std::string>& notes) {
    const Layout layout = layout_of(path);
    if (layout.sources.empty()) {
        throw tools::EBadInput(path + " has no data sources");
    }
    const std::string source = ds.empty() ? layout.sources.front() : ds;
    if (std::find(layout.sources.begin(), layout.sources.end(), source) == layout.sources.end()) {
        throw tools::EBadInput(path + " has no data source \"" + source + "\"");
    }
    if (!layout.predictions.empty()) {
        std::string names;
        for (const std::string& name : layout.predictions) {
            names += (names.empty() ? "" : ", ") + name;
        }
        notes.push_back("left out the prediction archives (" + names + "): they hold no data");
    }
    std::vector<Archive> archives;
    for (const auto& [resolution, kept] : layout.resolutions) {
        std::map<std::string, std::map<int64_t, double>> by_cf;
        uint32_t rows = 0;
        for (const auto& [cf, cf_rows] : kept) {
            // Each over its own rows: a longer range makes the library answer
            // from a coarser archive.
            by_cf[cf] = fetched(path, cf, resolution, cf_rows, layout.last_update, source);
            rows = std::max(rows, cf_rows);
        }
        const std::string avg_from = kept.contains("AVERAGE") ? "AVERAGE"
                                     : kept.contains("LAST")  ? "LAST"
                                     : kept.contains("MAX")   ? "MAX"
                                                              : kept.begin()->first;
        Archive archive{resolution, rows, {}, avg_from == "AVERAGE", held_from(kept, avg_from)};
        for (const auto& [start, avg] : by_cf[avg_from]) {
            const auto other = [&by_cf, at = start, average = avg](const char* cf) {
                const auto found = by_cf.find(cf);
                return found != by_cf.end() && found->second.contains(at) ? found->second.at(at)
                                                                          : average;
            };
            archive.points.push_back({start, other("MIN"), avg, other("MAX")});
        }
        archives.push_back(std::move(archive));
    }
    return archives;
}

}  // namespace tsdbctl
