// tsdbctl import: a continuous series made from an RRDtool or whisper file,
// with a level per archive and every stored point in it.
#pragma once

#include "tools/command_line.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

void import(Context& c, const tools::Arguments& a);

}  // namespace tsdbctl
