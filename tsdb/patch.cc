#include "tsdb/patch.h"

namespace tsdb {

std::string empty_patch(uint32_t data_type) {
    std::string patch(4, '\0');
    util::store_be32(util::bytes_of(patch), data_type);
    return patch;
}

size_t decode_at(std::string_view patch, size_t at, continuous_record_t& r) {
    if (patch.size() - at < continuous_record_t::size) {
        return 0;
    }
    r = decode_continuous(util::bytes_of(patch) + at);
    return continuous_record_t::size;
}

size_t decode_at(std::string_view patch, size_t at, enum_record_t& r) {
    if (patch.size() - at < enum_record_t::size) {
        return 0;
    }
    r = decode_enum(util::bytes_of(patch) + at);
    return enum_record_t::size;
}

size_t decode_at(std::string_view patch, size_t at, incident_record_t& r) {
    if (patch.size() - at < incident_record_t::header_size) {
        return 0;
    }
    const uint32_t length = decode_incident_head(util::bytes_of(patch) + at, r);
    const size_t size = incident_record_t::header_size + padded_text_size(length);
    if (patch.size() - at < size) {
        return 0;
    }
    r.text.assign(patch.substr(at + incident_record_t::header_size, length));
    return size;
}

}  // namespace tsdb
