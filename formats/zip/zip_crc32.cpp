#include "formats/zip/zip_crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TOVRIN_FOLDING_CRC 1
#endif

namespace {

std::uint32_t tableCrc(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const uInt piece = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        crc = static_cast<std::uint32_t>(crc32(crc, data, piece));
        data += piece;
        length -= piece;
    }
    return crc;
}

#ifdef TOVRIN_FOLDING_CRC

// Folding constants for the bit-reflected polynomial 0x104C11DB7: x^(k) mod P
// for the distances of four lanes (512 bits) and of one lane (128 bits).
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i lane, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Folds whole 64-byte blocks (length a multiple of 64, at least 64) down to
// 16 bytes whose plain CRC, from a zero register, equals that of the data
// with crc applied; the last step is left to the table.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t foldingCrc(std::uint32_t crc, const std::uint8_t* data,
                                                                   std::size_t length) {
    const __m128i byFour = _mm_set_epi64x(0x00000001c6e41596LL, 0x0000000154442bd4LL);
    const __m128i byOne = _mm_set_epi64x(0x00000000ccaa009eLL, 0x00000001751997d0LL);
    __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48));
    // zlib's register is the complement of the running value.
    x0 = _mm_xor_si128(x0, _mm_cvtsi32_si128(static_cast<int>(~crc)));
    data += 64;
    length -= 64;
    while (length >= 64) {
        x0 = fold(x0, byFour, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
        x1 = fold(x1, byFour, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)));
        x2 = fold(x2, byFour, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)));
        x3 = fold(x3, byFour, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)));
        data += 64;
        length -= 64;
    }
    x0 = fold(x0, byOne, x1);
    x0 = fold(x0, byOne, x2);
    x0 = fold(x0, byOne, x3);
    alignas(16) std::uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x0);
    // A register of zero is what crc32() keeps for the value 0xFFFFFFFF.
    return tableCrc(0xFFFFFFFFu, rest, sizeof rest);
}

bool canFold() {
    static const bool supported = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
}

#endif

}  // namespace

std::uint32_t zipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
#ifdef TOVRIN_FOLDING_CRC
    // Short pieces are not worth the set-up.
    if (length >= 256 && canFold()) {
        const std::size_t blocks = length & ~static_cast<std::size_t>(63);
        crc = foldingCrc(crc, data, blocks);
        return tableCrc(crc, data + blocks, length - blocks);
    }
#endif
    return tableCrc(crc, data, length);
}
