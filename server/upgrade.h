// Series written by older versions kept a finest "buffer level" of
// resolution 1 in place of today's in-memory write buffer. At every start
// such levels are emptied into the next level (or discarded) and dropped.
#pragma once

#include "tsdb/engine.h"

namespace server {

void upgrade_buffer_levels(tsdb::Engine& engine, bool discard_records);

}  // namespace server
