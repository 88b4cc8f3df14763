// File descriptors for the transport: FIFOs, shared memory, polling and the
// small publication files peers find each other by. Calls return the errno
// of a failure instead of raising, so the layer above chooses the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Opened {
    int fd = -1;
    int error = 0;
};

struct Moved {
    size_t bytes = 0;
    int error = 0;  // EAGAIN when nothing could move now
};

// A FIFO at `path` (mode 0600, a stale one removed first), opened for
// reading and writing without blocking, so it never reports an end.
Opened create_fifo(const std::string& path);
// The writing end of a peer's FIFO, without blocking.
Opened open_fifo_writer(const std::string& path);
Moved read_some(int fd, void* buffer, size_t length);
Moved write_some(int fd, const void* buffer, size_t length);
void close_descriptor(int fd);
// Removes a file; a missing one is no failure.
void remove_file(const std::string& path);
// A new directory that only this user may enter, named `stem` and six
// characters; nothing and the errno on failure.
std::optional<std::string> make_private_directory(const std::string& stem, int& error);
// Removes the directory with the files in it (not below).
void remove_directory(const std::string& path);

// Renames `from` over `to` and makes the rename durable (the directory is
// synced); 0 or the errno.
int replace_file(const std::string& from, const std::string& to);
// Writes and syncs a temporary file and renames it into place, durably; the
// errno on failure.
int publish_file(const std::string& path, const std::string& content);
// A small file's content, or nothing with the errno in `error`.
std::optional<std::string> read_small_file(const std::string& path, int& error);

// Shared memory of `size` bytes that a child process inherits.
Opened create_shared_memory(uint64_t size);
// Maps the descriptor's first `size` bytes shared, readable and writable.
uint8_t* map_shared(int fd, uint64_t size, int& error);
void unmap_shared(uint8_t* base, uint64_t size);

struct PollItem {
    int fd;
    bool want_read;
    bool want_write;
    bool fired = false;
};
// Waits until one descriptor is ready or `timeout_ms` passes (-1: no limit);
// the number fired, or -errno.
int poll_descriptors(std::vector<PollItem>& items, int timeout_ms);

}  // namespace platform
