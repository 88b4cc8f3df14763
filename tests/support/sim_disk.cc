#include "tests/support/sim_disk.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace testing_support {

namespace {

constexpr size_t landing_unit = 1024;

void apply(std::vector<uint8_t>& bytes, uint64_t offset, const void* data, size_t n) {
    if (bytes.size() < offset + n) {
        bytes.resize(offset + n, 0);
    }
    std::memcpy(bytes.data() + offset, data, n);
}

}  // namespace

class SimFile final : public platform::RandomAccessFile {
public:
    SimFile(SimDisk& disk, FaultPlan plan) : disk_(disk), plan_(plan) {}

    platform::Transfer read_at(uint64_t offset, void* buffer, size_t length) override {
        const auto& bytes = disk_.current_;
        if (offset >= bytes.size()) {
            return {};
        }
        const size_t n = std::min<uint64_t>(length, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, n);
        return {n, 0};
    }

    platform::Transfer write_at(uint64_t offset, const void* buffer, size_t length) override {
        const int64_t index = disk_.writes_++;
        if (index == plan_.fail_write) {
            return {0, plan_.write_errno};
        }
        if (index == plan_.crash_at_write) {
            crash(offset, buffer, length);
        }
        apply(disk_.current_, offset, buffer, length);
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        disk_.unflushed_.push_back({offset, {bytes, bytes + length}});
        disk_.bytes_written_ += static_cast<int64_t>(length);
        return {length, 0};
    }

    int sync() override {
        if (disk_.syncs_++ == plan_.fail_sync) {
            return plan_.sync_errno;
        }
        disk_.durable_ = disk_.current_;
        disk_.unflushed_.clear();
        return 0;
    }

    Space free_space() override { return {plan_.free_bytes, 0}; }

private:
    [[noreturn]] void crash(uint64_t offset, const void* buffer, size_t length) {
        if (plan_.unflushed_seed != 0) {
            std::mt19937 random(plan_.unflushed_seed);
            for (const SimDisk::Write& w : disk_.unflushed_) {
                for (size_t at = 0; at < w.bytes.size(); at += landing_unit) {
                    if (random() % 2 == 0) {
                        apply(disk_.durable_, w.offset + at, w.bytes.data() + at,
                              std::min(landing_unit, w.bytes.size() - at));
                    }
                }
            }
        }
        const size_t landed = plan_.torn_sectors == FaultPlan::whole_write
                                  ? length
                                  : std::min<size_t>(length, size_t{plan_.torn_sectors} * 512);
        apply(disk_.durable_, offset, buffer, landed);
        disk_.current_ = disk_.durable_;
        disk_.unflushed_.clear();
        throw Crash{};
    }

    SimDisk& disk_;
    FaultPlan plan_;
};

std::unique_ptr<platform::RandomAccessFile> SimDisk::open(FaultPlan plan) {
    return std::make_unique<SimFile>(*this, plan);
}

}  // namespace testing_support
