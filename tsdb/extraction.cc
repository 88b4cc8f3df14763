#include "tsdb/extraction.h"

#include <algorithm>
#include <string>
#include <type_traits>

#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/fixed_size_level.h"
#include "tsdb/level_records.h"
#include "tsdb/write_buffer.h"
#include "util/bytes.h"
#include "util/format.h"

namespace tsdb {

namespace {

// The series' levels, coarsest first.
std::vector<uint32_t> coarsest_first(const Database& db, uint32_t check_id) {
    std::vector<uint32_t> levels = db.levels_of(check_id);
    std::reverse(levels.begin(), levels.end());
    return levels;
}

uint64_t end_of(uint32_t timestart, uint32_t duration) { return uint64_t{timestart} + duration; }

// Appends a record after those collected so far, cutting spans where it and
// the last record overlap.
template <typename Record>
void append_without_overlap(std::vector<Record>& result, Record record) {
    if (result.empty()) {
        result.push_back(std::move(record));
        return;
    }
    Record& last = result.back();
    const uint64_t last_end = end_of(last.timestart, last.duration);
    const uint64_t x_end = end_of(record.timestart, record.duration);
    const auto cut_to_last_end = [&] {
        record.timestart = static_cast<uint32_t>(last_end);
        record.duration = static_cast<uint32_t>(x_end - last_end);
    };
    if (record.timestart < last.timestart) {
        if (x_end < last_end) {
            return;
        }
        cut_to_last_end();
    } else if (record.timestart < last_end) {
        if (record.duration > last.duration) {
            cut_to_last_end();
        } else {
            last.duration = record.timestart - last.timestart;
        }
    }
    result.push_back(std::move(record));
}

}  // namespace

// Collects one level's records into the result, from the start of the
// range (or, once started, from the first record the result does not
// already cover); false once a record at or after `to` ends the read.
template <typename Record>
bool collect_level(Database& db, uint32_t lblock, int64_t from, int64_t to,
                   std::vector<Record>& result) {
    const auto collect = [&](Record& record) {
        if (record.timestart >= to) {
            return false;
        }
        append_without_overlap(result, std::move(record));
        return true;
    };
    bool more = true;
    if constexpr (std::is_same_v<Record, incident_record_t>) {
        // Incident records differ in length: walk to the start.
        for_each_record<Record>(db, lblock, [&](Record& record, uint32_t) {
            return (result.empty() && record.timestart < from) || (more = collect(record));
        });
    } else {
        FixedSizeLevel<Record> level(db, lblock);
        uint32_t start = 0;
        if (result.empty()) {
            start = level.first(static_cast<uint64_t>(std::clamp<int64_t>(from, 0, UINT32_MAX)),
                                [&](auto span) { return int64_t(span.first) >= from; });
        } else {
            // Records the result's last one covers would be dropped.
            const Record& last = result.back();
            const uint64_t last_end = end_of(last.timestart, last.duration);
            start = level.first(last.timestart, [&](auto span) {
                return span.first >= last.timestart || span.second >= last_end;
            });
        }
        result.reserve(result.size() + (level.count() - start));
        level.visit_from(start, [&](Record& record) { return more = collect(record); });
    }
    return more;
}

template <uint32_t DataType>
std::vector<record_t<DataType>> get_data(Database& db, const WriteBuffer& buffer, uint32_t check_id,
                                         int64_t from, int64_t to) {
    db.typed_series(check_id, DataType, Database::Use::extract);
    std::vector<record_t<DataType>> result;
    for (uint32_t lblock : coarsest_first(db, check_id)) {
        if (!collect_level(db, lblock, from, to, result)) {
            break;
        }
    }
    for (record_t<DataType>& r : buffer.buffered<DataType>(check_id)) {
        if (r.timestart >= to) {
            break;
        }
        if (r.timestart >= from) {
            result.push_back(std::move(r));
        }
    }
    return result;
}

template <uint32_t DataType>
void read_whole_series(Database& db, WriteBuffer& buffer, uint32_t check_id, const ByteSink& sink) {
    db.typed_series(check_id, DataType, Database::Use::extract);
    buffer.external_flush(check_id);
    std::vector<uint8_t> bytes;
    for (uint32_t lblock : coarsest_first(db, check_id)) {
        for_each_record<record_t<DataType>>(db, lblock, [&](const record_t<DataType>& r, uint32_t) {
            bytes.resize(encoded_size(r));
            encode(r, bytes);
            sink(bytes.data(), bytes.size());
            return true;
        });
    }
}

template <uint32_t DataType>
void truncate_old_data(Database& db, WriteBuffer& buffer, uint32_t check_id, int64_t t) {
    db.typed_series(check_id, DataType, Database::Use::truncate);
    buffer.external_flush(check_id);
    for (uint32_t lblock : coarsest_first(db, check_id)) {
        bool kept = false;
        const uint32_t head = db.level(lblock).head;
        uint32_t after_passed = head;
        for_each_record<record_t<DataType>>(db, lblock,
                                            [&](const record_t<DataType>& r, uint32_t next) {
                                                if (r.timestart > t) {
                                                    kept = true;
                                                    return false;
                                                }
                                                after_passed = next;
                                                return true;
                                            });
        if (after_passed != head) {
            db.set_head(lblock, after_passed);
        }
        if (kept) {
            break;
        }
    }
    // The newest record known may be one the truncation removed.
    buffer.forget(check_id);
}

uint32_t oldest_time(Database& db, uint32_t check_id) {
    db.check_allocated(check_id);
    // The coarsest level that holds records, or the finest.
    const std::vector<uint32_t> levels = db.levels_of(check_id);
    LevelView oldest = db.level(levels.front());
    for (size_t i = 1; i < levels.size(); ++i) {
        const LevelView coarser = db.level(levels[i]);
        if (coarser.empty()) {
            break;
        }
        oldest = coarser;
    }
    if (oldest.empty()) {
        return 0;
    }
    logging::storage_log(logging::Verbosity::verbose,
                         "Will read time from check id " + util::format_u64(check_id));
    uint8_t start[4];
    db.read_from_lblock(oldest.entry, oldest.head, start);
    return util::load_be32(start);
}

#define TSDB_EXTRACTION_FOR(T)                                                              \
    template std::vector<record_t<T>> get_data<T>(Database&, const WriteBuffer&, uint32_t,  \
                                                  int64_t, int64_t);                        \
    template void read_whole_series<T>(Database&, WriteBuffer&, uint32_t, const ByteSink&); \
    template void truncate_old_data<T>(Database&, WriteBuffer&, uint32_t, int64_t);

TSDB_FOR_EACH_STORAGE_TYPE(TSDB_EXTRACTION_FOR)

#undef TSDB_EXTRACTION_FOR

}  // namespace tsdb
