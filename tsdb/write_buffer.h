// The write buffer: per series, a short ring of records in memory that
// merges consecutive samples while their span stays below the finest
// level's resolution, and writes records to the finest level in batches
// (by count, by age, when full, before the series is read or rewritten
// whole, and at shutdown). It also keeps the newest record of each series,
// so that the latest record is answered without reading the disk.
//
// Buffered records are in memory only: a crash loses them.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "tsdb/buffer_settings.h"
#include "tsdb/cyclic_vector.h"
#include "tsdb/record_reader.h"

namespace tsdb {

class Database;

class WriteBuffer {
public:
    explicit WriteBuffer(Database& db) : db_(db) {}

    void configure(const buffer_settings_t& settings) { settings_ = settings; }
    const buffer_settings_t& settings() const { return settings_; }

    // The entry point of data writes; checks the id and the series' type.
    template <uint32_t DataType>
    void insert(uint32_t check_id, const record_t<DataType>& record);

    // The timed duty: visits a bounded number of buffers per map, in turn.
    void age_flush(uint32_t now);
    // Writes every buffered record of the series; called before the series
    // is read whole or rewritten.
    void external_flush(uint32_t check_id);
    // Writes everything; at shutdown, before the last phase shift.
    void flush_all();

    // The latest record of the series, from memory when it is known.
    template <uint32_t DataType>
    record_t<DataType> extract_newest(uint32_t check_id);
    // Throws tsdb::error_internal when the series has buffered records.
    void check_empty(uint32_t check_id) const;
    // Drops the series' buffer without writing it; the number removed.
    size_t forget(uint32_t check_id);

    // The series' buffered records, oldest first.
    template <uint32_t DataType>
    std::vector<record_t<DataType>> buffered(uint32_t check_id) const;

private:
    template <uint32_t DataType>
    struct CheckBuffer {
        uint32_t resolution;
        cyclic_vector<record_t<DataType>> ring;
        record_t<DataType> newest{};
    };
    template <uint32_t DataType>
    struct BufferMap {
        std::map<uint32_t, CheckBuffer<DataType>> buffers;
        uint32_t cursor = 0;
    };

    template <uint32_t DataType>
    BufferMap<DataType>& map() {
        return std::get<BufferMap<DataType>>(maps_);
    }
    template <uint32_t DataType>
    const BufferMap<DataType>& map() const {
        return std::get<BufferMap<DataType>>(maps_);
    }
    template <uint32_t DataType>
    CheckBuffer<DataType>& buffer_for(uint32_t check_id, const char* duplicate_text);
    // Whether `record` joins the buffered newest record (updating it)
    // rather than being queued after it.
    template <uint32_t DataType>
    static bool accumulates(record_t<DataType>& newest, const record_t<DataType>& record,
                            const CheckBuffer<DataType>& buffer);
    // How many records, oldest first, a flush at `now` writes (0: no age).
    template <uint32_t DataType>
    size_t settled(const CheckBuffer<DataType>& buffer, uint32_t now) const;
    template <uint32_t DataType>
    bool attempted_flush(uint32_t check_id, CheckBuffer<DataType>& buffer, uint32_t now = 0);
    template <uint32_t DataType>
    bool batch_flush(uint32_t check_id, CheckBuffer<DataType>& buffer, size_t settled);
    template <uint32_t DataType>
    bool flush_one_by_one(uint32_t check_id, CheckBuffer<DataType>& buffer, size_t settled);
    template <uint32_t DataType>
    void forced_flush_one(uint32_t check_id, CheckBuffer<DataType>& buffer);
    template <uint32_t DataType>
    void size_and_age_check(uint32_t check_id, CheckBuffer<DataType>& buffer, uint32_t now);
    template <uint32_t DataType>
    void age_flush_map(BufferMap<DataType>& m, uint32_t now);
    template <uint32_t DataType>
    void external_flush_in(uint32_t check_id);
    template <uint32_t DataType>
    void flush_map(BufferMap<DataType>& m);

    Database& db_;
    buffer_settings_t settings_;
    // In the order every flush visits them.
    std::tuple<BufferMap<type_continuous>, BufferMap<type_monotonic>, BufferMap<type_enum>,
               BufferMap<type_incident>>
        maps_;
};

}  // namespace tsdb
