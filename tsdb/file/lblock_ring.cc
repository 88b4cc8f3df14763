// A level as a ring of bytes: the contents run from the head to the tail,
// wrapping at the level's end. Writers append at the tail and measure room
// against the last committed head, so a crash never lets new bytes overwrite
// records that the committed state still holds.
#include <algorithm>
#include <string>

#include "tsdb/error.h"
#include "tsdb/file/database.h"
#include "tsdb/file/ring_reads.h"

namespace tsdb {

bool Database::write_to_lblock(uint32_t lblock, std::span<const uint8_t> bytes) {
    const uint32_t head = committed_head(lblock);
    uint32_t tail = chain(ChainKind::tail).position(lblock);
    const lblock_entry_t level = chain(ChainKind::lblock).lblock_entry(lblock);
    const uint32_t size = level_size(level);
    if (size == 0) {
        throw error_internal("Write to lblock (" + std::to_string(lblock) +
                             ") with length 0 attempted");
    }
    if (bytes.size() >= size) {
        throw error_range("Unable to write " + std::to_string(bytes.size()) +
                          " bytes to level of " + std::to_string(size) + " bytes");
    }
    const auto length = static_cast<uint32_t>(bytes.size());
    const uint32_t room = static_cast<uint32_t>((uint64_t{size} - tail + head - 1) % size);
    if (length > room) {
        return false;
    }
    for (uint32_t written = 0; written < length;) {
        if (tail >= size) {
            throw error_internal("Tail pointer positioned outside of lblock");
        }
        const uint32_t piece = std::min(size - tail, length - written);
        store_.btbo_WriteFile(level.first_dblock, tail, bytes.subspan(written, piece));
        written += piece;
        tail += piece;
        if (tail == size) {
            tail = 0;
        }
    }
    chain(ChainKind::tail).set_position(lblock, tail);
    return true;
}

uint32_t Database::read_from_lblock(const lblock_entry_t& level, uint32_t position,
                                    std::span<uint8_t> into, bool dynamic) {
    const auto length = static_cast<uint32_t>(into.size());
    return read_ring_pieces(
        level_size(level), position, length, [&](uint32_t done, uint32_t at, uint32_t n) {
            const uint32_t got =
                store_.botb_ReadFile(into.subspan(done, n), level.first_dblock, at);
            if (got != n) {
                throw error_read(std::string(dynamic ? "When dynamic-reading lblock, got "
                                                     : "When reading lblock, got ") +
                                 std::to_string(got) + " bytes but requested " + std::to_string(n));
            }
        });
}

}  // namespace tsdb
