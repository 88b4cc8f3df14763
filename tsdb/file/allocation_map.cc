#include "tsdb/file/allocation_map.h"

#include <algorithm>
#include <bit>
#include <string>

#include "log/storage_log.h"
#include "tsdb/error.h"
#include "tsdb/file/backing_store.h"

namespace tsdb {

namespace {

int size_class(uint32_t n) { return static_cast<int>(std::bit_width(n)) - 1; }

// Classes below this are refreshed by a run of n blocks.
int classes_below(uint32_t n) { return std::min(size_class(n), AllocationMap::hint_classes); }

}  // namespace

void AllocationMap::initialise(uint32_t block_count) {
    words_.assign((uint64_t{block_count} + 31) / 32, 0);
    size_ = block_count;
    allocated_ = 0;
    hints_.fill(0);
}

bool AllocationMap::test(uint32_t block) const {
    return (words_[block / 32] >> (block % 32) & 1) != 0;
}

void AllocationMap::set_bits(uint32_t first, uint32_t n) {
    for (uint32_t b = first; b < first + n; ++b) {
        words_[b / 32] |= uint32_t{1} << (b % 32);
    }
    allocated_ += n;
}

void AllocationMap::mark(uint32_t first, uint32_t n) {
    if (overlaps(first, n)) {
        throw error_dcalloc("Block " + std::to_string(first) + " doubly allocated");
    }
    set_bits(first, n);
}

bool AllocationMap::overlaps(uint32_t first, uint32_t n) const {
    const uint64_t end = uint64_t{first} + n;
    if (end > size_) {
        throw error_range("Bad range (end at " + std::to_string(end) + ") given to overlap tester");
    }
    for (uint32_t b = first; b < end; ++b) {
        if (test(b)) {
            return true;
        }
    }
    return false;
}

uint32_t AllocationMap::free_run(uint32_t first, uint32_t limit) const {
    uint32_t length = 0;
    while (length < limit && first + length < size_ && !test(first + length)) {
        ++length;
    }
    return length;
}

uint32_t AllocationMap::allocate_from_hints(uint32_t n) {
    for (int k = size_class(n); k < hint_classes; ++k) {
        uint32_t& h = hints_[static_cast<size_t>(k)];
        if (!valid_hint(h)) {
            continue;
        }
        if (free_run(h, n) == n) {
            const uint32_t first = h;
            set_bits(first, n);
            h += n;
            return first;
        }
        h = 0;
    }
    return 0;
}

uint32_t AllocationMap::allocate_first_fit(uint32_t n) {
    uint32_t s = 1;
    while (s < size_) {
        if (test(s)) {
            ++s;
            continue;
        }
        const uint32_t length = free_run(s, n);
        const uint32_t end = s + length;
        const int m = classes_below(length);
        for (int i = 0; i < m; ++i) {
            if (!valid_hint(hints_[static_cast<size_t>(i)])) {
                hints_[static_cast<size_t>(i)] = s;
            }
        }
        if (length >= n) {
            set_bits(s, n);
            for (int i = 0; i < m; ++i) {
                if (hints_[static_cast<size_t>(i)] == s) {
                    hints_[static_cast<size_t>(i)] = end;
                }
            }
            return s;
        }
        s = end;
    }
    return 0;
}

uint32_t AllocationMap::allocate(uint32_t n) {
    if (n == 0) {
        return 0;
    }
    if (size_class(n) < hint_classes) {
        if (const uint32_t first = allocate_from_hints(n); first != 0) {
            return first;
        }
    }
    return allocate_first_fit(n);
}

void AllocationMap::release(uint32_t first, uint32_t n) {
    const int m = classes_below(n);
    for (int i = 0; i < m; ++i) {
        const uint32_t h = hints_[static_cast<size_t>(i)];
        if (h == 0 || h >= size_ || test(h)) {
            hints_[static_cast<size_t>(i)] = first;
        }
    }
    for (uint32_t b = first; b < first + n; ++b) {
        words_[b / 32] &= ~(uint32_t{1} << (b % 32));
    }
    allocated_ -= n;
}

void AllocationMap::resize(uint32_t block_count) {
    const size_t words = (uint64_t{block_count} + 31) / 32;
    if (words < words_.size()) {
        if (std::any_of(words_.begin() + static_cast<std::ptrdiff_t>(words), words_.end(),
                        [](uint32_t w) { return w != 0; })) {
            throw error_unref_used("Referenced block deallocated");
        }
        return;
    }
    words_.resize(words, 0);
    size_ = block_count;
}

void AllocationMap::grow_database(BackingStore& store, uint32_t n) {
    uint32_t want = std::max(n, store.block_count() / 100 * 10);
    const uint32_t free = store.cgs_space();
    if (free < want) {
        logging::storage_log(logging::Verbosity::notice,
                             "Wanted to grow TSDB with " + std::to_string(want) +
                                 " blocks, but only " + std::to_string(free) +
                                 " blocks are available");
        want = free;
    } else {
        logging::storage_log(logging::Verbosity::verbose,
                             "Growing TSDB with " + std::to_string(want) + " blocks");
    }
    if (uint64_t{store.block_count()} + want > 0xFFFFFFFF) {
        throw error_dbspacewrap("Growing the database with " + std::to_string(want) +
                                " blocks will make it exceed internal limits for TSDB size");
    }
    try {
        store.grow_backing_store(want);
    } catch (const error_generic&) {
        resize(store.block_count());
        throw;
    }
    resize(store.block_count());
}

uint32_t AllocationMap::allocate_growing(BackingStore& store, uint32_t n) {
    if (const uint32_t first = allocate(n); first != 0) {
        return first;
    }
    grow_database(store, n);
    return allocate(n);
}

}  // namespace tsdb
