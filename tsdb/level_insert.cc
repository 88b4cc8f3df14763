#include "tsdb/level_insert.h"

#include <string>
#include <vector>

#include "error/assert.h"
#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/storage_type.h"
#include "util/format.h"

namespace tsdb {

namespace {

using logging::Verbosity;

constexpr uint32_t entries_per_run = 500;

template <uint32_t DataType>
bool has_goal_reached(const record_t<DataType>& trial, uint32_t goal, uint32_t count) {
    return trial.duration >= goal && count > 0;
}

// A monotonic entry never holds a fall of the value.
template <uint32_t DataType>
bool falls(const record_t<DataType>& folded, const record_t<DataType>& next) {
    if constexpr (DataType == type_monotonic) {
        return !is_empty(folded.duration) && !is_empty(next.duration) && folded.ngood > 0 &&
               next.ngood > 0 && next.min < folded.max;
    } else {
        return false;
    }
}

struct Step {
    uint32_t head;
    bool goal_reached;
};

// Folds records from the head into `a` while its span stays below the goal.
template <uint32_t DataType>
Step collect(LblockCursor& cursor, uint32_t lblock, uint32_t head, uint32_t tail, uint32_t size,
             record_t<DataType>& a, uint32_t goal) {
    uint32_t position = head;
    for (uint32_t count = 0; position != tail; ++count) {
        record_t<DataType> x;
        const uint32_t after = read_record(cursor, position, (tail + size - position) % size, x);
        record_t<DataType> trial = a;
        merge(trial, x);
        if (has_goal_reached<DataType>(trial, goal, count)) {
            return {position, true};
        }
        if (falls<DataType>(a, x)) {
            return {position, false};
        }
        if (is_valid(trial)) {
            merge(a, x);
        } else {
            logging::storage_log(
                Verbosity::warning,
                "Aggregation caused invalid record - ignoring last record. lblock=" +
                    util::format_u64(lblock) + " time_goal=" + util::format_u64(goal));
        }
        position = after;
    }
    return {position, false};
}

}  // namespace

template <uint32_t DataType>
bool insert_into_level(Database& db, uint32_t lblock, const record_t<DataType>& record) {
    if (!is_valid(record)) {
        error::assertion_failed("aggregate_level_insert got invalid data for lblock " +
                                util::format_u64(lblock));
    }
    std::vector<uint8_t> bytes(encoded_size(record));
    encode(record, bytes);
    if (db.write_to_lblock(lblock, bytes)) {
        return true;
    }
    aggregate_level<DataType>(db, lblock);
    return false;
}

template <uint32_t DataType>
bool insert_into_series(Database& db, uint32_t check_id, const record_t<DataType>& record) {
    return insert_into_level<DataType>(
        db, db.typed_series(check_id, DataType, Database::Use::insert), record);
}

namespace {

// Appends valid records to the level in one write; false, with nothing
// written, when they do not all fit.
template <uint32_t DataType>
bool append_to_level(Database& db, uint32_t lblock,
                     const std::vector<record_t<DataType>>& records) {
    thread_local std::vector<uint8_t> bytes;
    bytes.clear();
    for (const record_t<DataType>& r : records) {
        if (!is_valid(r)) {
            error::assertion_failed("append_to_level got invalid data for lblock " +
                                    util::format_u64(lblock));
        }
        const size_t at = bytes.size();
        bytes.resize(at + encoded_size(r));
        encode(r, std::span(bytes).subspan(at));
    }
    return bytes.size() < db.level_bytes(lblock) && db.write_to_lblock(lblock, bytes);
}

}  // namespace

template <uint32_t DataType>
bool append_to_series(Database& db, uint32_t check_id,
                      const std::vector<record_t<DataType>>& records) {
    return append_to_level<DataType>(db, db.typed_series(check_id, DataType, Database::Use::insert),
                                     records);
}

template <uint32_t DataType>
bool guarded_insert(Database& db, uint32_t check_id, const record_t<DataType>& record) {
    try {
        return insert_into_series<DataType>(db, check_id, record);
    } catch (const error_range& e) {
        logging::storage_log(Verbosity::notice, "Insert to id " + util::format_u64(check_id) +
                                                    " failed with: \"" + e.text() + "\"");
        return true;
    }
}

namespace {

// One aggregated entry of a run and the level's head after the records it
// took; an entry of nothing but invalid records is empty and skipped.
template <uint32_t DataType>
struct Aggregate {
    record_t<DataType> entry;
    uint32_t head;
};

// Whether an entry can ever enter the next level; one that cannot, even
// when that level is empty, is dropped so that it never wedges the level.
template <uint32_t DataType>
bool fits_next_level(const Database& db, uint32_t next, const record_t<DataType>& entry) {
    return encoded_size(entry) < db.level_bytes(next);
}

// Writes the run's entries to the next level: in one write when they all
// fit, else one by one, moving the head past each entry written. False when
// an entry found no room (the next level has aggregated then).
template <uint32_t DataType>
bool store_aggregates(Database& db, uint32_t lblock, uint32_t next,
                      const std::vector<Aggregate<DataType>>& run) {
    std::vector<record_t<DataType>> entries;
    std::vector<bool> kept;
    for (const Aggregate<DataType>& a : run) {
        kept.push_back(!is_empty(a.entry.duration) && fits_next_level<DataType>(db, next, a.entry));
        if (kept.back()) {
            entries.push_back(a.entry);
        } else if (!is_empty(a.entry.duration)) {
            logging::storage_log(Verbosity::warning,
                                 "Aggregated record of " + util::format_u64(encoded_size(a.entry)) +
                                     " bytes does not fit level " + util::format_u64(next) +
                                     " of " + util::format_u64(db.level_bytes(next)) +
                                     " bytes - dropped");
        }
    }
    if (entries.empty() || append_to_level<DataType>(db, next, entries)) {
        db.set_head(lblock, run.back().head);
        return true;
    }
    for (size_t i = 0; i < run.size(); ++i) {
        if (kept[i] && !insert_into_level<DataType>(db, next, run[i].entry)) {
            return false;
        }
        db.set_head(lblock, run[i].head);
    }
    return true;
}

}  // namespace

template <uint32_t DataType>
bool aggregate_level(Database& db, uint32_t lblock) {
    const LevelView level = db.level(lblock);
    const uint32_t next = level.next();
    const uint32_t goal = next != 0 ? db.level(next).entry.resolution : 0;
    const uint32_t size = level.size;
    const uint32_t tail = level.tail;
    const uint32_t enough_room = static_cast<uint32_t>(size * 5u) / 100;
    uint32_t head = level.head;
    // Already drained, the level only waits for a phase shift to commit its head.
    if (level.empty()) {
        return true;
    }
    LblockCursor cursor(db.store(), level.entry);
    std::vector<Aggregate<DataType>> run;
    for (;;) {
        record_t<DataType> a;
        const Step step = collect<DataType>(cursor, lblock, head, tail, size, a, goal);
        if (next != 0 && is_empty(a.duration)) {
            logging::storage_log(Verbosity::warning,
                                 "Aggregation found nothing but invalid records, skipping");
        }
        run.push_back({next != 0 ? a : record_t<DataType>{}, step.head});
        head = step.head;
        const uint32_t room = (head - tail + size - 1) % size;
        if (run.size() > entries_per_run || !step.goal_reached || room >= enough_room) {
            break;
        }
    }
    if (!store_aggregates<DataType>(db, lblock, next, run)) {
        return false;
    }
    logging::storage_log(Verbosity::verbose, "Wrote " + util::format_u64(run.size()) +
                                                 " target records to lblock " +
                                                 util::format_u64(lblock) + " in aggregation");
    return true;
}

template <uint32_t DataType>
void drain_first_level(Database& db, uint32_t check_id) {
    const uint32_t finest = db.series(check_id).first_lblock;
    while (!db.level(finest).empty()) {
        if (!aggregate_level<DataType>(db, finest)) {
            db.phase_shift_all();
        }
    }
}

void drop_first_levels(Database& db, const std::vector<uint32_t>& check_ids, bool keep_records) {
    std::vector<check_entry_t> old;
    for (uint32_t id : check_ids) {
        old.push_back(db.series(id));
        if (keep_records) {
            by_type(old.back().data_type, [&]<uint32_t T>() { drain_first_level<T>(db, id); });
        }
    }
    // Draining may have shifted the chains: the copy in use is taken afresh.
    for (size_t i = 0; i < check_ids.size(); ++i) {
        const uint32_t next = db.level(old[i].first_lblock).next();
        db.set_series(check_ids[i], {old[i].data_type, next});
    }
    try {
        db.phase_shift_all();
    } catch (const error_generic&) {
        for (size_t i = 0; i < check_ids.size(); ++i) {
            db.set_series(check_ids[i], old[i]);
        }
        throw;
    }
    for (const check_entry_t& series : old) {
        db.release_lblock(series.first_lblock);
    }
}

#define TSDB_LEVEL_INSERT_FOR(T)                                                             \
    template bool insert_into_level<T>(Database&, uint32_t, const record_t<T>&);             \
    template bool insert_into_series<T>(Database&, uint32_t, const record_t<T>&);            \
    template bool append_to_series<T>(Database&, uint32_t, const std::vector<record_t<T>>&); \
    template bool guarded_insert<T>(Database&, uint32_t, const record_t<T>&);                \
    template bool aggregate_level<T>(Database&, uint32_t);                                   \
    template void drain_first_level<T>(Database&, uint32_t);

TSDB_FOR_EACH_STORAGE_TYPE(TSDB_LEVEL_INSERT_FOR)

#undef TSDB_LEVEL_INSERT_FOR

}  // namespace tsdb
