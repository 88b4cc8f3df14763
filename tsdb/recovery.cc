#include "tsdb/recovery.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "error/assert.h"
#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/file/database.h"
#include "tsdb/level_insert.h"
#include "tsdb/patch.h"
#include "tsdb/write_buffer.h"
#include "util/bytes.h"
#include "util/format.h"

namespace tsdb {

namespace {

using logging::Verbosity;

uint64_t end_of(const auto& r) { return uint64_t{r.timestart} + r.duration; }

double score(const continuous_record_t& r) {
    const double samples = static_cast<double>(r.ngood) + r.nbad;
    return samples == 0 ? 0 : (1 + r.ngood / samples) / std::max(double{r.avg}, 0.0001);
}

double score(const enum_record_t& r) {
    const double samples = static_cast<double>(r.ngood) + r.nbad;
    return samples == 0 ? 0 : r.ngood / samples + 1;
}

double score(const incident_record_t&) { return 0; }

template <uint32_t DataType>
void check_patches(const std::vector<std::string>& patches) {
    for (const std::string& patch : patches) {
        if (patch.size() < 4) {
            throw error_range("Invalid patch (too short)");
        }
        if (util::load_be32(util::bytes_of(patch)) != DataType) {
            throw error_range("Patch of wrong type");
        }
        record_t<DataType> r;
        for (size_t at = 4; at < patch.size();) {
            const size_t taken = decode_at(patch, at, r);
            if (taken == 0) {
                throw error_range("Invalid patch (record cut off at byte " + util::format_u64(at) +
                                  ")");
            }
            at += taken;
        }
    }
}

template <uint32_t DataType>
class PatchReader {
public:
    PatchReader(const std::string& patch, uint32_t check_id) : patch_(patch), check_id_(check_id) {
        advance();
    }
    const std::optional<record_t<DataType>>& candidate() const { return candidate_; }

