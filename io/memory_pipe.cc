#include "io/memory_pipe.h"

#include <algorithm>
#include <utility>

#include "error/assert.h"
#include "io/error.h"

namespace io {

MemoryPipe::MemoryPipe(size_t area_size, std::string name)
    : area_size_(area_size), name_(std::move(name)) {
    error::require(area_size_ > 0, "MemoryPipe with areas of 0 bytes");
}

void MemoryPipe::feed(const std::vector<uint8_t>& bytes) {
    flushed_.insert(flushed_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> MemoryPipe::take() {
    std::vector<uint8_t> bytes(flushed_.begin() + static_cast<std::ptrdiff_t>(read_),
                               flushed_.end());
    flushed_.clear();
    read_ = 0;
    return bytes;
}

void MemoryPipe::compact() {
    if (read_ > 0 && read_ == flushed_.size()) {
        flushed_.clear();
        read_ = 0;
    }
}

Area<const uint8_t> MemoryPipe::Input::readBegin() {
    if (pipe_.pending() == 0) {
        if (pipe_.closed_) {
            throw EEndOfStream("EOS from " + pipe_.name_);
        }
        return {};
    }
    return {pipe_.flushed_.data() + pipe_.read_, std::min(pipe_.pending(), pipe_.area_size_)};
}

void MemoryPipe::Input::readCommit(size_t n) {
    error::require(n <= pipe_.pending(), "MemoryPipe read commit beyond the area");
    pipe_.read_ += n;
    pipe_.compact();
}

Area<uint8_t> MemoryPipe::Output::writeBegin() {
    area_.resize(pipe_.area_size_);
    return {area_.data(), area_.size()};
}

void MemoryPipe::Output::writeCommit(size_t n) {
    error::require(n <= area_.size(), "MemoryPipe write commit beyond the area");
    committed_.insert(committed_.end(), area_.begin(),
                      area_.begin() + static_cast<std::ptrdiff_t>(n));
}

void MemoryPipe::Output::flush() {
    pipe_.feed(committed_);
    committed_.clear();
}

}  // namespace io
