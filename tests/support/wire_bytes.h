// Byte vectors written by hand in the little-endian stream form, so that
// tests state the expected bytes without going through the writer under
// test.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

class WireBytes {
public:
    WireBytes& u32(uint32_t v) { return le(v, 4); }
    WireBytes& i32(int32_t v) { return le(static_cast<uint32_t>(v), 4); }
    WireBytes& u64(uint64_t v) { return le(v, 8); }
    WireBytes& i64(int64_t v) { return le(static_cast<uint64_t>(v), 8); }
    WireBytes& f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return le(bits, 4);
    }
    WireBytes& str(const std::string& s) {
        u64(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    // An event header: type, dest, uid, exception word.
    WireBytes& header(uint32_t type, int32_t dest, uint32_t uid, uint32_t exception = 0) {
        return u32(type).i32(dest).u32(uid).u32(exception);
    }
    WireBytes& append(const WireBytes& more) {
        bytes.insert(bytes.end(), more.bytes.begin(), more.bytes.end());
        return *this;
    }

    std::vector<uint8_t> bytes;

private:
    WireBytes& le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        return *this;
    }
};

}  // namespace testing_support
