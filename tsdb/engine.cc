#include "tsdb/engine.h"

#include <algorithm>

#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/file/consistency_check.h"
#include "tsdb/file/crc2x32.h"
#include "tsdb/level_insert.h"
#include "tsdb/recovery.h"
#include "tsdb/storage_type.h"
#include "util/bytes.h"

namespace tsdb {

namespace {

constexpr size_t max_levels = 64;
constexpr uint64_t max_series_bytes = uint64_t{1} << 30;

// Refuses, before anything is allocated, a layout no monitored check needs.
void validate_layout(const time_series_layout_t& layout) {
    const uint64_t unit = record_unit_size(layout.data_type);
    if (layout.levels.size() > max_levels) {
        throw error_range("Series layout has " + std::to_string(layout.levels.size()) +
                          " levels; at most " + std::to_string(max_levels) + " are allowed");
    }
    uint64_t bytes = 0;
    for (size_t i = 0; i < layout.levels.size(); ++i) {
        const level_t& level = layout.levels[i];
        if (level.size == 0 || level.resolution == 0) {
            throw error_range("Level " + std::to_string(i) + " of the series layout has size " +
                              std::to_string(level.size) + " and resolution " +
                              std::to_string(level.resolution) + "; both must be above 0");
        }
        bytes += level.size * unit;
    }
    if (bytes > max_series_bytes) {
        throw error_range("Series layout needs " + std::to_string(bytes) +
                          " bytes; a series may hold at most " + std::to_string(max_series_bytes));
    }
}

}  // namespace

uint32_t Engine::create_series(const time_series_layout_t& layout) {
    validate_layout(layout);
    const uint32_t id = db_.allocate_described_ts(layout);
    buffer_.check_empty(id);
    return id;
}

uint32_t Engine::create_series_as(uint32_t check_id, const time_series_layout_t& layout) {
    validate_layout(layout);
    if (check_id > max_given_id) {
        throw error_range("Series id " + std::to_string(check_id) + " is above " +
                          std::to_string(max_given_id) + ", the highest id a series is given");
    }
    db_.allocate_described_ts(layout, check_id);
    buffer_.check_empty(check_id);
    return check_id;
}

time_series_layout_t Engine::describe_series(uint32_t check_id) const {
    return db_.fetch_ts_description(check_id);
}

void Engine::delete_series(uint32_t check_id) {
    db_.deallocate_check_id(check_id);
    buffer_.forget(check_id);
}

uint32_t Engine::create_series_holding(uint32_t data_type, uint64_t bytes) {
    const uint64_t block = db_.block_size();
    const uint64_t dblocks = std::max<uint64_t>(1, (bytes + block - 1) / block);
    const uint64_t units = dblocks * block / record_unit_size(data_type);
    if (units > UINT32_MAX) {
        throw error_range("Level of " + std::to_string(bytes) + " bytes is too large");
    }
    return create_series({data_type, {{static_cast<uint32_t>(units), 1}}});
}

void Engine::require_series(uint32_t check_id) const { db_.check_allocated(check_id); }

uint32_t Engine::data_type(uint32_t check_id) const {
    db_.check_allocated(check_id);
    return db_.series(check_id).data_type;
}

template <uint32_t DataType>
void Engine::put(uint32_t check_id, const record_t<DataType>& record) {
    buffer_.insert<DataType>(check_id, record);
}

template <uint32_t DataType>
std::vector<record_t<DataType>> Engine::get(uint32_t check_id, int64_t from, int64_t to) {
    return get_data<DataType>(db_, buffer_, check_id, from, to);
}

template <uint32_t DataType>
record_t<DataType> Engine::newest(uint32_t check_id) {
    return buffer_.extract_newest<DataType>(check_id);
}

template <uint32_t DataType>
void Engine::truncate(uint32_t check_id, int64_t before_or_at) {
    truncate_old_data<DataType>(db_, buffer_, check_id, before_or_at);
}

template <uint32_t DataType>
void Engine::rebuild(uint32_t check_id, const std::vector<record_t<DataType>>& records) {
    db_.typed_series(check_id, DataType, Database::Use::given);
    recovery_merge_records<DataType>(db_, buffer_, check_id, records);
}

uint32_t Engine::oldest(uint32_t check_id) { return oldest_time(db_, check_id); }

uint32_t Engine::check_capacity() const { return db_.chain(ChainKind::check).capacity(); }

std::vector<level_summary_t> Engine::stored_levels(uint32_t check_id) {
    require_series(check_id);
    return summarize_levels(db_, check_id);
}

std::unique_ptr<Engine> Engine::open_read_only(const std::string& path) {
    return std::make_unique<Engine>(
        Database::inspect(BackingStore::open_backing_store(path, platform::Access::read_only)));
}

std::vector<std::string> Engine::problems() const { return find_problems(db_); }

bool Engine::series_exists(uint32_t check_id) const { return db_.check_id_exists(check_id); }

bool Engine::has_buffer_level(uint32_t check_id) const {
    db_.check_allocated(check_id);
    const lblock_entry_t finest = db_.level(db_.series(check_id).first_lblock).entry;
    return finest.resolution == 1 && finest.next != 0;
}

void Engine::drop_buffer_levels(const std::vector<uint32_t>& check_ids, bool keep_records) {
    drop_first_levels(db_, check_ids, keep_records);
}

std::string Engine::checksum(uint32_t check_id) {
    security::Crc2x32 crc;
    crc.reset();
    by_type(data_type(check_id),
            [&]<uint32_t T>() { recovery_checksum<T>(db_, buffer_, check_id, crc); });
    std::string digest(8, '\0');
    crc.write_digest(util::bytes_of(digest));
    return digest;
}

std::string Engine::extract(uint32_t check_id) {
    return by_type(data_type(check_id),
                   [&]<uint32_t T>() { return recovery_extract<T>(db_, buffer_, check_id); });
}

void Engine::relayout(uint32_t check_id, const std::vector<level_t>& levels) {
    const uint32_t type = data_type(check_id);
    validate_layout({type, levels});
    by_type(type, [&]<uint32_t T>() { recovery_relayout<T>(db_, buffer_, check_id, levels); });
}

void Engine::place(uint32_t check_id, uint32_t level, const std::string& patch) {
    by_type(data_type(check_id),
            [&]<uint32_t T>() { recovery_place<T>(db_, buffer_, check_id, level, patch); });
}

void Engine::merge(uint32_t check_id, const std::vector<std::string>& patches) {
    by_type(data_type(check_id),
            [&]<uint32_t T>() { recovery_merge<T>(db_, buffer_, check_id, patches); });
}

#define TSDB_ENGINE_FOR(T)                                                        \
    template void Engine::put<T>(uint32_t, const record_t<T>&);                   \
    template std::vector<record_t<T>> Engine::get<T>(uint32_t, int64_t, int64_t); \
    template record_t<T> Engine::newest<T>(uint32_t);                             \
    template void Engine::truncate<T>(uint32_t, int64_t);                         \
    template void Engine::rebuild<T>(uint32_t, const std::vector<record_t<T>>&);

TSDB_FOR_EACH_STORAGE_TYPE(TSDB_ENGINE_FOR)

#undef TSDB_ENGINE_FOR

}  // namespace tsdb
