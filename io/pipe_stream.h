// Byte streams over the FIFOs that carry control messages. The reads and
// writes happen when the selector finds the descriptor ready, inside its
// wait; users see buffered bytes and free room only. A write of up to 4096
// bytes is all or nothing, so messages of different writers never
// interleave.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/stream.h"

namespace io {

inline constexpr size_t pipe_buffer_size = 4096;

class PipeIStream final : public IStream {
public:
    PipeIStream(int fd, std::string label) : fd_(fd), label_(std::move(label)) {}
    ~PipeIStream() override { close(); }
    PipeIStream(const PipeIStream&) = delete;
    PipeIStream& operator=(const PipeIStream&) = delete;

    std::string name() const override { return "PipeIStream(" + label_ + ")"; }
    WaitHandle wait_handle() override;
    bool isReady() override;
    bool handle_signalled() override;
    // The unread bytes; io::EEndOfStream after the end, the system error of
    // a failed read.
    Area<const uint8_t> readBegin() override;
    void readCommit(size_t n) override;
    void close();

private:
    int fd_;
    std::string label_;
    bool end_ = false;
    int error_ = 0;
    std::array<uint8_t, pipe_buffer_size> buffer_{};
    size_t begin_ = 0;
    size_t end_of_data_ = 0;
};

class PipeOStream final : public OStream {
public:
    PipeOStream(int fd, std::string label) : fd_(fd), label_(std::move(label)) {}
    ~PipeOStream() override { close(); }
    PipeOStream(const PipeOStream&) = delete;
    PipeOStream& operator=(const PipeOStream&) = delete;

    std::string name() const override { return "PipeOStream(" + label_ + ")"; }
    WaitHandle wait_handle() override;
    bool isReady() override { return error_ == 0 && end_ < buffer_.size(); }
    bool handle_signalled() override;
    Area<uint8_t> writeBegin() override;
    void writeCommit(size_t n) override;
    // Writes what it can now; the rest when the FIFO has room.
    void flush() override;
    // The errno that ended the stream (EPIPE: the reader is gone), or 0.
    int error() const { return error_; }
    bool idle() const { return begin_ == end_; }
    void close();

private:
    void write_pending();

    int fd_;
    std::string label_;
    int error_ = 0;
    std::array<uint8_t, pipe_buffer_size> buffer_{};
    size_t begin_ = 0;
    size_t end_ = 0;
};

}  // namespace io
