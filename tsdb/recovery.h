// Recovery of a series: its checksum, its extraction as a patch (the type
// word and every record in its encoding, coarsest level first), the merge
// of several patches into the best record for every stretch of time, and
// the merge of a caller's records into the stored series.
//
// Both merges build a fresh set of levels beside the old one and switch the
// series to it in one committed step: a failure part-way leaves the series
// as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tsdb/file/hash.h"
#include "tsdb/layout.h"
#include "tsdb/record_reader.h"

namespace tsdb {

class Database;
class WriteBuffer;

template <uint32_t DataType>
void recovery_checksum(Database& db, WriteBuffer& buffer, uint32_t check_id, security::Hash& hash);

template <uint32_t DataType>
std::string recovery_extract(Database& db, WriteBuffer& buffer, uint32_t check_id);

// Patches that are too short, of another type or with a cut-off record are
// refused (tsdb::error_range) before anything changes.
template <uint32_t DataType>
void recovery_merge(Database& db, WriteBuffer& buffer, uint32_t check_id,
                    const std::vector<std::string>& patches);

// Moves the series' records into a fresh list of levels of another layout
// (same type), inserted oldest first as level insertion does: finer records
// fold into coarser ones, the oldest are dropped where the coarsest level
// is full. The switch commits as a merge's does.
template <uint32_t DataType>
void recovery_relayout(Database& db, WriteBuffer& buffer, uint32_t check_id,
                       const std::vector<level_t>& levels);

// Appends a patch's records, as they are, to one level of the series (0 the
// finest): no aggregation and no fold, so that a series read level by level
// is put back as it was. Records that do not fit the level's room are
// refused with tsdb::error_range, part-way: for filling a new series only.
template <uint32_t DataType>
void recovery_place(Database& db, WriteBuffer& buffer, uint32_t check_id, uint32_t level,
                    const std::string& patch);

// `records` in time order; an invalid one refuses the whole list.
template <uint32_t DataType>
void recovery_merge_records(Database& db, WriteBuffer& buffer, uint32_t check_id,
                            const std::vector<record_t<DataType>>& records);

// Lays records (newest first) into a fresh list of levels, each level merged
// to its own resolution, the newest in the finest level.
template <uint32_t DataType>
void fill_levels_newest_first(Database& db, uint32_t first_lblock,
                              const std::vector<record_t<DataType>>& newest_first);

}  // namespace tsdb
