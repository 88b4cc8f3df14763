// Block 0 of the database file: magic "TSDB", format version, block size,
// the number N of copies of each chain, and one descriptor (generation,
// first dblock, CRC-32) per copy of each chain kind. The buffer is kept as
// read, so that rewriting it preserves every byte this process does not own.
#pragma once

#include <cstdint>
#include <vector>

#include "tsdb/file/chain_kind.h"

namespace tsdb {

class BackingStore;

class Header {
public:
    static constexpr uint32_t magic = 0x54534442;
    static constexpr uint32_t version = 1;
    static constexpr uint32_t descriptors_offset = 24;
    static constexpr uint32_t descriptor_size = 16;

    // Throws tsdb::error_fubar naming the first rule that the first 24 bytes
    // of a block 0 break: magic, version, block size, number of chains.
    static void validate(const uint8_t* block0);
    // The block size field of a block 0 (its first KiB suffices).
    static uint32_t block_size_of(const uint8_t* block0);
    // Whether block 0 on disk still holds this header's bytes.
    bool on_disk(BackingStore& store) const;
    // Lays out a new header: fields, and descriptors with generation 0, the
    // given first dblocks (indexed kind * copies + copy) and valid checksums.
    static std::vector<uint8_t> make(uint32_t block_size, uint32_t copies,
                                     const std::vector<uint32_t>& first_dblocks);

    // Reads block 0 of a store whose block size is already the header's.
    void load(BackingStore& store);
    bool loaded() const { return !buffer_.empty(); }

    uint32_t block_size() const;
    uint32_t copies() const;

    uint64_t generation(ChainKind kind, uint32_t copy) const;
    uint32_t first_dblock(ChainKind kind, uint32_t copy) const;
    bool checksum_matches(ChainKind kind, uint32_t copy) const;

    // Leaves the checksum as it is.
    void set_generation(ChainKind kind, uint32_t copy, uint64_t generation);
    // New generation and first dblock, with a fresh checksum.
    void commit_descriptor(ChainKind kind, uint32_t copy, uint64_t generation,
                           uint32_t first_dblock);
    void write(BackingStore& store) const;

    const std::vector<uint8_t>& bytes() const { return buffer_; }

private:
    uint32_t offset(ChainKind kind, uint32_t copy) const;

    std::vector<uint8_t> buffer_;
};

// The CRC-32 that a descriptor's first 12 bytes must have.
uint32_t descriptor_checksum(const uint8_t* descriptor);

}  // namespace tsdb
