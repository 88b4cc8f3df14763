#include "tsdb/file/crc2x32.h"

#include <algorithm>

namespace security {

void Crc2x32::reset() {
    even_.reset();
    odd_.reset();
    odd_next_ = false;
}

void Crc2x32::update(uint8_t byte) {
    (odd_next_ ? odd_ : even_).update(byte);
    odd_next_ = !odd_next_;
}

void Crc2x32::update(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (length > 0 && odd_next_) {
        update(*p++);
        --length;
    }
    // Split the pairs into two runs so that each checksum sees long runs.
    constexpr size_t chunk_pairs = 2048;
    uint8_t evens[chunk_pairs];
    uint8_t odds[chunk_pairs];
    while (length >= 2) {
        const size_t pairs = std::min(length / 2, chunk_pairs);
        for (size_t i = 0; i < pairs; ++i) {
            evens[i] = p[2 * i];
            odds[i] = p[2 * i + 1];
        }
        even_.update(evens, pairs);
        odd_.update(odds, pairs);
        p += 2 * pairs;
        length -= 2 * pairs;
    }
    if (length == 1) {
        update(*p);
    }
}

void Crc2x32::write_digest(uint8_t* destination) const {
    even_.write_digest(destination);
    odd_.write_digest(destination + 4);
}

}  // namespace security
