// The TAR header block and the records that carry more than it can hold:
// field decoding, the checksum, and the pax extended-header records. Nothing
// here reads a stream; the reader hands in blocks and record data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/tar/tar_sparse.h"

namespace tar {

constexpr std::size_t kBlockSize = 512;

// Offsets and lengths of the header fields the reader uses.
constexpr std::size_t kNameOffset = 0, kNameLength = 100;
constexpr std::size_t kModeOffset = 100, kModeLength = 8;
constexpr std::size_t kSizeOffset = 124, kSizeLength = 12;
constexpr std::size_t kMtimeOffset = 136, kMtimeLength = 12;
constexpr std::size_t kChecksumOffset = 148, kChecksumLength = 8;
constexpr std::size_t kTypeflagOffset = 156;
constexpr std::size_t kMagicOffset = 257;
constexpr std::size_t kPrefixOffset = 345, kPrefixLength = 155;

// Mode bits: a directory, and the owner's write permission.
constexpr std::uint32_t kModeDirectory = 040000;
constexpr std::uint32_t kModeOwnerWrite = 0200;

// A numeric field. Octal digits accumulate with spaces skipped wherever they
// stand, and any other byte ends the field (an empty field is 0). A first
// byte with its top bit set marks the big-endian binary form that GNU tar
// uses for values too large for the octal digits (0xFF: negative, two's
// complement). Values beyond the 64-bit range saturate.
std::int64_t numericField(const unsigned char* field, std::size_t length);

// A decimal number filling [p, end) exactly: false when there is no digit or
// another byte is there. Saturates at the 64-bit range, so that a value
// beyond any file is still refused by the checks that follow.
bool decimal(const char* p, const char* end, std::uint64_t& value);

bool isZeroBlock(const unsigned char* block);

// The stored checksum equals the sum of the header bytes with the checksum
// field counted as eight spaces, summed as unsigned bytes (as every writer
// does) or as signed bytes (as some historic writers did).
bool checksumMatches(const unsigned char* block);

// True when the block carries the POSIX "ustar\0" magic, whose prefix field
// holds the leading folders of a name longer than 100 bytes. (The older GNU
// magic "ustar  " uses that area for other data.)
bool hasUstarPrefix(const unsigned char* block);

// What a pax extended header ('x') says about the entry that follows it.
struct PaxOverrides {
    static constexpr std::size_t kPathCapacity = 1024;
    bool hasPath = false;
    bool pathTooLong = false;     // a path that cannot be used as it stands
    char path[kPathCapacity] = {};  // UTF-8, as the format stores it
    bool hasMtime = false;
    std::int64_t mtime = 0;
    bool hasSize = false;
    std::uint64_t size = 0;
    PaxSparse sparse;
};

// Reads the "<length> <key>=<value>\n" records of data[0..length). Parsing
// stops at the first malformed record; what came before it stays. Returns
// false when a malformed record was met.
bool parsePaxRecords(const char* data, std::size_t length, PaxOverrides& overrides);

}  // namespace tar
