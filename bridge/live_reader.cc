#include "bridge/live_reader.h"

#include <algorithm>

#include "tsdb/committed_read.h"
#include "tsdb/engine.h"
#include "tsdb/storage_type.h"

namespace bridge {

namespace {

constexpr int64_t ms_per_s = 1000;

Row row_of(const tsdb::continuous_record_t& r) {
    return {
        (int64_t{r.timestart} + r.duration) * ms_per_s, r.ngood, r.nbad, r.min, r.avg, r.max, 0};
}

Row row_of(const tsdb::enum_record_t& r) {
    return {(int64_t{r.timestart} + r.duration) * ms_per_s, r.ngood, r.nbad, 0, 0, 0, r.mask};
}

Row row_of(const tsdb::incident_record_t& r) {
    return {int64_t{r.timestart} * ms_per_s, 0, 0, 0, 0, 0, r.severity};
}

// The longest span a record of the series can have: its coarsest level's.
int64_t longest_span(const tsdb::time_series_layout_t& layout) {
    uint32_t longest = 0;
    for (const tsdb::level_t& level : layout.levels) {
        longest = std::max(longest, level.resolution);
    }
    return longest;
}

template <uint32_t DataType>
std::vector<Row> rows_in(tsdb::Engine& engine, uint32_t id, int64_t from_ms, int64_t to_ms) {
    // A record starts at most its level's resolution before it ends.
    const int64_t from =
        std::max<int64_t>(0, from_ms / ms_per_s - longest_span(engine.describe_series(id)) - 1);
    const int64_t to = to_ms / ms_per_s + 1;
    std::vector<Row> rows;
    for (const auto& record : engine.get<DataType>(id, from, std::max(from, to))) {
        const Row row = row_of(record);
        if (row.ms >= from_ms && row.ms <= to_ms) {
            rows.push_back(row);
        }
    }
    return rows;
}

}  // namespace

LiveReader::LiveReader(std::string path) : path_(std::move(path)) { engine(); }

LiveReader::~LiveReader() = default;

tsdb::Engine& LiveReader::engine() {
    if (!engine_) {
        engine_ = tsdb::Engine::open_read_only(path_);
    }
    return *engine_;
}

template <typename Read>
void LiveReader::committed(Read&& read) {
    tsdb::read_committed([&] {
        tsdb::Engine& e = engine();
        try {
            read(e);
        } catch (...) {
            forget();
            throw;
        }
        if (e.unchanged_since_open()) {
            return true;
        }
        forget();
        return false;
    });
}

void LiveReader::forget() {
    engine_.reset();
    series_.reset();
}

std::vector<SeriesInfo> LiveReader::series() {
    if (engine_ && series_ && !engine_->unchanged_since_open()) {
        forget();
    }
    if (series_) {
        return *series_;
    }
    std::vector<SeriesInfo> all;
    committed([&](tsdb::Engine& e) {
        all.clear();
        for (uint32_t id = 0; id < e.check_capacity(); ++id) {
            if (e.series_exists(id)) {
                all.push_back({id, e.data_type(id)});
            }
        }
    });
    series_ = all;
    return all;
}

std::optional<std::vector<Row>> LiveReader::rows(const SeriesInfo& series, int64_t from_ms,
                                                 int64_t to_ms) {
    std::optional<std::vector<Row>> rows;
    committed([&](tsdb::Engine& e) {
        rows.reset();
        if (e.series_exists(series.id) && e.data_type(series.id) == series.type) {
            rows = tsdb::by_type(series.type, [&]<uint32_t T>() {
                return rows_in<T>(e, series.id, from_ms, to_ms);
            });
        }
    });
    return rows;
}

}  // namespace bridge
