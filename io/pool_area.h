// One sibling's area of the shared pool, seen by its owner: a tiling of
// blocks, each a 16-byte header (the previous block's offset with the used
// and padded bits, and the payload length) and its payload. Messages are
// carved from free blocks; an acknowledged message is freed and merged with
// its free neighbours. All offsets are pool offsets; every check of the
// tiling is an assertion, since a broken tiling means a corrupted pool.
#pragma once

#include <cstdint>

namespace io {

inline constexpr uint64_t block_header_size = 16;
inline constexpr uint64_t no_free_block = ~uint64_t{0};

// Reads the header of any block of the pool (also in other siblings' areas).
class PoolView {
public:
    PoolView(uint8_t* base, uint64_t size) : base_(base), size_(size) {}

    uint8_t* base() const { return base_; }
    uint64_t size() const { return size_; }
    // "Offset out of range: " unless the offset lies in the pool.
    uint8_t* at(uint64_t offset, uint64_t length = 0) const;

    uint64_t prev_offset(uint64_t block) const;
    bool used(uint64_t block) const;
    bool padded(uint64_t block) const;
    uint64_t length(uint64_t block) const;
    uint64_t next_offset(uint64_t block) const;

protected:
    uint64_t word(uint64_t offset) const;
    void set_word(uint64_t offset, uint64_t value) const;

private:
    uint8_t* base_;
    uint64_t size_;
};

class PoolArea : public PoolView {
public:
    // Makes the whole area one free block.
    PoolArea(const PoolView& pool, uint64_t start, uint64_t size);

    uint64_t start() const { return start_; }
    uint64_t end() const { return start_ + size_; }
    // Where the next message goes, or no_free_block.
    uint64_t search_offset() const { return search_; }
    // Payload bytes of the free block at the search offset (0 without one).
    uint64_t writable() const;

    // Turns the first `length` payload bytes of the free block at the search
    // offset into a used block and moves on to the next free block; returns
    // the new block's offset.
    uint64_t place(uint64_t length);
    // Frees the used block, merging it with free neighbours.
    void release(uint64_t block);

private:
    void make_free(uint64_t block, uint64_t prev, uint64_t next) const;
    void make_used(uint64_t block, uint64_t prev, uint64_t next, uint64_t length) const;
    void set_prev(uint64_t block, uint64_t prev) const;
    void find_free_from(uint64_t from);

    uint64_t start_;
    uint64_t size_;
    uint64_t search_;
};

}  // namespace io
