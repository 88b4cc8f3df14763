// Which dblocks of the database are in use. Not stored in the file: rebuilt
// at every open from what the header and the chains reference, then kept up
// to date by allocation and release.
//
// Allocation is first fit from block 1, sped up by one hint per size class
// (runs of 2^k to 2^(k+1)-1 blocks, k < 8): a block from which a free run of
// that class may start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsdb {

class BackingStore;

class AllocationMap {
public:
    static constexpr int hint_classes = 8;

    // Sized to `block_count`, all blocks free, no hints.
    void initialise(uint32_t block_count);

    // Marks a run found referenced at open; throws tsdb::error_dcalloc when a
    // block of it is already marked.
    void mark(uint32_t first, uint32_t n);
    bool test(uint32_t block) const;
    // Whether any of the n blocks is allocated; tsdb::error_range beyond the map.
    bool overlaps(uint32_t first, uint32_t n) const;

    // Marks and returns a run of n free blocks, or 0 when there is none.
    uint32_t allocate(uint32_t n);
    void release(uint32_t first, uint32_t n);
    // Enlarges the map; shrinking below an allocated block throws.
    void resize(uint32_t block_count);

    // Appends at least n blocks (10 % of the database in steps of 10
    // blocks, at most what the volume has free) and enlarges the map.
    void grow_database(BackingStore& store, uint32_t n);
    // allocate(n), growing the database once when no run is free.
    uint32_t allocate_growing(BackingStore& store, uint32_t n);

    uint32_t size() const { return size_; }
    uint32_t allocated_count() const { return allocated_; }
    uint32_t hint(int size_class) const { return hints_[static_cast<size_t>(size_class)]; }

private:
    bool valid_hint(uint32_t h) const { return h != 0 && h < size_ && !test(h); }
    void set_bits(uint32_t first, uint32_t n);
    // The length of the free run at `first`, at most `limit`.
    uint32_t free_run(uint32_t first, uint32_t limit) const;
    uint32_t allocate_from_hints(uint32_t n);
    uint32_t allocate_first_fit(uint32_t n);

    std::vector<uint32_t> words_;
    uint32_t size_ = 0;
    uint32_t allocated_ = 0;
    std::array<uint32_t, hint_classes> hints_{};
};

}  // namespace tsdb
