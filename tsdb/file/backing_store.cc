#include "tsdb/file/backing_store.h"

#include <vector>

#include "error/assert.h"
#include "tsdb/error.h"
#include "util/format.h"
#include "util/system_error.h"

namespace tsdb {

namespace {

std::string transfer_failure(const char* what, uint64_t requested, uint32_t block, size_t done,
                             int error) {
    return std::string("Cannot ") + what + " " + std::to_string(requested) + " bytes at block " +
           std::to_string(block) + " offset " + std::to_string(done) + ": " +
           util::quote(util::system_error_text(error));
}

}  // namespace

std::string BackingStore::store_directory(const std::string& path) {
    const bool has_slash = path.find('/') != std::string::npos;
    const bool has_backslash = path.find('\\') != std::string::npos;
    const char separator = has_slash && !has_backslash ? '/' : '\\';
    if (path.empty()) {
        return "";
    }
    if (path.back() == ':') {
        return path + separator;
    }
    if (path.back() == separator) {
        return path;
    }
    const size_t last = path.find_last_of(separator);
    return last == std::string::npos ? "" : path.substr(0, last + 1);
}

BackingStore BackingStore::open_backing_store(const std::string& path, platform::Access access) {
    if (store_directory(path).empty()) {
        throw error_io("Cannot give empty name to TSDB backing store");
    }
    platform::OpenedFile opened = platform::open_random_access_file(path, access);
    if (!opened.file) {
        throw error_open("Unable to open " + util::quote(path) + ": " +
                         util::system_error_text(opened.error));
    }
    return BackingStore(std::move(opened.file), path);
}

BackingStore::BackingStore(std::unique_ptr<platform::RandomAccessFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)), directory_(store_directory(path_)) {}

bool BackingStore::probe_block(uint32_t block) {
    uint8_t byte = 0;
    return file_->read_at(position(block, 0), {&byte, 1}).done == 1;
}

void BackingStore::set_block_size(uint32_t block_size) {
    block_size_ = block_size;
    uint32_t low = 0;
    uint32_t high = 1024;
    if (probe_block(1024)) {
        low = 1024;
        high = 2048;
        while (high != 0 && probe_block(high)) {
            low = high;
            high *= 2;
        }
        if (high == 0) {
            high = 0xFFFFFFFF;
        }
    }
    while (low < high - 1) {
        const uint32_t middle = static_cast<uint32_t>((uint64_t{low} + high) / 2);
        (probe_block(middle) ? low : high) = middle;
    }
    block_count_ = low;
}

void BackingStore::btb_ReadFile(std::span<uint8_t> into, uint32_t first_block) {
    error::require(into.size() % block_size_ == 0, "btb_ReadFile of a part of a block");
    const uint64_t requested = into.size();
    const platform::Transfer t = file_->read_at(position(first_block, 0), into);
    if (t.done != requested) {
        throw error_read(transfer_failure("seq. read", requested, first_block, t.done,
                                          t.error != 0 ? t.error : EIO));
    }
}

void BackingStore::btb_WriteFile(uint32_t first_block, std::span<const uint8_t> blocks) {
    error::require(blocks.size() % block_size_ == 0, "btb_WriteFile of a part of a block");
    const uint64_t requested = blocks.size();
    const platform::Transfer t = file_->write_at(position(first_block, 0), blocks);
    if (t.error != 0) {
        throw error_read(transfer_failure("seq. write", requested, first_block, t.done, t.error));
    }
}

uint32_t BackingStore::botb_ReadFile(std::span<uint8_t> into, uint32_t block, uint32_t offset) {
    const platform::Transfer t = file_->read_at(position(block, offset), into);
    if (t.error != 0) {
        throw error_read(transfer_failure("ofs. seq. read", into.size(), block, t.done, t.error));
    }
    return static_cast<uint32_t>(t.done);
}

void BackingStore::btbo_WriteFile(uint32_t block, uint32_t offset, std::span<const uint8_t> bytes) {
    const platform::Transfer t = file_->write_at(position(block, offset), bytes);
    if (t.error != 0) {
        throw error_read(transfer_failure("ofs. seq. write", bytes.size(), block, t.done, t.error));
    }
}

uint32_t BackingStore::cgs_space() {
    const auto space = file_->free_space();
    if (space.error != 0) {
        throw error_io("Unable to get free space information from " + util::quote(directory_) +
                       ": " + util::system_error_text(space.error));
    }
    const uint64_t blocks = space.bytes / block_size_;
    if (blocks > 0xFFFFFFFF) {
        throw error_toobig("TSDB backing store is more than 2^32 blocks");
    }
    return static_cast<uint32_t>(blocks);
}

void BackingStore::grow_backing_store(uint32_t n) {
    const std::vector<uint8_t> zeros(block_size_, 0);
    // Each new block is counted only once the block after it exists, so the
    // file keeps a last block outside the database and reopens to the same
    // block count.
    btb_WriteFile(block_count_, zeros);
    for (uint32_t i = 0; i < n; ++i) {
        btb_WriteFile(block_count_ + 1, zeros);
        ++block_count_;
    }
}

void BackingStore::sync_writes() {
    const int error = file_->sync();
    if (error != 0) {
        throw error_io("flush failed with error: " + util::quote(util::system_error_text(error)));
    }
}

}  // namespace tsdb