    // The next valid record becomes the candidate, or none.
    void advance() {
        candidate_.reset();
        record_t<DataType> r;
        while (at_ < patch_.size()) {
            at_ += decode_at(patch_, at_, r);
            if (is_valid(r)) {
                candidate_ = std::move(r);
                return;
            }
            logging::storage_log(Verbosity::notice, "Encountered invalid record in TSDB check id " +
                                                        util::format_u64(check_id_) +
                                                        " during recovery - ignoring...");
        }
    }

private:
    const std::string& patch_;
    uint32_t check_id_;
    size_t at_ = 4;
    std::optional<record_t<DataType>> candidate_;
};

// Switches the series to a fresh list of levels, commits, and only then
// frees the old; a failed commit leaves the series on its old levels.
void switch_levels(Database& db, uint32_t check_id, uint32_t fresh) {
    const check_entry_t old = db.series(check_id);
    db.set_series(check_id, {old.data_type, fresh});
    try {
        db.phase_shift_all();
    } catch (const error_generic&) {
        db.set_series(check_id, old);
        throw;
    }
    db.release_lblock_list(old.first_lblock);
}

// Fills a fresh list of levels and switches the series to it; a failure
// anywhere frees the fresh levels again.
template <typename Fill>
void rebuild_into(Database& db, WriteBuffer& buffer, uint32_t check_id, uint32_t fresh,
                  Fill&& fill) {
    try {
        fill(fresh);
        switch_levels(db, check_id, fresh);
    } catch (const error_generic&) {
        db.release_lblock_list(fresh);
        throw;
    }
    // The newest record known may be one the rebuild replaced.
    buffer.forget(check_id);
}

// rebuild_into a fresh list of levels like the series' own.
template <typename Fill>
void rebuild_levels(Database& db, WriteBuffer& buffer, uint32_t check_id, Fill&& fill) {
    rebuild_into(db, buffer, check_id, db.allocate_like(db.series(check_id).first_lblock),
                 std::forward<Fill>(fill));
}

// Inserts a patch's records, oldest first, into the finest of the fresh
// levels, which fold and drop as level insertion does.
template <uint32_t DataType>
void insert_patch(Database& db, uint32_t fresh, const std::string& patch) {
    record_t<DataType> x;
    for (size_t at = 4; at < patch.size();) {
        at += decode_at(patch, at, x);
        while (!insert_into_level<DataType>(db, fresh, x)) {
            db.publish_heads(fresh);  // no series refers to these levels yet
        }
    }
}

template <uint32_t DataType>
std::vector<record_t<DataType>> best_records_of(const std::vector<std::string>& patches,
                                                uint32_t check_id) {
    std::vector<PatchReader<DataType>> readers;
    readers.reserve(patches.size());
    for (const std::string& patch : patches) {
        readers.emplace_back(patch, check_id);
    }
    std::vector<record_t<DataType>> chosen;  // oldest first; reversed at the end
    uint64_t last_start = 0;
    uint64_t last_end = 0;
    std::optional<size_t> last_patch;
    for (;;) {
        for (size_t i = 0; i < readers.size(); ++i) {
            while (readers[i].candidate() &&
                   (readers[i].candidate()->timestart < last_end ||
                    (last_patch && readers[i].candidate()->timestart == last_start &&
                     last_patch != i))) {
                readers[i].advance();
            }
        }
        std::optional<size_t> s;
        for (size_t i = 0; i < readers.size(); ++i) {
            const auto& c = readers[i].candidate();
            if (!c) {
                continue;
            }
            error::require(is_valid(*c), "Invalid record during recovery");
            if (!s) {
                s = i;
                continue;
            }
            const record_t<DataType>& best = *readers[*s].candidate();
            const bool earlier = end_of(*c) <= best.timestart;
            const bool overlap = end_of(*c) > best.timestart && end_of(best) > c->timestart;
            if (earlier || (overlap && score(*c) > score(best))) {
                s = i;
            }
        }
        if (!s) {
            break;
        }
        const record_t<DataType>& selected = *readers[*s].candidate();
        error::require(is_valid(selected), "Invalid selected record during recovery");
        last_start = selected.timestart;
        last_end = end_of(selected);
        last_patch = *s;
        chosen.push_back(selected);
        readers[*s].advance();
    }
    std::reverse(chosen.begin(), chosen.end());
    return chosen;
}

}  // namespace

template <uint32_t DataType>
void recovery_checksum(Database& db, WriteBuffer& buffer, uint32_t check_id, security::Hash& hash) {
    uint8_t type[4];
    util::store_be32(type, DataType);
    db.check_allocated(check_id);
    hash.update(type, 4);
    read_whole_series<DataType>(db, buffer, check_id,
                                [&hash](const uint8_t* b, size_t n) { hash.update(b, n); });
}

template <uint32_t DataType>
std::string recovery_extract(Database& db, WriteBuffer& buffer, uint32_t check_id) {
    std::string patch = empty_patch(DataType);
    read_whole_series<DataType>(db, buffer, check_id, [&patch](const uint8_t* b, size_t n) {
        patch.append(util::chars_of(b), n);
    });
    return patch;
}

template <uint32_t DataType>
void recovery_merge(Database& db, WriteBuffer& buffer, uint32_t check_id,
                    const std::vector<std::string>& patches) {
    buffer.external_flush(check_id);
    check_patches<DataType>(patches);
    rebuild_levels(db, buffer, check_id, [&](uint32_t fresh) {
        fill_levels_newest_first<DataType>(db, fresh, best_records_of<DataType>(patches, check_id));
    });
}

template <uint32_t DataType>
void recovery_merge_records(Database& db, WriteBuffer& buffer, uint32_t check_id,
                            const std::vector<record_t<DataType>>& records) {
    for (const record_t<DataType>& r : records) {
        if (!is_valid(r)) {
            throw error_range("Trying to insert invalid record");
        }
    }
    buffer.external_flush(check_id);
    const std::string patch = recovery_extract<DataType>(db, buffer, check_id);
    rebuild_levels(db, buffer, check_id, [&](uint32_t fresh) {
        const auto insert = [&](const record_t<DataType>& r) {
            while (!insert_into_level<DataType>(db, fresh, r)) {
                db.publish_heads(fresh);  // no series refers to these levels yet
            }
        };
        record_t<DataType> x;
        size_t next = 0;
        for (size_t at = 4; at < patch.size();) {
            at += decode_at(patch, at, x);
            while (next < records.size() && end_of(records[next]) <= x.timestart) {
                insert(records[next++]);
            }
            if (next < records.size() && end_of(x) > records[next].timestart) {
                merge(x, records[next++]);
            }
            insert(x);
        }
        for (; next < records.size(); ++next) {
            insert(records[next]);
        }
    });
}

template <uint32_t DataType>
void recovery_relayout(Database& db, WriteBuffer& buffer, uint32_t check_id,
                       const std::vector<level_t>& levels) {
    const std::string patch = recovery_extract<DataType>(db, buffer, check_id);
    rebuild_into(db, buffer, check_id, db.allocate_levels({DataType, levels}),
                 [&](uint32_t fresh) { insert_patch<DataType>(db, fresh, patch); });
}

template <uint32_t DataType>
void recovery_place(Database& db, WriteBuffer& buffer, uint32_t check_id, uint32_t level,
                    const std::string& patch) {
    check_patches<DataType>({patch});
    const std::vector<uint32_t> levels = db.levels_of(check_id);
    if (level >= levels.size()) {
        throw error_range("Series " + util::format_u64(check_id) + " has no level " +
                          util::format_u64(level));
    }
    buffer.external_flush(check_id);
    record_t<DataType> x;
    for (size_t at = 4; at < patch.size();) {
        at += decode_at(patch, at, x);
        if (!insert_into_level<DataType>(db, levels[level], x)) {
            throw error_range("Level " + util::format_u64(level) + " of series " +
                              util::format_u64(check_id) +
                              " has no room for the records placed in it");
        }
    }
    buffer.forget(check_id);
}

template <uint32_t DataType>
void fill_levels_newest_first(Database& db, uint32_t first_lblock,
                              const std::vector<record_t<DataType>>& newest_first) {
    size_t next = 0;
    for (uint32_t l = first_lblock; l != 0 && next < newest_first.size(); l = db.level(l).next()) {
        const LevelView view = db.level(l);
        const lblock_entry_t level = view.entry;
        const uint32_t size = view.size;
        uint32_t p = size - 1;
        db.set_tail(l, size - 1);
        uint64_t previous_end = 0;
        std::vector<uint8_t> bytes;
        while (next < newest_first.size()) {
            record_t<DataType> entry = newest_first[next];
            size_t taken = 1;
            // The window from the oldest start taken to the entry's end stays below
            // the level's resolution.
            for (; next + taken < newest_first.size(); ++taken) {
                const record_t<DataType>& older = newest_first[next + taken];
                const uint64_t window = std::max(end_of(entry), end_of(older)) -
                                        std::min(entry.timestart, older.timestart);
                if (window >= level.resolution) {
                    break;
                }
                merge(entry, older);
            }
            if (previous_end != 0 && previous_end < entry.timestart) {
                error::assertion_failed("Time not descending in flush data");
            }
            bytes.resize(encoded_size(entry));
            if (p < bytes.size()) {
                break;
            }
            encode(entry, bytes);
            p -= static_cast<uint32_t>(bytes.size());
            db.store().btbo_WriteFile(level.first_dblock, p, bytes);
            previous_end = end_of(entry);
            next += taken;
        }
        db.set_head(l, p);
        db.publish_heads(l);
    }
    if (next < newest_first.size()) {
        logging::storage_log(Verbosity::notice, "Discarding " +
                                                    util::format_u64(newest_first.size() - next) +
                                                    " entries during entry series flush");
    }
}

#define TSDB_RECOVERY_FOR(T)                                                                \
    template void recovery_checksum<T>(Database&, WriteBuffer&, uint32_t, security::Hash&); \
    template std::string recovery_extract<T>(Database&, WriteBuffer&, uint32_t);            \
    template void recovery_merge<T>(Database&, WriteBuffer&, uint32_t,                      \
                                    const std::vector<std::string>&);                       \
    template void recovery_merge_records<T>(Database&, WriteBuffer&, uint32_t,              \
                                            const std::vector<record_t<T>>&);               \
    template void recovery_relayout<T>(Database&, WriteBuffer&, uint32_t,                   \
                                       const std::vector<level_t>&);                        \
    template void recovery_place<T>(Database&, WriteBuffer&, uint32_t, uint32_t,            \
                                    const std::string&);                                    \
    template void fill_levels_newest_first<T>(Database&, uint32_t, const std::vector<record_t<T>>&);

TSDB_FOR_EACH_STORAGE_TYPE(TSDB_RECOVERY_FOR)

#undef TSDB_RECOVERY_FOR

}  // namespace tsdb
