#include "platform/descriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

Opened create_fifo(const std::string& path) {
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0600) != 0) {
        return {-1, errno};
    }
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? Opened{fd, 0} : Opened{-1, errno};
}

Opened open_fifo_writer(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? Opened{fd, 0} : Opened{-1, errno};
}

Moved read_some(int fd, void* buffer, size_t length) {
    for (;;) {
        const ssize_t n = read(fd, buffer, length);
        if (n >= 0) {
            return {static_cast<size_t>(n), 0};
        }
        if (errno != EINTR) {
            return {0, errno == EWOULDBLOCK ? EAGAIN : errno};
        }
    }
}

Moved write_some(int fd, const void* buffer, size_t length) {
    for (;;) {
        const ssize_t n = write(fd, buffer, length);
        if (n >= 0) {
            return {static_cast<size_t>(n), 0};
        }
        if (errno != EINTR) {
            return {0, errno == EWOULDBLOCK ? EAGAIN : errno};
        }
    }
}

void close_descriptor(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

void remove_file(const std::string& path) { unlink(path.c_str()); }

std::optional<std::string> make_private_directory(const std::string& stem, int& error) {
    std::string path = stem + "XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
        error = errno;
        return std::nullopt;
    }
    error = 0;
    return path;
}

void remove_directory(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                unlink((path + "/" + name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

int publish_file(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    // Only this user may read where its pipe is.
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::FILE* f = fd < 0 ? nullptr : fdopen(fd, "w");
    if (f == nullptr) {
        const int saved = errno;
        if (fd >= 0) {
            close(fd);
        }
        return saved;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size() &&
                         std::fflush(f) == 0 && fsync(fd) == 0;
    const int saved = errno;
    if (std::fclose(f) != 0 || !written) {
        unlink(temporary.c_str());
        return written ? errno : saved;
    }
    return replace_file(temporary, path);
}

int replace_file(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    const size_t slash = to.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

std::optional<std::string> read_small_file(const std::string& path, int& error) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        error = errno;
        return std::nullopt;
    }
    std::string content;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && content.size() < 4096) {
        content.append(buffer, n);
    }
    std::fclose(f);
    error = 0;
    return content;
}

Opened create_shared_memory(uint64_t size) {
    const int fd = memfd_create("tsdb-pool", 0);
    if (fd < 0) {
        return {-1, errno};
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int saved = errno;
        close(fd);
        return {-1, saved};
    }
    return {fd, 0};
}

uint8_t* map_shared(int fd, uint64_t size, int& error) {
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return static_cast<uint8_t*>(base);
}

void unmap_shared(uint8_t* base, uint64_t size) {
    if (base != nullptr) {
        munmap(base, size);
    }
}

int poll_descriptors(std::vector<PollItem>& items, int timeout_ms) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        fds[i] = {items[i].fd,
                  static_cast<short>((items[i].want_read ? POLLIN : 0) |
                                     (items[i].want_write ? POLLOUT : 0)),
                  0};
    }
    int n;
    do {
        n = poll(fds.data(), fds.size(), timeout_ms);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return -errno;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].fired = fds[i].revents != 0;
    }
    return n;
}

}  // namespace platform
