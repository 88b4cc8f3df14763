#include "io/pipe_stream.h"

#include <cerrno>

#include "error/assert.h"
#include "io/error.h"
#include "platform/descriptor.h"
#include "util/system_error.h"

namespace io {

WaitHandle PipeIStream::wait_handle() {
    return fd_ >= 0 && !end_ && error_ == 0 && begin_ == end_of_data_ ? WaitHandle{fd_, true, false}
                                                                      : WaitHandle{};
}

bool PipeIStream::isReady() { return begin_ < end_of_data_ || end_ || error_ != 0; }

bool PipeIStream::handle_signalled() {
    if (begin_ < end_of_data_ || fd_ < 0) {
        return false;
    }
    const platform::Moved got = platform::read_some(fd_, buffer_.data(), buffer_.size());
    if (got.error == EAGAIN) {
        return true;
    }
    if (got.error != 0) {
        error_ = got.error;
    } else if (got.bytes == 0) {
        end_ = true;
    }
    end_of_data_ = got.bytes;
    return false;
}

Area<const uint8_t> PipeIStream::readBegin() {
    if (begin_ == end_of_data_) {
        if (end_) {
            throw EEndOfStream("EOS from " + name());
        }
        if (error_ != 0) {
            util::raise_system_error("Error in PipeIStream(" + label_ + ")", error_);
        }
    }
    return {buffer_.data() + begin_, end_of_data_ - begin_};
}

void PipeIStream::readCommit(size_t n) {
    if (begin_ + n > end_of_data_) {
        error::assertion_failed("Overcommit in PipeIStream " + std::to_string(n) + " > " +
                                std::to_string(end_of_data_ - begin_));
    }
    begin_ += n;
    if (begin_ == end_of_data_) {
        begin_ = end_of_data_ = 0;
    }
}

void PipeIStream::close() {
    platform::close_descriptor(fd_);
    fd_ = -1;
}

WaitHandle PipeOStream::wait_handle() {
    return fd_ >= 0 && error_ == 0 && begin_ < end_ ? WaitHandle{fd_, false, true} : WaitHandle{};
}

bool PipeOStream::handle_signalled() {
    write_pending();
    return !isReady();
}

Area<uint8_t> PipeOStream::writeBegin() { return {buffer_.data() + end_, buffer_.size() - end_}; }

void PipeOStream::writeCommit(size_t n) {
    if (end_ + n > buffer_.size()) {
        error::assertion_failed("Overcommit in PipeOStream " + std::to_string(n) + " is " +
                                std::to_string(buffer_.size() - end_));
    }
    end_ += n;
}

void PipeOStream::flush() { write_pending(); }

void PipeOStream::write_pending() {
    if (fd_ < 0 || error_ != 0 || begin_ == end_) {
        return;
    }
    const platform::Moved put = platform::write_some(fd_, buffer_.data() + begin_, end_ - begin_);
    if (put.error == EAGAIN) {
        return;
    }
    if (put.error != 0) {
        error_ = put.error;
        return;
    }
    error::require(put.bytes <= end_ - begin_, "PipeOStream excessive write");
    begin_ += put.bytes;
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
}

void PipeOStream::close() {
    platform::close_descriptor(fd_);
    fd_ = -1;
}

}  // namespace io
