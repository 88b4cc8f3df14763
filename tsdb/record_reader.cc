#include "tsdb/record_reader.h"

#include <string>

#include "tsdb/error.h"
#include "util/bytes.h"

namespace tsdb {

namespace {

void require_bytes(uint32_t needed, uint32_t available, uint32_t position) {
    if (needed > available) {
        throw error_need_repair("Partial record of " + std::to_string(available) +
                                " bytes at level position " + std::to_string(position));
    }
}

template <typename Record, Record (*decode)(const uint8_t*)>
uint32_t read_fixed_size(LblockCursor& cursor, uint32_t position, uint32_t available, Record& out) {
    require_bytes(Record::size, available, position);
    uint8_t bytes[Record::size];
    position = cursor.read(bytes, position, Record::size);
    out = decode(bytes);
    return position;
}

}  // namespace

uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     continuous_record_t& out) {
    return read_fixed_size<continuous_record_t, decode_continuous>(cursor, position, available,
                                                                   out);
}

uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     enum_record_t& out) {
    return read_fixed_size<enum_record_t, decode_enum>(cursor, position, available, out);
}

uint32_t read_record(LblockCursor& cursor, uint32_t position, uint32_t available,
                     incident_record_t& out) {
    require_bytes(incident_record_t::header_size, available, position);
    uint8_t head[incident_record_t::header_size];
    const uint32_t at = position;
    position = cursor.read(head, position, incident_record_t::header_size);
    const uint32_t length = decode_incident_head(head, out);
    const uint32_t padded = padded_text_size(length);
    require_bytes(incident_record_t::header_size + padded, available, at);
    std::string text(padded, '\0');
    position = cursor.read(util::bytes_of(text), position, padded);
    out.text.assign(text, 0, length);
    return position;
}

}  // namespace tsdb
