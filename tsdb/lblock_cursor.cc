#include "tsdb/lblock_cursor.h"

#include <algorithm>
#include <cstring>

#include "tsdb/backing_store.h"
#include "tsdb/error.h"

namespace tsdb {

LblockCursor::LblockCursor(BackingStore& store, const lblock_entry_t& level)
    : store_(store), level_(level), block_size_(store.block_size()), buffer_(block_size_) {}

uint32_t LblockCursor::read(uint8_t* destination, uint32_t position, uint32_t length) {
    const uint32_t size = level_size();
    for (uint32_t done = 0; done < length;) {
        if (position >= size) {
            throw error_internal("Read beyond end of lblock");
        }
        const uint32_t block = position / block_size_;
        if (block != cached_block_) {
            store_.btb_ReadFile(buffer_.data(), level_.first_dblock + block, 1);
            cached_block_ = block;
        }
        const uint32_t in_block = position % block_size_;
        const uint32_t piece = std::min(block_size_ - in_block, length - done);
        std::memcpy(destination + done, buffer_.data() + in_block, piece);
        done += piece;
        position += piece;
        if (position == size) {
            position = 0;
        }
    }
    return position;
}

}  // namespace tsdb
