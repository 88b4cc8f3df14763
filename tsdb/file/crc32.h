// CRC-32 of the reflected polynomial 0xEDB88320 (the IEEE 802.3 / zlib
// checksum). It guards the chain descriptors of the database header.
#pragma once

#include "tsdb/file/hash.h"

namespace security {

// Advances a raw CRC register (not inverted) over `length` bytes.
uint32_t crc32_advance(uint32_t register_value, const uint8_t* data, size_t length) noexcept;

class Crc32 final : public Hash {
public:
    void reset() override { register_ = 0xFFFFFFFF; }
    size_t digest_size() const override { return 4; }
    void update(const void* data, size_t length) override {
        register_ = crc32_advance(register_, static_cast<const uint8_t*>(data), length);
    }
    void update(uint8_t byte) override;
    // The value, big-endian.
    void write_digest(uint8_t* destination) const override;

    // The checksum of the bytes fed since the last reset.
    uint32_t value() const { return register_ ^ 0xFFFFFFFF; }

private:
    uint32_t register_ = 0xFFFFFFFF;
};

}  // namespace security
