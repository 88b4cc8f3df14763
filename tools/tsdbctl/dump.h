// A whole database as text and back: `dump` writes every series (id, type,
// levels) and every stored record with its level as JSON Lines; `restore`
// makes a new database file holding the same series under the same ids with
// the same records, so that every series' checksum is equal.
#pragma once

#include "tools/command_line.h"
#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

void dump(Context& c, const tools::Arguments& a);
void restore(Context& c, const tools::Arguments& a);

}  // namespace tsdbctl
