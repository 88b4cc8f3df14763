// tsdbctl resize: a series moved to other levels, keeping its id and its
// data, on a database no process runs on.
#pragma once

#include "tools/command_line.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

void resize(Context& c, const tools::Arguments& a);

}  // namespace tsdbctl
