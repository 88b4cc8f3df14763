#include "tsdb/engine.h"

#include "tsdb/crc2x32.h"
#include "tsdb/error.h"
#include "tsdb/extraction.h"
#include "tsdb/recovery.h"

namespace tsdb {

namespace {

// Calls action.template operator()<T>() for the data type of the series.
template <typename Action>
auto by_type(uint32_t data_type, Action&& action) {
    switch (data_type) {
        case type_continuous:
            return action.template operator()<type_continuous>();
        case type_enum:
            return action.template operator()<type_enum>();
        case type_monotonic:
            return action.template operator()<type_monotonic>();
        case type_incident:
            return action.template operator()<type_incident>();
        default:
            throw error_dbtype("Datatype out of range");
    }
}

}  // namespace

uint32_t Engine::create_series(const time_series_layout_t& layout) {
    const uint32_t id = db_.allocate_described_ts(layout);
    buffer_.check_empty(id);
    return id;
}

time_series_layout_t Engine::describe_series(uint32_t check_id) const {
    return db_.fetch_ts_description(check_id);
}

void Engine::delete_series(uint32_t check_id) {
    db_.deallocate_check_id(check_id);
    buffer_.forget(check_id);
}

uint32_t Engine::data_type(uint32_t check_id) const {
    db_.check_allocated(check_id);
    return db_.chain(ChainKind::check).check_entry(check_id).data_type;
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
    db_.check_type(check_id, DataType);
    merge_writer<DataType>(db_, buffer_, check_id, records);
}

uint32_t Engine::oldest(uint32_t check_id) { return oldest_time(db_, check_id); }

std::string Engine::checksum(uint32_t check_id) {
    security::Crc2x32 crc;
    crc.reset();
    by_type(data_type(check_id),
            [&]<uint32_t T>() { recovery_checksum<T>(db_, buffer_, check_id, crc); });
    std::string digest(8, '\0');
    crc.write_digest(reinterpret_cast<uint8_t*>(digest.data()));
    return digest;
}

std::string Engine::extract(uint32_t check_id) {
    return by_type(data_type(check_id),
                   [&]<uint32_t T>() { return recovery_extract<T>(db_, buffer_, check_id); });
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

TSDB_ENGINE_FOR(1)
TSDB_ENGINE_FOR(2)
TSDB_ENGINE_FOR(3)
TSDB_ENGINE_FOR(4)

#undef TSDB_ENGINE_FOR

}  // namespace tsdb
