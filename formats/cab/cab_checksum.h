// The checksum of CFDATA blocks: 32-bit little-endian words XOR-ed into a
// seed, with a tail of one to three bytes folded in most significant first.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint32_t cabChecksum(const std::uint8_t* data, std::size_t length, std::uint32_t seed);

// A block's checksum: its data first, then its two size fields followed by
// its reserve bytes (header points at the 8-byte block header, whose last
// four bytes are the size fields).
std::uint32_t cabBlockChecksum(const std::uint8_t* header, const std::uint8_t* reserve, std::size_t reserveLength,
                               const std::uint8_t* data, std::size_t dataLength);
