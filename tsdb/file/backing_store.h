// The database file as an array of fixed-size blocks numbered from 0. Every
// other storage module reaches the file through these operations.
//
// Inherited names: btb is block to buffer (whole blocks), botb and btbo are
// block-and-offset to buffer and back (byte ranges), cgs is the volume's
// free space. A block of the file is also called a dblock.
//
// The block count is one less than the number of whole blocks in the file:
// the file's last block lies outside the database, before and after growth. All failures throw
// tsdb::error_io or a class below it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/random_access_file.h"

namespace tsdb {

class BackingStore {
public:
    // Opens an existing database file at `path` (exclusively, unless read-only).
    // A path without a directory part is refused.
    static BackingStore open_backing_store(const std::string& path,
                                           platform::Access access = platform::Access::read_write);
    // Uses an already open file; `path` only names it in messages.
    BackingStore(std::unique_ptr<platform::RandomAccessFile> file, std::string path);

    // The directory part of a path, with its trailing separator.
    static std::string store_directory(const std::string& path);

    // Sets the block size and determines the block count by probing.
    void set_block_size(uint32_t block_size);
    uint32_t block_size() const { return block_size_; }
    uint32_t block_count() const { return block_count_; }

    // True when the first byte of `block` can be read.
    bool probe_block(uint32_t block);

    // Whole blocks from `first_block` on, as many as the bytes hold (a
    // multiple of the block size).
    void btb_ReadFile(std::span<uint8_t> into, uint32_t first_block);
    void btb_WriteFile(uint32_t first_block, std::span<const uint8_t> blocks);
    // Byte ranges at `offset` from the start of `block`; the range may cross
    // any number of blocks. A read returns fewer bytes at the end of the file.
    uint32_t botb_ReadFile(std::span<uint8_t> into, uint32_t block, uint32_t offset);
    void btbo_WriteFile(uint32_t block, uint32_t offset, std::span<const uint8_t> bytes);

    // Free space of the file's volume, in blocks.
    uint32_t cgs_space();
    // Adds n zero-filled blocks to the database; the file keeps its last
    // block outside it. A growth that fails part-way keeps the blocks added.
    void grow_backing_store(uint32_t n);
    void sync_writes();

    const std::string& path() const { return path_; }

private:
    uint64_t position(uint32_t block, uint32_t offset) const {
        return uint64_t{block} * block_size_ + offset;
    }

    std::unique_ptr<platform::RandomAccessFile> file_;
    std::string path_;
    std::string directory_;
    uint32_t block_size_ = 1024;
    uint32_t block_count_ = 0;
};

}  // namespace tsdb
