#include "queues/ioprim.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "error/assert.h"
#include "queues/error.h"
#include "util/bytes.h"

namespace protocol {

void ioprim::next_write_area() {
    error::require(out_ != nullptr, "ioprim written without an output stream");
    if (write_used_ > 0) {
        out_->writeCommit(write_used_);
    }
    write_used_ = 0;
    write_area_ = out_->writeBegin();
}

void ioprim::write_primitive(std::span<const uint8_t> bytes) {
    const size_t n = bytes.size();
    while (write_area_.size - write_used_ < n) {
        next_write_area();
        if (write_area_.size == 0) {
            io::waitReady(*out_);
        } else if (write_area_.size < n) {
            error::assertion_failed("New write area of size " + std::to_string(write_area_.size) +
                                    " too small for primitive write");
        }
    }
    std::memcpy(write_area_.data + write_used_, bytes.data(), n);
    write_used_ += n;
}

void ioprim::write_run(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        if (write_used_ == write_area_.size) {
            next_write_area();
            if (write_area_.size == 0) {
                io::waitReady(*out_);
                continue;
            }
        }
        const size_t piece = std::min(bytes.size(), write_area_.size - write_used_);
        std::memcpy(write_area_.data + write_used_, bytes.data(), piece);
        write_used_ += piece;
        bytes = bytes.subspan(piece);
    }
}

void ioprim::write_u32(uint32_t v) {
    std::array<uint8_t, 4> b{};
    util::store_le32(b.data(), v);
    write_primitive(b);
}

void ioprim::write_u64(uint64_t v) {
    std::array<uint8_t, 8> b{};
    util::store_le64(b.data(), v);
    write_primitive(b);
}

void ioprim::write_f32(float v) { write_u32(std::bit_cast<uint32_t>(v)); }
void ioprim::write_f64(double v) { write_u64(std::bit_cast<uint64_t>(v)); }

void ioprim::write_string(std::string_view s) {
    write_u64(s.size());
    write_run(util::byte_span(s));
}

void ioprim::flush() {
    error::require(out_ != nullptr, "ioprim flushed without an output stream");
    if (write_used_ > 0) {
        out_->writeCommit(write_used_);
    }
    write_area_ = {};
    write_used_ = 0;
    out_->flush();
}

void ioprim::next_read_area() {
    error::require(in_ != nullptr, "ioprim read without an input stream");
    for (;;) {
        read_area_ = in_->readBegin();
        read_used_ = 0;
        if (read_area_.size > 0) {
            return;
        }
        io::waitReady(*in_);
    }
}

void ioprim::read_run(std::span<uint8_t> into) {
    while (!into.empty()) {
        if (read_used_ == read_area_.size) {
            next_read_area();
        }
        const size_t piece = std::min(into.size(), read_area_.size - read_used_);
        std::memcpy(into.data(), read_area_.data + read_used_, piece);
        read_used_ += piece;
        into = into.subspan(piece);
        // A consumed area goes back to the stream at once.
        if (read_used_ == read_area_.size) {
            in_->readCommit(read_used_);
            read_area_ = {};
            read_used_ = 0;
        }
    }
}

uint32_t ioprim::read_u32() {
    std::array<uint8_t, 4> b{};
    read_run(b);
    return util::load_le32(b.data());
}

uint64_t ioprim::read_u64() {
    std::array<uint8_t, 8> b{};
    read_run(b);
    return util::load_le64(b.data());
}

uint32_t ioprim::read_count() {
    const uint32_t count = read_u32();
    if (uint64_t{count} * 4 > max_string_length) {
        throw EMalformedEvent("fdio >> list: " + std::to_string(count) +
                              " elements cannot fit in an event of at most " +
                              std::to_string(max_string_length) + " bytes");
    }
    return count;
}

float ioprim::read_f32() { return std::bit_cast<float>(read_u32()); }
double ioprim::read_f64() { return std::bit_cast<double>(read_u64()); }

std::string ioprim::read_string() {
    const uint64_t length = read_u64();
    if (length > max_string_length) {
        throw EMalformedEvent("fdio >> string: length " + std::to_string(length) +
                              " beyond the limit of " + std::to_string(max_string_length));
    }
    std::string s;
    constexpr size_t chunk = size_t{64} * 1024;
    // Room for what has arrived already: the string grows with the data.
    s.reserve(std::min<uint64_t>(length, read_area_.size - read_used_ + chunk));
    while (s.size() < length) {
        const size_t at = s.size();
        s.resize(at + std::min<uint64_t>(chunk, length - at));
        read_run(util::byte_span(s).subspan(at));
    }
    return s;
}

}  // namespace protocol
