// CRC-32 of item data (the polynomial of ZIP and gzip), continuing crc the
// way zlib's crc32() does. On processors with carry-less multiplication it
// folds 64 bytes a step, several times faster than a table: stored items are
// otherwise bound by their checksum, not by the disk.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint32_t zipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
