// The standard CRC-32 (reflected polynomial 0xEDB88320): carry-less multiply
// folding where the processor has it, slicing by 16 tables elsewhere.
#include <bit>
#include <cstring>

#include "core/chars.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QB_CRC_CLMUL 1
#endif

namespace {

using CrcTables = uint32_t[16][256];

struct CrcTableSet {
    CrcTables t{};
};

// Table k gives the CRC of a byte followed by k zero bytes, so sixteen bytes
// fold into the CRC with sixteen independent lookups.
constexpr CrcTableSet MakeCrcTables() {
    CrcTableSet set{};
    auto& t = set.t;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (size_t k = 1; k < 16; ++k)
        for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return set;
}

// Built by the compiler, so that a checksum taken before start-up built the
// table still comes out right.
constexpr CrcTableSet kCrc = MakeCrcTables();

uint32_t CrcBytes(uint32_t crc, const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) crc = kCrc.t[0][(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint64_t LoadLittleEndian64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

uint32_t CrcSlicing16(uint32_t crc, const unsigned char* p, size_t n) {
    const auto& t = kCrc.t;
    for (; n >= 16; n -= 16, p += 16) {
        const uint64_t a = LoadLittleEndian64(p) ^ crc;
        const uint64_t b = LoadLittleEndian64(p + 8);
        // Grouped as a tree: only the half that depends on the running CRC
        // lies on the loop's critical path.
        const uint32_t high = ((t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF]) ^ (t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF])) ^
                              ((t[3][(b >> 32) & 0xFF] ^ t[2][(b >> 40) & 0xFF]) ^ (t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56]));
        const uint32_t low = ((t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF]) ^ (t[13][(a >> 16) & 0xFF] ^ t[12][(a >> 24) & 0xFF])) ^
                             ((t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF]) ^ (t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56]));
        crc = low ^ high;
    }
    return CrcBytes(crc, p, n);
}

#ifdef QB_CRC_CLMUL

// Folding constants of the polynomial: x^(4*128+32), x^(4*128-32) mod P for the
// four-lane loop, x^(128+32), x^(128-32) for single lanes, x^64 for the last
// fold, and P with its Barrett quotient, all bit-reflected.
#define QB_CLMUL __attribute__((target("pclmul,sse2")))

QB_CLMUL inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

QB_CLMUL inline __m128i Load128(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// n is at least 64 and a multiple of 16.
QB_CLMUL uint32_t CrcClmul(uint32_t crc, const unsigned char* p, size_t n) {
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load128(p + 16);
    __m128i x3 = Load128(p + 32);
    __m128i x4 = Load128(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x1 = Fold(x1, k1k2, Load128(p));
        x2 = Fold(x2, k1k2, Load128(p + 16));
        x3 = Fold(x3, k1k2, Load128(p + 32));
        x4 = Fold(x4, k1k2, Load128(p + 48));
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; n >= 16; n -= 16, p += 16) x1 = Fold(x1, k3k4, Load128(p));

    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(k3k4, x1, 0x01));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, mask32), poly, 0x00);
    x1 = _mm_xor_si128(x1, q);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return have;
}

#endif

}  // namespace

void BuildCRC32Table() {}

uint32_t ComputeCRC32Bytewise(const void* buffer, long length) {
    if (length < 1 || !buffer) return 0;
    return CrcBytes(0xFFFFFFFFu, static_cast<const unsigned char*>(buffer), static_cast<size_t>(length)) ^
           0xFFFFFFFFu;
}

uint32_t ComputeCRC32Portable(const void* buffer, long length) {
    if (length < 1 || !buffer) return 0;
    return CrcSlicing16(0xFFFFFFFFu, static_cast<const unsigned char*>(buffer), static_cast<size_t>(length)) ^
           0xFFFFFFFFu;
}

uint32_t ComputeCRC32(const void* buffer, long length) {
    if (length < 1 || !buffer) return 0;
    return UpdateCRC32(0, buffer, static_cast<size_t>(length));
}

uint32_t UpdateCRC32(uint32_t crc, const void* buffer, size_t length) {
    if (length == 0 || !buffer) return crc;
    auto p = static_cast<const unsigned char*>(buffer);
    size_t n = length;
    crc ^= 0xFFFFFFFFu;
#ifdef QB_CRC_CLMUL
    if (n >= 64 && HaveClmul()) {
        const size_t folded = n & ~size_t{15};
        crc = CrcClmul(crc, p, folded);
        p += folded;
        n -= folded;
    }
#endif
    return CrcSlicing16(crc, p, n) ^ 0xFFFFFFFFu;
}
