// Little-endian fields of ZIP headers and records.
#pragma once

#include <cstdint>

inline std::uint32_t zipRead16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

inline std::uint32_t zipRead32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t zipRead64(const std::uint8_t* p) {
    return zipRead32(p) | (static_cast<std::uint64_t>(zipRead32(p + 4)) << 32);
}
