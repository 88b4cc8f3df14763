#include "platform/random_access_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

class DiskFile final : public RandomAccessFile {
public:
    explicit DiskFile(int fd) : fd_(fd) {}
    ~DiskFile() override { close(fd_); }
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    Transfer read_at(uint64_t offset, std::span<uint8_t> into) override {
        // A read that returns nothing has met the end of the file.
        return transfer(into.size(), 0, [&](size_t done) {
            return pread(fd_, into.data() + done, into.size() - done,
                         static_cast<off_t>(offset + done));
        });
    }

    Transfer write_at(uint64_t offset, std::span<const uint8_t> bytes) override {
        return transfer(bytes.size(), EIO, [&](size_t done) {
            return pwrite(fd_, bytes.data() + done, bytes.size() - done,
                          static_cast<off_t>(offset + done));
        });
    }

    int sync() override { return fdatasync(fd_) == 0 ? 0 : errno; }

    Space free_space() override {
        struct statvfs volume {};
        if (fstatvfs(fd_, &volume) != 0) {
            return {0, errno};
        }
        return {uint64_t{volume.f_bavail} * volume.f_frsize, 0};
    }

private:
    // Repeats `call` over short transfers and interruptions; a call that moves
    // no bytes ends the transfer with `no_progress_error`.
    template <typename Call>
    static Transfer transfer(size_t length, int no_progress_error, Call&& call) {
        Transfer t;
        while (t.done < length) {
            const ssize_t n = call(t.done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                t.error = n < 0 ? errno : no_progress_error;
                break;
            }
            t.done += static_cast<size_t>(n);
        }
        return t;
    }

    int fd_;
};

}  // namespace

namespace {

// Takes the lock that keeps other writers out. Readers take none: a reader
// must never keep a writer from starting.
int lock_file(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? EBUSY : errno;
    }
    return 0;
}

OpenedFile opened_or_closed(int fd, int error) {
    if (error != 0) {
        close(fd);
        return {nullptr, error};
    }
    return {std::make_unique<DiskFile>(fd), 0};
}

}  // namespace

OpenedFile open_random_access_file(const std::string& path, Access access) {
    const int flags = access == Access::read_write ? O_RDWR : O_RDONLY;
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return {nullptr, errno};
    }
    return opened_or_closed(fd, access == Access::read_write ? lock_file(fd) : 0);
}

OpenedFile create_random_access_file(const std::string& path, uint64_t size, bool replace) {
    // No O_TRUNC: a file that another opener holds must not be touched. A
    // database is its user's own data: others may not read it.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (replace ? 0 : O_EXCL), 0600);
    if (fd < 0) {
        return {nullptr, errno};
    }
    int error = lock_file(fd);
    if (error == 0 &&
        (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || fsync(fd) != 0)) {
        error = errno;
    }
    return opened_or_closed(fd, error);
}

}  // namespace platform
