#include "tsdb/file/lblock_cursor.h"

#include <algorithm>
#include <cstring>

#include "tsdb/file/backing_store.h"
#include "tsdb/file/ring_reads.h"

namespace tsdb {

LblockCursor::LblockCursor(BackingStore& store, const lblock_entry_t& level)
    : store_(store), level_(level), block_size_(store.block_size()), buffer_(block_size_) {}

uint32_t LblockCursor::read(uint8_t* destination, uint32_t position, uint32_t length) {
    return read_ring_pieces(
        level_size(), position, length, [&](uint32_t done, uint32_t at, uint32_t n) {
            // Within the piece, block by block through the cached block.
            for (uint32_t copied = 0; copied < n;) {
                const uint32_t block = (at + copied) / block_size_;
                if (block != cached_block_) {
                    store_.btb_ReadFile(buffer_, level_.first_dblock + block);
                    cached_block_ = block;
                }
                const uint32_t in_block = (at + copied) % block_size_;
                const uint32_t k = std::min(block_size_ - in_block, n - copied);
                std::memcpy(destination + done + copied, buffer_.data() + in_block, k);
                copied += k;
            }
        });
}

}  // namespace tsdb
