// ARJ headers: the CRC-32 that guards them, the search for the main header
// (self-extracting archives keep a program in front of it) and the reading
// of one basic header with its chain of extended headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The standard reflected CRC-32 (polynomial 0xEDB88320), as ARJ headers and
// member data use it. The register starts at 0xFFFFFFFF and is inverted at
// the end.
class ArjCrc32 {
public:
    ArjCrc32();
    std::uint32_t update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) const;

private:
    std::uint32_t table[256];
};

// The largest basic header an ARJ archive may hold.
constexpr std::size_t kArjMaxHeaderSize = 2600;
// The search window: so many bytes more than the positions searched, so that
// a header found at the last position still fits with its CRC.
constexpr std::size_t kArjSearchPositions = 50000;
constexpr std::size_t kArjSearchSlack = 2602;
// Stored names this long or longer are refused rather than cut.
constexpr std::size_t kArjNameCapacity = 512;

enum ArjHostOs : std::uint8_t {
    kArjHostMsDos = 0,
    kArjHostUnix = 2,
    kArjHostNext = 8,
    kArjHostWin95 = 10,
};

enum ArjFileType : std::uint8_t {
    kArjBinary = 0,
    kArjText = 1,
    kArjMainHeader = 2,
    kArjDirectory = 3,
};

enum ArjFlags : std::uint8_t {
    kArjGarbled = 0x01,
    // The member goes on in the next volume / began in the previous one.
    kArjContinuesInNextVolume = 0x04,
    kArjContinuedFromPreviousVolume = 0x08,
};

struct ArjHeader {
    std::uint16_t headerSize;
    std::uint8_t firstHeaderSize;
    std::uint8_t archiverVersion;
    std::uint8_t extractVersion;
    std::uint8_t hostOs;
    std::uint8_t flags;
    std::uint8_t method;
    std::uint8_t fileType;
    std::uint32_t timeStamp;  // DOS date and time, or Unix time from Unix hosts
    std::uint32_t packedSize;
    std::uint32_t unpackedSize;
    std::uint32_t fileCrc;
    std::uint16_t accessMode;
    // Where a continuation piece belongs in its file (header fields past
    // the first 30 bytes; 0 when the header is too short to hold it).
    std::uint32_t volumeOffset;
    // NUL-terminated; empty with nameTooLong when the stored name does not fit.
    char name[kArjNameCapacity];
    bool nameTooLong;
};

enum class ArjHeaderResult {
    Header,
    // A basic header size of 0: the archive's own end.
    EndOfArchive,
    // Wrong id, oversized, failed CRC, or the file ended inside the header
    // or its extended-header chain (an end with no end marker counts too).
    Damaged,
};

// Reads one header at the stream's position; on Header the stream stands at
// the member's data, after the extended headers.
ArjHeaderResult readArjHeader(std::FILE* archive, const ArjCrc32& crc, ArjHeader& header);

// Offset of the main header among the first `length` bytes of head, or -1.
// The positions searched are min(length - 2,602, 50,000), that difference
// taken as an unsigned 32-bit number; a header counts only when it lies with
// its CRC inside `length` bytes and its CRC matches.
long findArjMainHeader(const std::uint8_t* head, std::size_t length, const ArjCrc32& crc);
