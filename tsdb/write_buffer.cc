#include "tsdb/write_buffer.h"

#include <optional>
#include <string>

#include "error/assert.h"
#include "log/storage_log.h"
#include "meter/metric.h"
#include "meter/process_groups.h"
#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/level_insert.h"
#include "tsdb/level_records.h"
#include "util/format.h"

namespace tsdb {

namespace {

using logging::Verbosity;

meter::Group& cache_metrics = meter::process_groups().entrycache;
meter::IntegerCounter newest_entry_hits(
    &cache_metrics, "newest_entry_hits",
    "Number of times we avoided going to disk to retrieve the most recent record");
meter::IntegerCounter newest_entry_misses(
    &cache_metrics, "newest_entry_misses",
    "Number of times we had to access disk to retrieve the most recent record");
meter::IntegerCounter buffer_write_aggr(
    &cache_metrics, "buffer_write_aggr",
    "Number of times a record was simply aggregated into the in-memory write buffer");
meter::IntegerCounter buffer_write_ins(
    &cache_metrics, "buffer_write_ins",
    "Number of times a new record was inserted into the in-memory write buffer");
meter::IntegerCounter buffer_size_flush(
    &cache_metrics, "buffer_size_flush",
    "Number of write buffer flush attempts caused by buffer size threshold crossing");
meter::IntegerCounter buffer_age_flush(
    &cache_metrics, "buffer_age_flush",
    "Number of write buffer flush attempts caused by buffer entry age threshold crossing");
meter::IntegerCounter buffer_filled(&cache_metrics, "buffer_filled",
                                    "Number of times the write buffer for a check filled up so "
                                    "that it required flushing before the could commence");
meter::IntegerCounter buffer_filled_block(
    &cache_metrics, "buffer_filled_block",
    "Number of times the flush of a full write buffer required a phase shift to commence");
meter::IntegerCounter external_buffer_flush(
    &cache_metrics, "external_buffer_flush",
    "Number of times a write buffer was forced to flush for external reasons");

}  // namespace

template <uint32_t DataType>
WriteBuffer::CheckBuffer<DataType>& WriteBuffer::buffer_for(uint32_t check_id,
                                                            const char* duplicate_text) {
    auto& buffers = map<DataType>().buffers;
    if (const auto found = buffers.find(check_id); found != buffers.end()) {
        return found->second;
    }
    const uint32_t resolution = db_.level(db_.series(check_id).first_lblock).entry.resolution;
    const auto [placed, fresh] = buffers.emplace(
        check_id,
        CheckBuffer<DataType>{resolution, cyclic_vector<record_t<DataType>>(settings_.entries)});
    error::require(fresh, duplicate_text);
    return placed->second;
}

template <uint32_t DataType>
void WriteBuffer::insert(uint32_t check_id, const record_t<DataType>& record) {
    db_.typed_series(check_id, DataType, Database::Use::given);
    CheckBuffer<DataType>& b =
        buffer_for<DataType>(check_id, "duplicate insert of check id in write buffer");
    if (b.resolution > 1 && !b.ring.empty() && accumulates(b.ring.peek_head(), record, b)) {
        b.newest = record;
        buffer_write_aggr.increment();
        return;
    }
    if (b.ring.full()) {
        buffer_filled.increment();
        if (!attempted_flush(check_id, b)) {
            logging::storage_log(Verbosity::notice, "Insert into check " +
                                                        util::format_u64(check_id) +
                                                        " write buffer blocked on phase shift!");
            buffer_filled_block.increment();
            forced_flush_one(check_id, b);
        }
    }
    b.ring.push(record);
    b.newest = record;
    buffer_write_ins.increment();
    if (b.ring.size() >= settings_.write_min && attempted_flush(check_id, b)) {
        buffer_size_flush.increment();
    }
}

template <uint32_t DataType>
bool WriteBuffer::accumulates(record_t<DataType>& newest, const record_t<DataType>& record,
                              const CheckBuffer<DataType>& b) {
    if constexpr (DataType == type_incident) {
        // The buffered incident stands for the later ones of its window only.
        return record.timestart >= newest.timestart &&
               record.timestart - newest.timestart < b.resolution;
    } else {
        record_t<DataType> merged = newest;
        merge(merged, record);
        if (merged.duration >= b.resolution) {
            return false;
        }
        newest = merged;
        return true;
    }
}

template <uint32_t DataType>
size_t WriteBuffer::settled(const CheckBuffer<DataType>& b, uint32_t now) const {
    if (b.resolution <= 1 || b.ring.empty()) {
        return b.ring.size();
    }
    // The newest record may still accumulate samples, until it is too old to wait.
    const bool aged =
        now != 0 && uint64_t{b.ring.at(b.ring.size() - 1).timestart} + settings_.age_max < now;
    return b.ring.size() - (aged ? 0 : 1);
}

template <uint32_t DataType>
bool WriteBuffer::attempted_flush(uint32_t check_id, CheckBuffer<DataType>& b, uint32_t now) {
    const size_t n = settled(b, now);
    return batch_flush(check_id, b, n) || flush_one_by_one(check_id, b, n);
}

// The common case: every settled record fits in the level as it stands.
template <uint32_t DataType>
bool WriteBuffer::batch_flush(uint32_t check_id, CheckBuffer<DataType>& b, size_t settled) {
    if (settled < 2) {
        return false;
    }
    thread_local std::vector<record_t<DataType>> batch;
    batch.clear();
    for (size_t i = 0; i < settled; ++i) {
        batch.push_back(b.ring.at(i));
    }
    if (!append_to_series<DataType>(db_, check_id, batch)) {
        return false;
    }
    for (size_t i = 0; i < settled; ++i) {
        b.ring.pop();
    }
    return true;
}

// Record by record, so that a full level aggregates and a refused record is
// dropped alone.
template <uint32_t DataType>
bool WriteBuffer::flush_one_by_one(uint32_t check_id, CheckBuffer<DataType>& b, size_t settled) {
    size_t written = 0;
    while (written < settled && guarded_insert<DataType>(db_, check_id, b.ring.peek())) {
        b.ring.pop();
        ++written;
    }
    return written > 0;
}

template <uint32_t DataType>
void WriteBuffer::forced_flush_one(uint32_t check_id, CheckBuffer<DataType>& b) {
    while (!guarded_insert<DataType>(db_, check_id, b.ring.peek())) {
        db_.phase_shift_all();
    }
    b.ring.pop();
}

template <uint32_t DataType>
void WriteBuffer::size_and_age_check(uint32_t check_id, CheckBuffer<DataType>& b, uint32_t now) {
    if (b.ring.size() >= settings_.write_min) {
        if (attempted_flush(check_id, b)) {
            buffer_size_flush.increment();
        }
    } else if (!b.ring.empty() && uint64_t{b.ring.peek().timestart} + settings_.age_max < now) {
        if (attempted_flush(check_id, b, now)) {
            buffer_age_flush.increment();
        }
    }
}

template <uint32_t DataType>
void WriteBuffer::age_flush_map(BufferMap<DataType>& m, uint32_t now) {
    for (uint32_t visit = 0; visit < settings_.flush_batch; ++visit) {
        const auto found = m.buffers.lower_bound(m.cursor);
        if (found == m.buffers.end()) {
            m.cursor = 0;
            continue;
        }
        size_and_age_check(found->first, found->second, now);
        m.cursor = found->first + 1;
    }
}

void WriteBuffer::age_flush(uint32_t now) {
    std::apply([&](auto&... m) { (age_flush_map(m, now), ...); }, maps_);
}

template <uint32_t DataType>
void WriteBuffer::external_flush_in(uint32_t check_id) {
    auto& buffers = map<DataType>().buffers;
    const auto found = buffers.find(check_id);
    if (found == buffers.end() || found->second.ring.empty()) {
        return;
    }
    external_buffer_flush.increment();
    while (!found->second.ring.empty()) {
        forced_flush_one(check_id, found->second);
    }
}

void WriteBuffer::external_flush(uint32_t check_id) {
    if (!db_.check_id_exists(check_id)) {
        return;
    }
    by_type(db_.series(check_id).data_type, [&]<uint32_t T>() { external_flush_in<T>(check_id); });
}

template <uint32_t DataType>
void WriteBuffer::flush_map(BufferMap<DataType>& m) {
    auto& buffers = m.buffers;
    while (!buffers.empty()) {
        for (auto& [id, b] : buffers) {
            attempted_flush(id, b);
        }
        for (auto it = buffers.begin(); it != buffers.end();) {
            if (it->second.ring.empty()) {
                it = buffers.erase(it);
            } else {
                forced_flush_one(it->first, it->second);
                ++it;
            }
        }
    }
}

void WriteBuffer::flush_all() {
    logging::storage_log(Verbosity::notice, "Flushing all in-memory buffers to disk");
    std::apply([&](auto&... m) { (flush_map(m), ...); }, maps_);
    logging::storage_log(Verbosity::notice, "In-memory buffer flush complete");
}

template <uint32_t DataType>
record_t<DataType> WriteBuffer::extract_newest(uint32_t check_id) {
    const uint32_t finest = db_.typed_series(check_id, DataType, Database::Use::extract);
    auto& buffers = map<DataType>().buffers;
    if (const auto found = buffers.find(check_id);
        found != buffers.end() && !is_empty(found->second.newest.duration)) {
        newest_entry_hits.increment();
        return found->second.newest;
    }
    newest_entry_misses.increment();
    check_empty(check_id);
    std::optional<record_t<DataType>> newest;
    for_each_record<record_t<DataType>>(db_, finest, [&newest](record_t<DataType>& r, uint32_t) {
        newest = std::move(r);
        return true;
    });
    if (!newest) {
        throw error_empty("No records in given series, cannot extract newest");
    }
    buffer_for<DataType>(check_id, "duplicate insert of check id in newest entry set").newest =
        *newest;
    return *newest;
}

void WriteBuffer::check_empty(uint32_t check_id) const {
    const auto has_records = [check_id](const auto& m) {
        const auto found = m.buffers.find(check_id);
        return found != m.buffers.end() && !found->second.ring.empty();
    };
    if (std::apply([&](const auto&... m) { return (has_records(m) || ...); }, maps_)) {
        throw error_internal("Non-empty write buffer when empty write buffer expected");
    }
}

size_t WriteBuffer::forget(uint32_t check_id) {
    return std::apply([check_id](auto&... m) { return (m.buffers.erase(check_id) + ...); }, maps_);
}

template <uint32_t DataType>
std::vector<record_t<DataType>> WriteBuffer::buffered(uint32_t check_id) const {
    std::vector<record_t<DataType>> records;
    const auto& buffers = map<DataType>().buffers;
    if (const auto found = buffers.find(check_id); found != buffers.end()) {
        for (size_t i = 0; i < found->second.ring.size(); ++i) {
            records.push_back(found->second.ring.at(i));
        }
    }
    return records;
}

#define TSDB_WRITE_BUFFER_FOR(T)                                        \
    template void WriteBuffer::insert<T>(uint32_t, const record_t<T>&); \
    template record_t<T> WriteBuffer::extract_newest<T>(uint32_t);      \
    template std::vector<record_t<T>> WriteBuffer::buffered<T>(uint32_t) const;

TSDB_FOR_EACH_STORAGE_TYPE(TSDB_WRITE_BUFFER_FOR)

#undef TSDB_WRITE_BUFFER_FOR

}  // namespace tsdb
