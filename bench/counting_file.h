// Files stacked over the real one for the benchmarks: one that forwards
// every call, one that counts the writes and flushes made to the file
// beneath it, and one whose syncs return at once (to show what they cost).
#pragma once

#include <memory>

#include "platform/random_access_file.h"

namespace bench_support {

struct ForwardingFile : platform::RandomAccessFile {
    explicit ForwardingFile(std::unique_ptr<platform::RandomAccessFile> inner)
        : inner(std::move(inner)) {}
    platform::Transfer read_at(uint64_t offset, std::span<uint8_t> into) override {
        return inner->read_at(offset, into);
    }
    platform::Transfer write_at(uint64_t offset, std::span<const uint8_t> bytes) override {
        return inner->write_at(offset, bytes);
    }
    int sync() override { return inner->sync(); }
    Space free_space() override { return inner->free_space(); }

    std::unique_ptr<platform::RandomAccessFile> inner;
};

struct CountingFile final : ForwardingFile {
    using ForwardingFile::ForwardingFile;
    platform::Transfer write_at(uint64_t offset, std::span<const uint8_t> written) override {
        ++writes;
        bytes += written.size();
        return ForwardingFile::write_at(offset, written);
    }
    int sync() override {
        ++syncs;
        return ForwardingFile::sync();
    }

    int64_t writes = 0;
    int64_t syncs = 0;
    uint64_t bytes = 0;
};

struct UnsyncedFile final : ForwardingFile {
    using ForwardingFile::ForwardingFile;
    int sync() override { return 0; }
};

}  // namespace bench_support
