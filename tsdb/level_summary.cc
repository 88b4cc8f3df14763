#include "tsdb/level_summary.h"

#include "tsdb/file/lblock_cursor.h"
#include "tsdb/record_reader.h"
#include "util/bytes.h"

namespace tsdb {

namespace {

uint32_t start_at(Database& db, const lblock_entry_t& level, uint32_t position) {
    uint8_t start[4];
    db.read_from_lblock(level, position, start);
    return util::load_be32(start);
}

// Incident records differ in length: count them by walking the level.
void count_incidents(Database& db, const lblock_entry_t& level, uint32_t head,
                     level_summary_t& summary) {
    LblockCursor cursor(db.store(), level);
    uint32_t position = head;
    for (uint32_t left = summary.used_bytes; left > 0;) {
        incident_record_t record;
        const uint32_t next = read_record(cursor, position, left, record);
        left -= (next + cursor.level_size() - position) % cursor.level_size();
        position = next;
        summary.oldest_start = summary.oldest_start.value_or(record.timestart);
        summary.newest_start = record.timestart;
        ++summary.records;
    }
}

level_summary_t summarize(Database& db, uint32_t data_type, uint32_t lblock) {
    const LevelView view = db.level(lblock);
    const lblock_entry_t level = view.entry;
    const uint32_t size = view.size;
    const uint32_t head = db.committed_head(lblock);
    const uint32_t tail = view.tail;
    const uint32_t unit = record_unit_size(data_type);
    level_summary_t summary;
    summary.lblock = lblock;
    summary.resolution = level.resolution;
    summary.capacity = size / unit;
    summary.used_bytes = (tail + size - head) % size;
    // A ring keeps one byte free to tell full from empty.
    summary.fill_percent = static_cast<uint32_t>(uint64_t{summary.used_bytes} * 100 / (size - 1));
    if (data_type == type_incident) {
        count_incidents(db, level, head, summary);
    } else if (summary.used_bytes >= unit) {
        summary.records = summary.used_bytes / unit;
        summary.oldest_start = start_at(db, level, head);
        summary.newest_start = start_at(db, level, (tail + size - unit) % size);
    }
    return summary;
}

}  // namespace

std::vector<level_summary_t> summarize_levels(Database& db, uint32_t check_id) {
    const uint32_t data_type = db.series(check_id).data_type;
    std::vector<level_summary_t> levels;
    for (uint32_t l : db.levels_of(check_id)) {
        levels.push_back(summarize(db, data_type, l));
    }
    return levels;
}

}  // namespace tsdb
