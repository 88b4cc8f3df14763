// The records of a recovery patch, read back for the tools that show or
// pick them.
#pragma once

#include <cstdint>
#include <string>

#include "tools/options.h"
#include "tsdb/patch.h"
#include "tsdb/storage_type.h"

namespace tsdbctl {

// Calls `visit` with each record of the patch, in order, as a
// tsdb::continuous_record_t, enum_record_t or incident_record_t by `type`;
// tools::EBadInput for a record cut off, tsdb::error_dbtype for a type that
// is none.
template <typename Visit>
void for_each_patch_record(uint32_t type, const std::string& patch, Visit&& visit) {
    tsdb::by_type(type, [&]<uint32_t T>() {
        tsdb::record_t<T> record;
        for (size_t at = 4; at < patch.size();) {
            const size_t taken = tsdb::decode_at(patch, at, record);
            if (taken == 0) {
                throw tools::EBadInput("a stored record is cut off at byte " + std::to_string(at));
            }
            visit(record);
            at += taken;
        }
    });
}

}  // namespace tsdbctl
