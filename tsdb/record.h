// The records of the four data types: their in-memory form, their big-endian
// encoding inside levels, the validity rule every writer applies, the repair
// every reader applies, the merge that folds one record into an accumulated
// entry, and the text form used in messages.
//
// Types 1 (continuous) and 3 (monotonic continuous) share one record; they
// differ only in aggregation.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "util/bytes.h"

namespace tsdb {

inline constexpr uint32_t no_duration = 0xFFFFFFFF;  // marks an empty entry
inline constexpr uint32_t max_incident_text = 0xA00000;

struct continuous_record_t {
    uint32_t timestart = 0;
    uint32_t duration = no_duration;
    uint32_t ngood = 0;
    uint32_t nbad = 0;
    float min = 0;
    float max = 0;
    float avg = 0;
    static constexpr size_t size = 28;
    bool operator==(const continuous_record_t&) const = default;
};

struct enum_record_t {
    uint32_t timestart = 0;
    uint32_t duration = no_duration;
    uint32_t ngood = 0;
    uint32_t nbad = 0;
    uint32_t mask = 0;
    static constexpr size_t size = 20;
    bool operator==(const enum_record_t&) const = default;
};

struct incident_record_t {
    uint32_t timestart = 0;
    uint32_t duration = no_duration;
    uint32_t severity = 0;
    std::string text;
    static constexpr size_t header_size = 16;
    bool operator==(const incident_record_t&) const = default;
};

inline bool is_empty(uint32_t duration) { return duration == no_duration; }

// A span that is set and does not pass the largest time.
inline bool valid_span(uint32_t timestart, uint32_t duration) {
    return !is_empty(duration) && uint64_t{timestart} + duration <= 0xFFFFFFFF;
}

// Continuous values must be finite and ordered min <= avg <= max when there
// are good samples; enum records need only a valid span, incidents also a
// text within the length limit.
inline bool is_valid(const continuous_record_t& r) {
    if (!valid_span(r.timestart, r.duration)) {
        return false;
    }
    if (r.ngood == 0) {
        return true;
    }
    return std::isfinite(r.min) && std::isfinite(r.avg) && std::isfinite(r.max) && r.min <= r.avg &&
           r.avg <= r.max;
}
inline bool is_valid(const enum_record_t& r) { return valid_span(r.timestart, r.duration); }
bool is_valid(const incident_record_t& r);

// Bytes of the encoded record; for incidents the text is padded to 4 bytes.
size_t encoded_size(const continuous_record_t&);
size_t encoded_size(const enum_record_t&);
size_t encoded_size(const incident_record_t& r);

// Writes encoded_size(r) bytes at the start of `out`, which must hold them;
// throws tsdb::error_range for an invalid record.
void encode(const continuous_record_t& r, std::span<uint8_t> out);
void encode(const enum_record_t& r, std::span<uint8_t> out);
void encode(const incident_record_t& r, std::span<uint8_t> out);

// A stored continuous record that breaks the value rule comes back as bad
// samples only, its span kept as read. Inline: readers decode whole levels.
inline continuous_record_t decode_continuous(const uint8_t* in) {
    const auto load_float = [](const uint8_t* at) {
        return std::bit_cast<float>(util::load_be32(at));
    };
    continuous_record_t r{util::load_be32(in),     util::load_be32(in + 4),
                          util::load_be32(in + 8), util::load_be32(in + 12),
                          load_float(in + 16),     load_float(in + 20),
                          load_float(in + 24)};
    if (!is_valid(r)) {
        r.nbad += r.ngood;
        r.ngood = 0;
        r.min = r.max = r.avg = 0;
    }
    return r;
}
inline enum_record_t decode_enum(const uint8_t* in) {
    return {util::load_be32(in), util::load_be32(in + 4), util::load_be32(in + 8),
            util::load_be32(in + 12), util::load_be32(in + 16)};
}
// The 16-byte head of an incident, with the text still to be read; returns
// the text's length. tsdb::error_need_repair for an impossible length.
uint32_t decode_incident_head(const uint8_t* in, incident_record_t& r);
// Bytes that follow the head: the text and its padding.
uint32_t padded_text_size(uint32_t text_length);

void merge(continuous_record_t& into, const continuous_record_t& r);
void merge(enum_record_t& into, const enum_record_t& r);
// An accumulated incident is the first one it took.
void merge(incident_record_t& into, const incident_record_t& r);

std::string text(const continuous_record_t& r);
std::string text(const enum_record_t& r);
std::string text(const incident_record_t& r);

}  // namespace tsdb
