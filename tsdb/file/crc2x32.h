// Two interleaved CRC-32s: the bytes at even positions of the fed sequence
// go to one, those at odd positions to the other, however the sequence was
// split over calls. It fingerprints a whole series for recovery.
#pragma once

#include "tsdb/file/crc32.h"

namespace security {

class Crc2x32 final : public Hash {
public:
    void reset() override;
    size_t digest_size() const override { return 8; }
    void update(const void* data, size_t length) override;
    void update(uint8_t byte) override;
    // The even checksum's digest, then the odd one's.
    void write_digest(uint8_t* destination) const override;

private:
    Crc32 even_;
    Crc32 odd_;
    bool odd_next_ = false;
};

}  // namespace security
