// merge --fill: a series takes from recovery patches only the records for
// times where it holds none, and keeps every record of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parent/tsdb_client.h"

namespace tsdbctl {

// Writes the records of `patches` that overlap neither a record of the
// series nor one taken from an earlier patch; tools::EBadInput for a patch
// of another type or cut off, before anything is written.
void fill_series(parent::TsdbClient& client, uint32_t id, uint32_t type,
                 const std::vector<std::string>& patches);

}  // namespace tsdbctl
