#include "formats/tar/tar_header.h"

#include <cstring>
#include <limits>

namespace tar {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::size_t kSparsePrefixLength = 11;  // "GNU.sparse."

std::int64_t binaryField(const unsigned char* field, std::size_t length) {
    // The flag bit stands in for the sign: bit 6 of the first byte decides it.
    const bool negative = (field[0] & 0x40) != 0;
    std::int64_t value = negative ? static_cast<std::int64_t>(field[0] & 0x7F) - 0x80
                                  : static_cast<std::int64_t>(field[0] & 0x7F);
    for (std::size_t i = 1; i < length; ++i) {
        if (!negative && value > (kMax - 255) / 256) return kMax;
        if (negative && value < kMin / 256) return kMin;
        value = value * 256 + field[i];
    }
    return value;
}

bool keyIs(const char* key, std::size_t keyLength, const char* wanted) {
    return keyLength == std::strlen(wanted) && std::memcmp(key, wanted, keyLength) == 0;
}

}  // namespace

// Parses a decimal number from [p, end); false when there is no digit or
// another byte follows. Saturates at the 64-bit range.
bool decimal(const char* p, const char* end, std::uint64_t& value) {
    if (p == end) return false;
    value = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            value = std::numeric_limits<std::uint64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return true;
}

std::int64_t numericField(const unsigned char* field, std::size_t length) {
    if (length == 0) return 0;
    if (field[0] & 0x80) return binaryField(field, length);
    std::int64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = field[i];
        if (byte == ' ') continue;
        if (byte < '0' || byte > '7') break;
        if (value > (kMax >> 3)) return kMax;
        value = value * 8 + (byte - '0');
    }
    return value;
}

bool isZeroBlock(const unsigned char* block) {
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        if (block[i] != 0) return false;
    }
    return true;
}

bool checksumMatches(const unsigned char* block) {
    std::int64_t unsignedSum = ' ' * static_cast<std::int64_t>(kChecksumLength);
    std::int64_t signedSum = unsignedSum;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        if (i >= kChecksumOffset && i < kChecksumOffset + kChecksumLength) continue;
        unsignedSum += block[i];
        signedSum += static_cast<signed char>(block[i]);
    }
    const std::int64_t stored = numericField(block + kChecksumOffset, kChecksumLength);
    return stored == unsignedSum || stored == signedSum;
}

bool hasUstarPrefix(const unsigned char* block) {
    return std::memcmp(block + kMagicOffset, "ustar\0", 6) == 0;
}

bool parsePaxRecords(const char* data, std::size_t length, PaxOverrides& overrides) {
    std::size_t at = 0;
    while (at < length) {
        // "<length> " counts the whole record, its own digits and the
        // closing newline included.
        const char* record = data + at;
        const std::size_t left = length - at;
        std::size_t digits = 0;
        while (digits < left && record[digits] >= '0' && record[digits] <= '9') ++digits;
        if (digits == 0 || digits >= left || record[digits] != ' ') return false;
        std::uint64_t recordLength = 0;
        if (!decimal(record, record + digits, recordLength)) return false;
        if (recordLength <= digits + 1 || recordLength > left) return false;
        const char* end = record + recordLength - 1;  // the newline
        if (*end != '\n') return false;
        const char* key = record + digits + 1;
        const char* equals = static_cast<const char*>(std::memchr(key, '=', static_cast<std::size_t>(end - key)));
        if (equals == nullptr) return false;
        const std::size_t keyLength = static_cast<std::size_t>(equals - key);
        const char* value = equals + 1;
        const std::size_t valueLength = static_cast<std::size_t>(end - value);

        if (keyIs(key, keyLength, "path")) {
            overrides.hasPath = true;
            // A value with a zero byte inside would name something else.
            overrides.pathTooLong = valueLength >= PaxOverrides::kPathCapacity ||
                                    std::memchr(value, '\0', valueLength) != nullptr;
            const std::size_t kept = overrides.pathTooLong ? 0 : valueLength;
            std::memcpy(overrides.path, value, kept);
            overrides.path[kept] = '\0';
        } else if (keyIs(key, keyLength, "mtime")) {
            // Seconds, with an optional sign and fraction; the fraction is
            // below what a file time here keeps.
            const bool negative = valueLength > 0 && *value == '-';
            const char* digitsStart = value + (negative ? 1 : 0);
            const char* digitsEnd = static_cast<const char*>(std::memchr(digitsStart, '.', static_cast<std::size_t>(end - digitsStart)));
            if (digitsEnd == nullptr) digitsEnd = end;
            std::uint64_t seconds = 0;
            if (decimal(digitsStart, digitsEnd, seconds)) {
                if (seconds > static_cast<std::uint64_t>(kMax)) seconds = static_cast<std::uint64_t>(kMax);
                overrides.hasMtime = true;
                overrides.mtime = negative ? -static_cast<std::int64_t>(seconds) : static_cast<std::int64_t>(seconds);
            }
        } else if (keyLength > kSparsePrefixLength && std::memcmp(key, "GNU.sparse.", kSparsePrefixLength) == 0) {
            takeSparseRecord(key + kSparsePrefixLength, keyLength - kSparsePrefixLength, value, valueLength,
                             overrides.sparse);
        } else if (keyIs(key, keyLength, "size")) {
            std::uint64_t size = 0;
            if (decimal(value, end, size)) {
                overrides.hasSize = true;
                overrides.size = size;
            }
        }
        at += static_cast<std::size_t>(recordLength);
    }
    return true;
}

}  // namespace tar
