// A checksum that can be fed bytes and asked for its digest without the
// caller knowing which checksum it holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace security {

class Hash {
public:
    virtual ~Hash() = default;
    // Starts a new computation; a checksum is ready only after reset.
    virtual void reset() = 0;
    virtual size_t digest_size() const = 0;
    virtual void update(const void* data, size_t length) = 0;
    virtual void update(uint8_t byte) = 0;
    // Writes digest_size() bytes.
    virtual void write_digest(uint8_t* destination) const = 0;
};

}  // namespace security
