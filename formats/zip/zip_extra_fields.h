// The extra-field blocks this reader takes values from. A field is a run of
// blocks (2-byte id, 2-byte little-endian data size, data); each reader
// below uses only values that lie wholly inside both their block and the
// field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

// The extended timestamp block ("UT") of a local extra field: each time it
// carries (modification, access, creation, by its flag bits) replaces the
// one given.
void applyExtendedTimestamp(const std::uint8_t* field, std::size_t length, FILETIME& modifyTime,
                            FILETIME& accessTime, FILETIME& creationTime);

// Sizes whose 32-bit central field holds 0xFFFFFFFF are in the entry's Zip64
// block (0x0001), uncompressed first, each present only when needed.
void applyZip64Sizes(const std::uint8_t* field, std::size_t length, std::uint64_t& uncompressedSize,
                     std::uint64_t& compressedSize);

// The Unicode path block (0x7075): version 1, the CRC-32 of the stored name
// it stands for, then the name in UTF-8. True, with the name, only while that
// CRC still matches, so that a name changed by a later tool is not replaced
// by a stale one.
bool unicodePathName(const std::uint8_t* field, std::size_t length, const char* storedName,
                     std::size_t storedLength, std::string& utf8Name);
