#include "tsdb/record.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "error/assert.h"
#include "tsdb/error.h"
#include "util/bytes.h"
#include "util/format.h"

namespace tsdb {

namespace {

void encode_span(uint32_t timestart, uint32_t duration, uint8_t* out) {
    util::store_be32(out, timestart);
    util::store_be32(out + 4, duration);
}

void store_float(uint8_t* out, float v) { util::store_be32(out, std::bit_cast<uint32_t>(v)); }

template <typename Record>
uint8_t* room_for(const Record& r, std::span<uint8_t> bytes) {
    error::require(bytes.size() >= encoded_size(r), "record encoded into too few bytes");
    return bytes.data();
}

// Both records' spans and the gap between them. Ends are computed in 64
// bits, so that a span passing the largest time stays invalid.
template <typename Record>
void merge_span(Record& into, const Record& r) {
    const uint64_t end =
        std::max(uint64_t{into.timestart} + into.duration, uint64_t{r.timestart} + r.duration);
    into.timestart = std::min(into.timestart, r.timestart);
    into.duration = static_cast<uint32_t>(std::min<uint64_t>(end - into.timestart, 0xFFFFFFFE));
}

std::string span_text(uint32_t timestart, uint32_t duration) {
    return "(timestart " + std::to_string(timestart) + ")(duration " + std::to_string(duration) +
           ")";
}

std::string counts_text(uint32_t ngood, uint32_t nbad) {
    return "(ngood " + std::to_string(ngood) + ")(nbad " + std::to_string(nbad) + ")";
}

}  // namespace

bool is_valid(const incident_record_t& r) {
    return valid_span(r.timestart, r.duration) && r.text.size() <= max_incident_text;
}

size_t encoded_size(const continuous_record_t&) { return continuous_record_t::size; }
size_t encoded_size(const enum_record_t&) { return enum_record_t::size; }
size_t encoded_size(const incident_record_t& r) {
    return incident_record_t::header_size + padded_text_size(static_cast<uint32_t>(r.text.size()));
}

uint32_t padded_text_size(uint32_t text_length) { return (text_length + 3) / 4 * 4; }

void encode(const continuous_record_t& r, std::span<uint8_t> bytes) {
    uint8_t* out = room_for(r, bytes);
    if (!is_valid(r)) {
        throw error_range("Trying to insert invalid record: " + text(r));
    }
    encode_span(r.timestart, r.duration, out);
    util::store_be32(out + 8, r.ngood);
    util::store_be32(out + 12, r.nbad);
    store_float(out + 16, r.min);
    store_float(out + 20, r.max);
    store_float(out + 24, r.avg);
}

void encode(const enum_record_t& r, std::span<uint8_t> bytes) {
    uint8_t* out = room_for(r, bytes);
    if (!is_valid(r)) {
        throw error_range("Trying to insert invalid record");
    }
    encode_span(r.timestart, r.duration, out);
    util::store_be32(out + 8, r.ngood);
    util::store_be32(out + 12, r.nbad);
    util::store_be32(out + 16, r.mask);
}

void encode(const incident_record_t& r, std::span<uint8_t> bytes) {
    uint8_t* out = room_for(r, bytes);
    if (!valid_span(r.timestart, r.duration)) {
        throw error_range("Trying to insert invalid record");
    }
    if (r.text.size() > max_incident_text) {
        throw error_range("About to write incident record with excessive length (" +
                          std::to_string(r.text.size()) + " bytes)");
    }
    const auto length = static_cast<uint32_t>(r.text.size());
    encode_span(r.timestart, r.duration, out);
    util::store_be32(out + 8, r.severity);
    util::store_be32(out + 12, length);
    // The text is stored with its length and zero padding, not a terminator.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    std::memcpy(out + 16, r.text.data(), length);
    std::memset(out + 16 + length, 0, padded_text_size(length) - length);
}

uint32_t decode_incident_head(const uint8_t* in, incident_record_t& r) {
    const uint32_t length = util::load_be32(in + 12);
    if (length > max_incident_text) {
        throw error_need_repair("Incident record had excessive length (" + std::to_string(length) +
                                " bytes)");
    }
    r.timestart = util::load_be32(in);
    r.duration = util::load_be32(in + 4);
    r.severity = util::load_be32(in + 8);
    r.text.assign(length, '\0');
    return length;
}

void merge(continuous_record_t& into, const continuous_record_t& r) {
    if (is_empty(into.duration)) {
        into = r;
        return;
    }
    if (is_empty(r.duration)) {
        return;
    }
    if (into.ngood == 0 && r.ngood != 0) {
        into.min = r.min;
        into.max = r.max;
        into.avg = r.avg;
    } else if (into.ngood != 0 && r.ngood != 0) {
        into.min = r.min < into.min ? r.min : into.min;
        into.max = r.max > into.max ? r.max : into.max;
        const double sum = double{r.avg} * r.ngood + double{into.avg} * into.ngood;
        into.avg = static_cast<float>(sum / (static_cast<double>(r.ngood) + into.ngood));
        into.avg = std::min(std::max(into.avg, into.min), into.max);
    }
    into.ngood += r.ngood;
    into.nbad += r.nbad;
    merge_span(into, r);
}

void merge(enum_record_t& into, const enum_record_t& r) {
    if (is_empty(into.duration)) {
        into = r;
        return;
    }
    if (is_empty(r.duration)) {
        return;
    }
    into.ngood += r.ngood;
    into.nbad += r.nbad;
    into.mask |= r.mask;
    merge_span(into, r);
}

void merge(incident_record_t& into, const incident_record_t& r) {
    if (is_empty(into.duration)) {
        into = r;
    }
}

std::string text(const continuous_record_t& r) {
    return span_text(r.timestart, r.duration) + counts_text(r.ngood, r.nbad) + "(min " +
           util::format_double(r.min) + ")(max " + util::format_double(r.max) + ")(avg " +
           util::format_double(r.avg) + ")";
}

std::string text(const enum_record_t& r) {
    return span_text(r.timestart, r.duration) + counts_text(r.ngood, r.nbad) + "(mask " +
           util::format_hex32(r.mask) + ")";
}

std::string text(const incident_record_t& r) {
    return span_text(r.timestart, r.duration) + "(severity " + std::to_string(r.severity) +
           ")(text \"" + r.text + "\")";
}

}  // namespace tsdb
