#include "tools/tsdbctl/level_options.h"

#include <algorithm>

#include "tools/options.h"
#include "tools/time_arg.h"

namespace tsdbctl {

namespace {

tsdb::level_t level_argument(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw tools::UsageError{"--level takes RESOLUTION:COUNT, like 1m:1440, not \"" + text +
                                "\""};
    }
    return {tools::parse_number("--level count", text.substr(colon + 1), 1, UINT32_MAX),
            tools::parse_duration(text.substr(0, colon))};
}

}  // namespace

std::string level_text(const tsdb::level_t& level) {
    return std::to_string(level.size) + " x " + std::to_string(level.resolution) + " s";
}

std::vector<tsdb::level_t> levels_asked(const tools::Arguments& a) {
    std::vector<tsdb::level_t> levels;
    for (const std::string& level : a.values("--level")) {
        levels.push_back(level_argument(level));
    }
    if (levels.empty()) {
        throw tools::UsageError{"give at least one --level RESOLUTION:COUNT"};
    }
    for (size_t l = 1; l < levels.size(); ++l) {
        if (levels[l].resolution <= levels[l - 1].resolution) {
            throw tools::UsageError{"levels go from the finest to the coarsest: level " +
                                    std::to_string(l + 1) + " (" + level_text(levels[l]) +
                                    ") is not coarser than level " + std::to_string(l) + " (" +
                                    level_text(levels[l - 1]) + ")"};
        }
    }
    return levels;
}

tsdb::time_series_layout_t keeping_at_least(tsdb::time_series_layout_t layout) {
    for (size_t l = 0; l < layout.levels.size(); ++l) {
        tsdb::level_t& level = layout.levels[l];
        const uint64_t next_interval =
            l + 1 < layout.levels.size()
                ? (layout.levels[l + 1].resolution + level.resolution - 1) / level.resolution
                : 0;
        const uint64_t folded = (uint64_t{level.size} * 5 + 94) / 95 + next_interval + 1;
        level.size = static_cast<uint32_t>(std::min<uint64_t>(level.size + folded, UINT32_MAX));
    }
    return layout;
}

}  // namespace tsdbctl
