// The records of a recovery patch (the type word, then every record in its
// stored encoding), read back for the tools that show or pick them.
#pragma once

#include <cstdint>
#include <string>

#include "tools/options.h"
#include "tsdb/record.h"
#include "util/bytes.h"

namespace tsdbctl {

// Calls `visit` with each record of the patch, in order, as a
// tsdb::continuous_record_t, enum_record_t or incident_record_t by `type`;
// tools::EBadInput for a record cut off.
template <typename Visit>
void for_each_patch_record(uint32_t type, const std::string& patch, Visit&& visit) {
    const auto* bytes = util::bytes_of(patch);
    const auto need = [&](size_t at, size_t n) {
        if (patch.size() - at < n) {
            throw tools::EBadInput("a stored record is cut off at byte " + std::to_string(at));
        }
    };
    for (size_t at = 4; at < patch.size();) {
        if (type == tsdb::type_enum) {
            need(at, tsdb::enum_record_t::size);
            visit(tsdb::decode_enum(bytes + at));
            at += tsdb::enum_record_t::size;
        } else if (type == tsdb::type_incident) {
            need(at, tsdb::incident_record_t::header_size);
            tsdb::incident_record_t r;
            const uint32_t length = tsdb::decode_incident_head(bytes + at, r);
            const size_t size =
                tsdb::incident_record_t::header_size + tsdb::padded_text_size(length);
            need(at, size);
            r.text.assign(patch, at + tsdb::incident_record_t::header_size, length);
            visit(r);
            at += size;
        } else {
            need(at, tsdb::continuous_record_t::size);
            visit(tsdb::decode_continuous(bytes + at));
            at += tsdb::continuous_record_t::size;
        }
    }
}

// A patch of the type holding no records yet.
inline std::string empty_patch(uint32_t type) {
    std::string patch(4, '\0');
    util::store_be32(util::bytes_of(patch), type);
    return patch;
}

// Appends a record's stored encoding; tsdb::error_range for an invalid one.
template <typename Record>
void append_record(std::string& patch, const Record& record) {
    const size_t at = patch.size();
    patch.resize(at + tsdb::encoded_size(record));
    tsdb::encode(record, util::byte_span(patch).subspan(at));
}

}  // namespace tsdbctl
