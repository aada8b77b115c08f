#include "formats/zip/zip_extra_fields.h"

#include <algorithm>

#include "formats/zip/zip_crc32.h"
#include "formats/zip/zip_little_endian.h"

namespace {

constexpr std::uint64_t kUnixEpochAsFileTime = 0x019DB1DED53E8000ull;

FILETIME fileTimeFromUnixSeconds(std::int32_t seconds) {
    const auto units = static_cast<std::uint64_t>(static_cast<std::int64_t>(seconds) * 10000000 +
                                                  static_cast<std::int64_t>(kUnixEpochAsFileTime));
    return FILETIME{static_cast<DWORD>(units & 0xFFFFFFFFu), static_cast<DWORD>(units >> 32)};
}

// The data of the first block with id, clipped to the field; false when
// there is none.
bool findBlock(const std::uint8_t* field, std::size_t length, std::uint32_t id, std::size_t& data,
               std::size_t& dataEnd) {
    std::size_t at = 0;
    while (at + 4 <= length) {
        const std::size_t dataSize = zipRead16(field + at + 2);
        if (zipRead16(field + at) == id) {
            data = at + 4;
            dataEnd = std::min(length, data + dataSize);
            return true;
        }
        at += 4 + dataSize;
    }
    return false;
}

}  // namespace

void applyExtendedTimestamp(const std::uint8_t* field, std::size_t length, FILETIME& modifyTime,
                            FILETIME& accessTime, FILETIME& creationTime) {
    std::size_t p = 0;
    std::size_t end = 0;
    if (!findBlock(field, length, 'U' | ('T' << 8), p, end) || p >= end) return;
    const std::uint8_t flags = field[p++];
    FILETIME* targets[3] = {&modifyTime, &accessTime, &creationTime};
    for (int bit = 0; bit < 3; ++bit) {
        if (!(flags & (1u << bit))) continue;
        if (p + 4 > end) return;
        *targets[bit] = fileTimeFromUnixSeconds(static_cast<std::int32_t>(zipRead32(field + p)));
        p += 4;
    }
}

void applyZip64Sizes(const std::uint8_t* field, std::size_t length, std::uint64_t& uncompressedSize,
                     std::uint64_t& compressedSize) {
    const bool wantUncompressed = uncompressedSize == 0xFFFFFFFFu;
    const bool wantCompressed = compressedSize == 0xFFFFFFFFu;
    std::size_t p = 0;
    std::size_t end = 0;
    if ((!wantUncompressed && !wantCompressed) || !findBlock(field, length, 0x0001, p, end)) return;
    if (wantUncompressed && p + 8 <= end) {
        uncompressedSize = zipRead64(field + p);
        p += 8;
    }
    if (wantCompressed && p + 8 <= end) compressedSize = zipRead64(field + p);
}

bool unicodePathName(const std::uint8_t* field, std::size_t length, const char* storedName,
                     std::size_t storedLength, std::string& utf8Name) {
    std::size_t p = 0;
    std::size_t end = 0;
    // A block cut short by the end of the field would give a cut name.
    if (!findBlock(field, length, 0x7075, p, end) || end - p != zipRead16(field + p - 2) || end - p <= 5 ||
        field[p] != 1) {
        return false;
    }
    const std::uint32_t actual = zipCrc32(0, reinterpret_cast<const std::uint8_t*>(storedName), storedLength);
    if (zipRead32(field + p + 1) != actual) return false;
    utf8Name.assign(reinterpret_cast<const char*>(field + p + 5), end - p - 5);
    return true;
}
