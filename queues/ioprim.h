// The primitive stream ("fdio"): little-endian, unaligned values and byte
// runs over a zero-copy input and output stream. Values may straddle the
// areas the streams hand out; writes stay in the current area until
// flush().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "io/stream.h"

namespace protocol {

// The longest string a reader accepts; longer ones are malformed. No event
// is longer either, so a list whose elements (4 bytes at the least) would
// need more is malformed too.
inline constexpr uint64_t max_string_length = uint64_t{1} << 30;

class ioprim {
public:
    // Either side may be null for a stream used one way only.
    ioprim(io::IStream* in, io::OStream* out) : in_(in), out_(out) {}
    ioprim(const ioprim&) = delete;
    ioprim& operator=(const ioprim&) = delete;

    void write_u32(uint32_t v);
    void write_i32(int32_t v) { write_u32(static_cast<uint32_t>(v)); }
    void write_u64(uint64_t v);
    void write_i64(int64_t v) { write_u64(static_cast<uint64_t>(v)); }
    void write_f32(float v);
    void write_f64(double v);
    void write_bool(bool v) { write_u32(v ? 1 : 0); }
    void write_string(std::string_view s);
    // `n` bytes that `encode(out)` writes in the stream's form: straight into
    // the write area where it has room, else through a copy.
    template <typename Encode>
    void write_encoded(size_t n, Encode&& encode) {
        if (write_area_.size - write_used_ >= n) {
            encode(write_area_.data + write_used_);
            write_used_ += n;
            return;
        }
        std::array<uint8_t, max_encoded> bytes{};
        encode(bytes.data());
        write_run(std::span(bytes).first(n));
    }
    static constexpr size_t max_encoded = 64;
    // Commits the used part of the write area and flushes the output.
    void flush();

    uint32_t read_u32();
    // A list's element count; EMalformedEvent when its elements cannot fit
    // in any event.
    uint32_t read_count();
    int32_t read_i32() { return static_cast<int32_t>(read_u32()); }
    uint64_t read_u64();
    int64_t read_i64() { return static_cast<int64_t>(read_u64()); }
    float read_f32();
    double read_f64();
    bool read_bool() { return read_u32() != 0; }
    // protocol::EMalformedEvent when the length passes max_string_length;
    // the string grows only as its bytes arrive.
    std::string read_string();
    void read_bytes(std::span<uint8_t> into) { read_run(into); }

    // The type and dest of the last event read here, for failure texts.
    uint32_t previous_type = 0;
    int32_t previous_dest = 0;

private:
    void write_primitive(std::span<const uint8_t> bytes);
    void write_run(std::span<const uint8_t> bytes);
    void next_write_area();
    void read_run(std::span<uint8_t> into);
    void next_read_area();

    io::IStream* in_;
    io::OStream* out_;
    io::Area<uint8_t> write_area_;
    size_t write_used_ = 0;
    io::Area<const uint8_t> read_area_;
    size_t read_used_ = 0;
};

}  // namespace protocol
