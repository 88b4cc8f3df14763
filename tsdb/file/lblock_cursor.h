// A sequential reader over one level that keeps one dblock in memory, so a
// scan of the level reads each dblock once.
#pragma once

#include <cstdint>
#include <vector>

#include "tsdb/file/pointer_chain.h"

namespace tsdb {

class BackingStore;

class LblockCursor {
public:
    LblockCursor(BackingStore& store, const lblock_entry_t& level);

    // Reads `length` bytes at `position`, wrapping at the level's end; returns
    // the position after them.
    uint32_t read(uint8_t* destination, uint32_t position, uint32_t length);

    uint32_t level_size() const { return level_.dblocks * block_size_; }

private:
    static constexpr uint32_t none = 0xFFFFFFFF;

    BackingStore& store_;
    lblock_entry_t level_;
    uint32_t block_size_;
    uint32_t cached_block_ = none;
    std::vector<uint8_t> buffer_;
};

}  // namespace tsdb
