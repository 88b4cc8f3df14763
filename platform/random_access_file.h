// A file read and written at byte positions. The storage engine sees its
// database file only through this interface, so tests can stack a file that
// injects faults over the real one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Outcome of a transfer: the bytes moved, and the errno that stopped it
// early (0 when it completed or a read met the end of the file).
struct Transfer {
    size_t done = 0;
    int error = 0;
};

class RandomAccessFile {
public:
    virtual ~RandomAccessFile() = default;
    // Fills `into`, short only at the end of the file or on error.
    virtual Transfer read_at(uint64_t offset, std::span<uint8_t> into) = 0;
    // Writes all of `bytes` unless an error stops it.
    virtual Transfer write_at(uint64_t offset, std::span<const uint8_t> bytes) = 0;
    // Makes every completed write durable; returns 0 or an errno.
    virtual int sync() = 0;
    // Bytes free for this user on the volume holding the file, or an errno.
    struct Space {
        uint64_t bytes = 0;
        int error = 0;
    };
    virtual Space free_space() = 0;
};

enum class Access { read_write, read_only };

struct OpenedFile {
    std::unique_ptr<RandomAccessFile> file;  // null on failure
    int error = 0;
};

// Opens an existing file. Read-write access is exclusive: a second
// read-write opener, in this process or another, gets EBUSY. Read-only
// access takes no lock and is never refused for a holder: what a reader
// reads may change under it, and it must check that itself.
OpenedFile open_random_access_file(const std::string& path, Access access);

// Creates a file of `size` zero bytes and holds it as a read-write opener
// does. EEXIST when it exists and `replace` is false; EBUSY, with the file
// untouched, when another opener holds it.
OpenedFile create_random_access_file(const std::string& path, uint64_t size, bool replace);

}  // namespace platform
