#include "formats/cab/cab_checksum.h"

#include <cstring>

std::uint32_t cabChecksum(const std::uint8_t* data, std::size_t length, std::uint32_t seed) {
    std::size_t words = length / 4;
    const std::uint8_t* p = data;
    for (; words > 0; --words, p += 4) {
        seed ^= static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    switch (length & 3) {
    case 3: seed ^= static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2]; break;
    case 2: seed ^= static_cast<std::uint32_t>(p[0]) << 8 | p[1]; break;
    case 1: seed ^= p[0]; break;
    default: break;
    }
    return seed;
}

std::uint32_t cabBlockChecksum(const std::uint8_t* header, const std::uint8_t* reserve, std::size_t reserveLength,
                               const std::uint8_t* data, std::size_t dataLength) {
    // The size fields and the reserve are one run: the reserve's tail rule
    // applies to where that run ends. The reserve is at most 255 bytes.
    std::uint8_t tail[4 + 255];
    std::memcpy(tail, header + 4, 4);
    if (reserveLength) std::memcpy(tail + 4, reserve, reserveLength);
    return cabChecksum(tail, 4 + reserveLength, cabChecksum(data, dataLength, 0));
}
