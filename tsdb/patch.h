// A patch: a series' storage type as a big-endian word, then its records in
// their stored encoding, one after the other. Extraction writes patches,
// merges read them, and the tools make and read them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tsdb/record.h"
#include "util/bytes.h"

namespace tsdb {

// A patch of the type holding no records yet.
std::string empty_patch(uint32_t data_type);

// Appends a record's stored encoding; tsdb::error_range for an invalid one.
template <typename Record>
void append_record(std::string& patch, const Record& record) {
    const size_t at = patch.size();
    patch.resize(at + encoded_size(record));
    encode(record, util::byte_span(patch).subspan(at));
}

// Decodes the record at byte `at` (4 or more); returns the bytes it takes,
// or 0 when the patch ends inside it.
size_t decode_at(std::string_view patch, size_t at, continuous_record_t& r);
size_t decode_at(std::string_view patch, size_t at, enum_record_t& r);
size_t decode_at(std::string_view patch, size_t at, incident_record_t& r);

}  // namespace tsdb
