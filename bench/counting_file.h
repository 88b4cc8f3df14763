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
    platform::Transfer read_at(uint64_t offset, void* buffer, size_t n) override {
        return inner->read_at(offset, buffer, n);
    }
    platform::Transfer write_at(uint64_t offset, const void* buffer, size_t n) override {
        return inner->write_at(offset, buffer, n);
    }
    int sync() override { return inner->sync(); }
    Space free_space() override { return inner->free_space(); }

    std::unique_ptr<platform::RandomAccessFile> inner;
};

struct CountingFile final : ForwardingFile {
    using ForwardingFile::ForwardingFile;
    platform::Transfer write_at(uint64_t offset, const void* buffer, size_t n) override {
        ++writes;
        bytes += n;
        return ForwardingFile::write_at(offset, buffer, n);
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
