// The storage engine as the request handlers, the tools and the benchmarks
// use it: one open database with its write buffer. Nobody reaches around
// it into the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/level_summary.h"
#include "tsdb/write_buffer.h"
#include "util/clock.h"

namespace tsdb {

class Engine {
public:
    // The write buffer refers to the database: an engine stays where it is made.
    explicit Engine(Database db) : db_(std::move(db)), buffer_(db_) {}
    // `clock` is the engine's only source of the time (see now()).
    static std::unique_ptr<Engine> open(const std::string& path,
                                        const buffer_settings_t& buffer = {},
                                        util::Clock clock = util::system_seconds) {
        auto engine = std::make_unique<Engine>(Database::open(path, std::move(clock)));
        engine->configure(buffer);
        return engine;
    }
    // Opens for reading only, as tsdb::Database::inspect does: nothing is
    // repaired or written, and no lock is taken. On a file a database
    // process holds, reads see its last commit while unchanged_since_open();
    // read_committed() reads again until they do.
    static std::unique_ptr<Engine> open_read_only(const std::string& path);
    bool unchanged_since_open() { return db_.unchanged_since_open(); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void configure(const buffer_settings_t& settings) { buffer_.configure(settings); }

    // --- series ---
    // Refuses (tsdb::error_range), with nothing allocated, a layout with a
    // level of size or resolution 0, more than 64 levels or over 1 GiB.
    uint32_t create_series(const time_series_layout_t& layout);
    // As create_series, under a given free id below max_given_id (a restore
    // keeps its dump's ids); tsdb::error_range for an id in use or too high.
    static constexpr uint32_t max_given_id = (1u << 20) - 1;
    uint32_t create_series_as(uint32_t check_id, const time_series_layout_t& layout);
    time_series_layout_t describe_series(uint32_t check_id) const;
    // Drops the series and its buffered records; freed at the next phase shift.
    void delete_series(uint32_t check_id);
    // A series of one level of resolution 1 with room, in whole blocks, for
    // `bytes` of encoded records; tsdb::error_range when that is too large.
    uint32_t create_series_holding(uint32_t data_type, uint64_t bytes);
    // Both throw tsdb::error_internal "Referenced unallocated check_id (" id ")".
    void require_series(uint32_t check_id) const;
    uint32_t data_type(uint32_t check_id) const;
    uint32_t check_capacity() const;
    // What each level holds on disk, finest first.
    std::vector<level_summary_t> stored_levels(uint32_t check_id);
    bool series_exists(uint32_t check_id) const;
    // A finest level of resolution 1 with a coarser level after it, as
    // older versions made in place of the write buffer.
    bool has_buffer_level(uint32_t check_id) const;
    // Moves each series' buffer level's records into its next level (or
    // drops them), makes that level the series' first and commits; only then
    // are the buffer levels freed. A failed commit leaves every series on
    // its buffer level.
    void drop_buffer_levels(const std::vector<uint32_t>& check_ids, bool keep_records);

    // --- data, one instance per data type ---
    template <uint32_t DataType>
    void put(uint32_t check_id, const record_t<DataType>& record);
    template <uint32_t DataType>
    std::vector<record_t<DataType>> get(uint32_t check_id, int64_t from, int64_t to);
    template <uint32_t DataType>
    record_t<DataType> newest(uint32_t check_id);
    template <uint32_t DataType>
    void truncate(uint32_t check_id, int64_t before_or_at);
    // Replaces the series by the merge of its records and `records` (time order).
    template <uint32_t DataType>
    void rebuild(uint32_t check_id, const std::vector<record_t<DataType>>& records);
    uint32_t oldest(uint32_t check_id);

    // --- recovery, by the series' own type ---
    std::string checksum(uint32_t check_id);  // 8 bytes
    std::string extract(uint32_t check_id);   // a patch
    void merge(uint32_t check_id, const std::vector<std::string>& patches);
    // Moves the series' records into new levels (finest first), folded and
    // dropped as level insertion does; refuses a layout as create_series
    // does, with nothing changed. The switch commits.
    void relayout(uint32_t check_id, const std::vector<level_t>& levels);
    // A patch's records appended as they are to one level (0 the finest) of a
    // new series; tsdb::error_range where they do not fit, part-way.
    void place(uint32_t check_id, uint32_t level, const std::string& patch);

    // --- time, timed duties, checks and shutdown ---
    int64_t now() const { return db_.now(); }
    void phase_shift() { db_.phase_shift_all(); }
    // When the last phase shift began, by the engine's clock; a failed one counts.
    int64_t last_phase_shift_attempt() const { return db_.last_phase_shift_attempt(); }
    void age_flush(uint32_t now) { buffer_.age_flush(now); }
    void flush_all() { buffer_.flush_all(); }
    // What the file's consistency check finds wrong; empty when nothing is.
    std::vector<std::string> problems() const;

private:
    Database db_;
    WriteBuffer buffer_;
};

}  // namespace tsdb
