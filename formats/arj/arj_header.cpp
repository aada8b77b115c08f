#include "formats/arj/arj_header.h"

#include <cstring>

namespace {

constexpr std::uint8_t kIdFirst = 0x60;
constexpr std::uint8_t kIdSecond = 0xEA;
// The fixed fields end here; shorter headers cannot be read.
constexpr std::size_t kFixedFieldsSize = 30;
constexpr std::size_t kVolumeOffsetEnd = 34;

std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool readExactly(std::FILE* archive, std::uint8_t* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, archive) == size;
}

}  // namespace

ArjCrc32::ArjCrc32() {
    for (std::uint32_t v = 0; v < 256; ++v) {
        std::uint32_t c = v;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[v] = c;
    }
}

std::uint32_t ArjCrc32::update(std::uint32_t c, const std::uint8_t* data, std::size_t size) const {
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c;
}

ArjHeaderResult readArjHeader(std::FILE* archive, const ArjCrc32& crc, ArjHeader& header) {
    header.name[0] = '\0';
    header.nameTooLong = false;
    std::uint8_t basic[kArjMaxHeaderSize + 4];
    if (!readExactly(archive, basic, 4)) return ArjHeaderResult::Damaged;
    if (basic[0] != kIdFirst || basic[1] != kIdSecond) return ArjHeaderResult::Damaged;
    const std::size_t size = readU16(basic + 2);
    header.headerSize = static_cast<std::uint16_t>(size);
    if (size == 0) return ArjHeaderResult::EndOfArchive;
    if (size > kArjMaxHeaderSize || size < kFixedFieldsSize) return ArjHeaderResult::Damaged;
    if (!readExactly(archive, basic, size + 4)) return ArjHeaderResult::Damaged;
    if (~crc.update(0xFFFFFFFFu, basic, size) != readU32(basic + size)) return ArjHeaderResult::Damaged;

    header.firstHeaderSize = basic[0];
    header.archiverVersion = basic[1];
    header.extractVersion = basic[2];
    header.hostOs = basic[3];
    header.flags = basic[4];
    header.method = basic[5];
    header.fileType = basic[6];
    header.timeStamp = readU32(basic + 8);
    header.packedSize = readU32(basic + 12);
    header.unpackedSize = readU32(basic + 16);
    header.fileCrc = readU32(basic + 20);
    header.accessMode = readU16(basic + 26);
    header.volumeOffset =
        header.firstHeaderSize >= kVolumeOffsetEnd && size >= kVolumeOffsetEnd ? readU32(basic + 30) : 0;

    // The name runs from firstHeaderSize to its NUL (or the header's end).
    const std::size_t nameStart = header.firstHeaderSize < size ? header.firstHeaderSize : size;
    const std::uint8_t* stored = basic + nameStart;
    const std::size_t room = size - nameStart;
    const void* end = std::memchr(stored, 0, room);
    const std::size_t nameLength = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - stored) : room;
    if (nameLength >= kArjNameCapacity) {
        header.nameTooLong = true;
    } else {
        // Names from hosts other than DOS and Windows keep only seven bits.
        const bool mask = header.hostOs != kArjHostMsDos && header.hostOs != kArjHostWin95;
        for (std::size_t i = 0; i < nameLength; ++i) {
            header.name[i] = static_cast<char>(mask ? (stored[i] & 0x7F) : stored[i]);
        }
        header.name[nameLength] = '\0';
    }

    // Extended headers are skipped; each is its size, its bytes and a CRC.
    std::uint8_t sizeBytes[2];
    if (!readExactly(archive, sizeBytes, 2)) return ArjHeaderResult::Damaged;
    std::uint16_t extendedSize = readU16(sizeBytes);
    while (extendedSize != 0) {
        // Skipping by reading: a seek past the file's end would succeed and
        // hide the truncation.
        std::size_t left = static_cast<std::size_t>(extendedSize) + 4;
        while (left > 0) {
            const std::size_t chunk = left < sizeof basic ? left : sizeof basic;
            if (!readExactly(archive, basic, chunk)) return ArjHeaderResult::Damaged;
            left -= chunk;
        }
        if (!readExactly(archive, sizeBytes, 2)) return ArjHeaderResult::Damaged;
        extendedSize = readU16(sizeBytes);
    }
    return ArjHeaderResult::Header;
}

long findArjMainHeader(const std::uint8_t* head, std::size_t length, const ArjCrc32& crc) {
    std::uint32_t positions = static_cast<std::uint32_t>(length) - static_cast<std::uint32_t>(kArjSearchSlack);
    if (positions > kArjSearchPositions) positions = kArjSearchPositions;
    for (std::size_t i = 0; i < positions; ++i) {
        // Nothing at or beyond `length` is looked at: the buffer may hold
        // stale bytes of an earlier, longer file there.
        if (i + 8 > length) break;
        if (head[i] != kIdFirst || head[i + 1] != kIdSecond) continue;
        const std::size_t size = readU16(head + i + 2);
        if (size > kArjMaxHeaderSize || size == 0 || i + 8 + size > length) continue;
        if (~crc.update(0xFFFFFFFFu, head + i + 4, size) == readU32(head + i + 4 + size)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}
