// The levels an operator asks for with --level RESOLUTION:COUNT, finest
// first, and the room to give them so that each keeps what was asked.
#pragma once

#include <string>
#include <vector>

#include "tools/command_line.h"
#include "tsdb/layout.h"

namespace tsdbctl {

// "1440 x 60 s".
std::string level_text(const tsdb::level_t& level);

// The --level values of the command; tools::UsageError when there are none,
// one is malformed, or they do not go from the finest to the coarsest.
std::vector<tsdb::level_t> levels_asked(const tools::Arguments& a);

// A full level folds its oldest 5 % (and at least one interval of the next
// level) away at once, so it keeps its room less that much: each level is
// asked for that much more, so that it always keeps the records wanted.
tsdb::time_series_layout_t keeping_at_least(tsdb::time_series_layout_t layout);

}  // namespace tsdbctl
