#include "tests/support/sim_disk.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace testing_support {

namespace {

constexpr size_t landing_unit = 1024;

void apply(std::vector<uint8_t>& bytes, uint64_t offset, std::span<const uint8_t> data) {
    if (bytes.size() < offset + data.size()) {
        bytes.resize(offset + data.size(), 0);
    }
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

}  // namespace

class SimFile final : public platform::RandomAccessFile {
public:
    SimFile(SimDisk& disk, FaultPlan plan) : disk_(disk), plan_(plan) {}

    platform::Transfer read_at(uint64_t offset, std::span<uint8_t> into) override {
        const auto& bytes = disk_.current_;
        if (offset >= bytes.size()) {
            return {};
        }
        const size_t n = std::min<uint64_t>(into.size(), bytes.size() - offset);
        std::memcpy(into.data(), bytes.data() + offset, n);
        return {n, 0};
    }

    platform::Transfer write_at(uint64_t offset, std::span<const uint8_t> buffer) override {
        const int64_t index = disk_.writes_++;
        if (index == plan_.fail_write) {
            return {0, plan_.write_errno};
        }
        if (index == plan_.crash_at_write) {
            crash(offset, buffer);
        }
        apply(disk_.current_, offset, buffer);
        disk_.unflushed_.push_back({offset, {buffer.begin(), buffer.end()}});
        disk_.bytes_written_ += static_cast<int64_t>(buffer.size());
        return {buffer.size(), 0};
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
    [[noreturn]] void crash(uint64_t offset, std::span<const uint8_t> buffer) {
        if (plan_.unflushed_seed != 0) {
            std::mt19937 random(plan_.unflushed_seed);
            for (const SimDisk::Write& w : disk_.unflushed_) {
                for (size_t at = 0; at < w.bytes.size(); at += landing_unit) {
                    if (random() % 2 == 0) {
                        apply(disk_.durable_, w.offset + at,
                              std::span(w.bytes).subspan(
                                  at, std::min(landing_unit, w.bytes.size() - at)));
                    }
                }
            }
        }
        const size_t landed =
            plan_.torn_sectors == FaultPlan::whole_write
                ? buffer.size()
                : std::min<size_t>(buffer.size(), size_t{plan_.torn_sectors} * 512);
        apply(disk_.durable_, offset, buffer.first(landed));
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
