// tsdbctl diff: where two series, of one database or of two, hold
// different records, as stretches of time.
#pragma once

#include "tools/command_line.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

// Lists the stretches; when there are any, it fails (exit status 1) saying
// how many, as diff(1) does.
void diff(Context& c, const tools::Arguments& a);

}  // namespace tsdbctl
