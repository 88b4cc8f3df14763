// Fixed-width integers in byte buffers at any alignment: big-endian for the
// database file, little-endian for the inter-process streams. Every byte
// format goes through these; structs are never laid onto bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace util {

template <typename T>
constexpr T load_be(const uint8_t* p) {
    T value = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>((value << 8) | p[i]);
    }
    return value;
}

template <typename T>
constexpr T load_le(const uint8_t* p) {
    T value = 0;
    for (unsigned i = sizeof(T); i-- > 0;) {
        value = static_cast<T>((value << 8) | p[i]);
    }
    return value;
}

template <typename T>
constexpr void store_be(uint8_t* p, T value) {
    for (unsigned i = sizeof(T); i-- > 0;) {
        p[i] = static_cast<uint8_t>(value);
        value = static_cast<T>(value >> 8);
    }
}

template <typename T>
constexpr void store_le(uint8_t* p, T value) {
    for (unsigned i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<uint8_t>(value);
        value = static_cast<T>(value >> 8);
    }
}

constexpr uint16_t load_be16(const uint8_t* p) { return load_be<uint16_t>(p); }
constexpr uint32_t load_be32(const uint8_t* p) { return load_be<uint32_t>(p); }
constexpr uint64_t load_be64(const uint8_t* p) { return load_be<uint64_t>(p); }
constexpr uint16_t load_le16(const uint8_t* p) { return load_le<uint16_t>(p); }
constexpr uint32_t load_le32(const uint8_t* p) { return load_le<uint32_t>(p); }
constexpr uint64_t load_le64(const uint8_t* p) { return load_le<uint64_t>(p); }

constexpr void store_be16(uint8_t* p, uint16_t v) { store_be(p, v); }
constexpr void store_be32(uint8_t* p, uint32_t v) { store_be(p, v); }
constexpr void store_be64(uint8_t* p, uint64_t v) { store_be(p, v); }
constexpr void store_le16(uint8_t* p, uint16_t v) { store_le(p, v); }
constexpr void store_le32(uint8_t* p, uint32_t v) { store_le(p, v); }
constexpr void store_le64(uint8_t* p, uint64_t v) { store_le(p, v); }

// Strings carry bytes (patches, digests, file images): their characters as
// the bytes the helpers above take, and bytes as characters. The only casts
// between the two.
// NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
inline uint8_t* bytes_of(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }
inline const uint8_t* bytes_of(std::string_view s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}
inline const char* chars_of(const uint8_t* p) { return reinterpret_cast<const char*>(p); }
inline char* chars_of(uint8_t* p) { return reinterpret_cast<char*>(p); }
// NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
inline std::span<uint8_t> byte_span(std::string& s) { return {bytes_of(s), s.size()}; }
inline std::span<const uint8_t> byte_span(std::string_view s) { return {bytes_of(s), s.size()}; }

}  // namespace util
