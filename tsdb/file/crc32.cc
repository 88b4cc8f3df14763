#include "tsdb/file/crc32.h"

#include <array>

#include "util/bytes.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace security {

namespace {

constexpr uint32_t polynomial = 0xEDB88320;

// tables[k][b]: the register change of byte b followed by k zero bytes, for
// eight bytes per step.
constexpr auto make_tables() {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = b;
        for (int bit = 0; bit < 8; ++bit) {
            r = (r & 1) != 0 ? (r >> 1) ^ polynomial : r >> 1;
        }
        tables[0][b] = r;
    }
    for (uint32_t b = 0; b < 256; ++b) {
        for (size_t k = 1; k < 8; ++k) {
            const uint32_t prev = tables[k - 1][b];
            tables[k][b] = (prev >> 8) ^ tables[0][prev & 0xFF];
        }
    }
    return tables;
}

constexpr auto tables = make_tables();
static_assert(tables[0][1] == 0x77073096);

uint32_t advance_bytewise(uint32_t r, const uint8_t* p, size_t n) noexcept {
    for (size_t i = 0; i < n; ++i) {
        r = tables[0][(r ^ p[i]) & 0xFF] ^ (r >> 8);
    }
    return r;
}

uint32_t advance_sliced(uint32_t r, const uint8_t* p, size_t n) noexcept {
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t low = util::load_le32(p) ^ r;
        const uint32_t high = util::load_le32(p + 4);
        r = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
            tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
            tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
    }
    return advance_bytewise(r, p, n);
}

#if defined(__x86_64__)

#define TSDB_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

TSDB_FOLD_TARGET __m128i load(const uint8_t* at) {
    // The intrinsic's own type for an unaligned load.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Multiplies both halves of x by their constants in k and adds the next lane.
TSDB_FOLD_TARGET __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folding with carry-less multiplication, four 16-byte lanes at a time, then
// a Barrett reduction to 32 bits. The constants are powers of x modulo the
// polynomial in the bit-reflected domain. Needs at least 64 bytes and takes
// a multiple of 16.
TSDB_FOLD_TARGET uint32_t advance_folded(uint32_t r, const uint8_t* p, size_t n) noexcept {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(r)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; n >= 16; n -= 16, p += 16) {
        x1 = fold(x1, k3k4, load(p));
    }

    // 128 bits to 64.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4),
                      _mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00));

    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool cpu_can_fold() noexcept {
    static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return can;
}

#endif

}  // namespace

uint32_t crc32_advance(uint32_t r, const uint8_t* p, size_t n) noexcept {
#if defined(__x86_64__)
    if (n >= 64 && cpu_can_fold()) {
        const size_t folded = n & ~size_t{15};
        r = advance_folded(r, p, folded);
        p += folded;
        n -= folded;
    }
#endif
    return advance_sliced(r, p, n);
}

void Crc32::update(uint8_t byte) {
    register_ = tables[0][(register_ ^ byte) & 0xFF] ^ (register_ >> 8);
}

void Crc32::write_digest(uint8_t* destination) const { util::store_be32(destination, value()); }

}  // namespace security
