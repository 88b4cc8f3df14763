// A simulated disk for storage tests: files in memory that can fail a chosen
// write or flush with an errno, or "crash" at a chosen write. A crash keeps
// what was flushed before it, any chosen part of the writes made since the
// last flush (block by block, as a disk's cache may have written them back),
// and none, a torn prefix or all of the crashing write.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/random_access_file.h"

namespace testing_support {

// Thrown by the simulated file when the planned crash happens.
struct Crash {};

struct FaultPlan {
    static constexpr uint32_t whole_write = 0xFFFFFFFF;

    int64_t crash_at_write = -1;  // 0-based write index, -1 for never
    uint32_t torn_sectors = 0;    // 512-byte sectors of the crashing write that land
    // Chooses which 1 KiB pieces of the unflushed earlier writes land at the
    // crash: 0 none, otherwise a seed for a random choice.
    uint32_t unflushed_seed = 0;
    int64_t fail_write = -1;
    int write_errno = 0;
    int64_t fail_sync = -1;
    int sync_errno = 0;
    uint64_t free_bytes = 1ull << 40;
};

class SimDisk {
public:
    explicit SimDisk(std::vector<uint8_t> image = {})
        : current_(image), durable_(std::move(image)) {}

    // A file over this disk; several may be open in turn.
    std::unique_ptr<platform::RandomAccessFile> open(FaultPlan plan = {});

    // What a crash right now would leave at least.
    const std::vector<uint8_t>& durable() const { return durable_; }
    const std::vector<uint8_t>& current() const { return current_; }
    int64_t writes() const { return writes_; }
    int64_t bytes_written() const { return bytes_written_; }
    int64_t syncs() const { return syncs_; }

private:
    friend class SimFile;
    struct Write {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> current_;
    std::vector<uint8_t> durable_;
    std::vector<Write> unflushed_;
    int64_t writes_ = 0;
    int64_t bytes_written_ = 0;
    int64_t syncs_ = 0;
};

}  // namespace testing_support
