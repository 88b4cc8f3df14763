#include "io/pool_area.h"

#include <string>

#include "error/assert.h"
#include "util/bytes.h"
#include "util/format.h"

namespace io {

namespace {

constexpr uint64_t used_bit = 1;
constexpr uint64_t padded_bit = 2;
constexpr uint64_t flag_bits = 7;

uint64_t align8(uint64_t x) { return (x + 7) & ~uint64_t{7}; }

}  // namespace

uint8_t* PoolView::at(uint64_t offset, uint64_t length) const {
    if (offset >= size_ || length > size_ - offset) {
        error::assertion_failed("Offset out of range: " + util::format_u64(offset) + " !< " +
                                util::format_u64(size_));
    }
    return base_ + offset;
}

uint64_t PoolView::word(uint64_t offset) const { return util::load_le64(at(offset, 8)); }
void PoolView::set_word(uint64_t offset, uint64_t value) const {
    util::store_le64(at(offset, 8), value);
}

uint64_t PoolView::prev_offset(uint64_t block) const { return word(block) & ~flag_bits; }
bool PoolView::used(uint64_t block) const { return (word(block) & used_bit) != 0; }
bool PoolView::padded(uint64_t block) const { return (word(block) & padded_bit) != 0; }
uint64_t PoolView::length(uint64_t block) const { return word(block + 8); }

uint64_t PoolView::next_offset(uint64_t block) const {
    return align8(block + block_header_size + length(block)) + (padded(block) ? 8 : 0);
}

PoolArea::PoolArea(const PoolView& pool, uint64_t start, uint64_t size)
    : PoolView(pool), start_(start), size_(size), search_(start) {
    error::require(start % 8 == 0 && size % 8 == 0 && size >= 32, "block_header init error");
    set_word(start, 0);
    set_word(start + 8, size - block_header_size);
    error::require(next_offset(start) == end(), "block_header init error");
}

uint64_t PoolArea::writable() const {
    if (search_ == no_free_block) {
        return 0;
    }
    if (search_ < start_ || search_ + block_header_size > end()) {
        error::assertion_failed("writeBegin(): next_offset out of bounds " +
                                util::format_u64(search_));
    }
    return next_offset(search_) - search_ - block_header_size;
}

void PoolArea::make_free(uint64_t block, uint64_t prev, uint64_t next) const {
    if (prev % 4 != 0) {
        error::assertion_failed("Misaligned prev_offset: " + util::format_u64(prev));
    }
    set_word(block, prev);
    set_word(block + 8, next - block - block_header_size);
    if (next_offset(block) != next) {
        error::assertion_failed("initFree next_offset is " + util::format_u64(next_offset(block)) +
                                " but should be " + util::format_u64(next));
    }
}

void PoolArea::make_used(uint64_t block, uint64_t prev, uint64_t next, uint64_t length) const {
    error::require(length != 0, "Creating empty block");
    const uint64_t aligned = align8(block + block_header_size + length);
    uint64_t flags = used_bit;
    if (next == aligned + 8) {
        flags |= padded_bit;
    } else if (next != aligned) {
        error::assertion_failed("Invalid next_offset: " + util::format_u64(next) + ", align: " +
                                util::format_u64(aligned) + ", my: " + util::format_u64(block) +
                                ", len: " + util::format_u64(length));
    }
    set_word(block, prev | flags);
    set_word(block + 8, length);
    if (next_offset(block) != next) {
        error::assertion_failed("initUsed next_offset is " + util::format_u64(next_offset(block)) +
                                " but should be " + util::format_u64(next));
    }
}

void PoolArea::set_prev(uint64_t block, uint64_t prev) const {
    set_word(block, prev | (word(block) & flag_bits));
}

uint64_t PoolArea::place(uint64_t length) {
    const uint64_t b = search_;
    const uint64_t n = next_offset(b);
    error::require(length <= n - b - block_header_size, "Message longer than its free block");
    const uint64_t prev = prev_offset(b);
    if (n - b < length + 2 * block_header_size) {
        if (n != end() && n + block_header_size > end()) {
            error::assertion_failed("(nosplit) Next Offset of block is at " + util::format_u64(n) +
                                    " and the end of our area is at " + util::format_u64(end()));
        }
        make_used(b, prev, n, length);
        find_free_from(n);
    } else {
        const uint64_t m = align8(b + block_header_size + length);
        if (n != end() && n + block_header_size > end()) {
            error::assertion_failed("(split) Next Offset of new block is at " +
                                    util::format_u64(n) + " and the end of our area is at " +
                                    util::format_u64(end()));
        }
        make_used(b, prev, m, length);
        make_free(m, b, n);
        if (n != end()) {
            set_prev(n, m);
        }
        find_free_from(m);
    }
    return b;
}

// Walks the area as a ring from `from` to the first free block with room.
void PoolArea::find_free_from(uint64_t from) {
    const uint64_t first = from == end() ? start_ : from;
    uint64_t off = first;
    do {
        if (off + block_header_size > end()) {
            error::assertion_failed("search_off at " + util::format_u64(off) +
                                    " with end of area at " + util::format_u64(end()));
        }
        if (!used(off) && length(off) != 0) {
            search_ = off;
            return;
        }
        const uint64_t next = next_offset(off);
        if (next > end()) {
            error::assertion_failed("next_off (" + util::format_u64(next) + " is beyond our area");
        }
        off = next == end() ? start_ : next;
    } while (off != first);
    search_ = no_free_block;
}

void PoolArea::release(uint64_t block) {
    uint64_t start = block;
    const uint64_t prev = prev_offset(block);
    if (block != start_ && !used(prev)) {
        start = prev;
        if (search_ == block) {
            search_ = start;
        }
    }
    uint64_t end_of_free = next_offset(block);
    if (end_of_free != end() && !used(end_of_free)) {
        if (search_ == end_of_free) {
            search_ = start;
        }
        end_of_free = next_offset(end_of_free);
    }
    if (start < start_ || start >= end()) {
        error::assertion_failed("Bad new_free_next_offset: " + util::format_u64(start));
    }
    if (end_of_free <= start_ || end_of_free > end()) {
        error::assertion_failed("Bad2 new_free_next_offset: " + util::format_u64(end_of_free));
    }
    make_free(start, prev_offset(start), end_of_free);
    if (end_of_free != end()) {
        set_prev(end_of_free, start);
    }
    if (search_ != no_free_block && search_ > start && search_ < end_of_free) {
        error::assertion_failed("Search offset got coalesced... at: " + util::format_u64(search_) +
                                " with new free block from " + util::format_u64(start) + " - " +
                                util::format_u64(end_of_free));
    }
    if (search_ == no_free_block) {
        search_ = start;
    }
}

}  // namespace io
