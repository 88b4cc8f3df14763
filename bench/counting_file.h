// A file that counts the writes and flushes made to the file beneath it.
#pragma once

#include <memory>

#include "platform/random_access_file.h"

namespace bench_support {

struct CountingFile final : platform::RandomAccessFile {
    explicit CountingFile(std::unique_ptr<platform::RandomAccessFile> inner)
        : inner(std::move(inner)) {}
    platform::Transfer read_at(uint64_t offset, void* buffer, size_t n) override {
        return inner->read_at(offset, buffer, n);
    }
    platform::Transfer write_at(uint64_t offset, const void* buffer, size_t n) override {
        ++writes;
        bytes += n;
        return inner->write_at(offset, buffer, n);
    }
    int sync() override {
        ++syncs;
        return inner->sync();
    }
    Space free_space() override { return inner->free_space(); }

    std::unique_ptr<platform::RandomAccessFile> inner;
    int64_t writes = 0;
    int64_t syncs = 0;
    uint64_t bytes = 0;
};

}  // namespace bench_support
