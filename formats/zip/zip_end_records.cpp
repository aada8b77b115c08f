#include "formats/zip/zip_end_records.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64RecordSize = 56;
constexpr std::size_t kLongestComment = 65535;

std::uint32_t read16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t read64(const std::uint8_t* p) { return read32(p) | (static_cast<std::uint64_t>(read32(p + 4)) << 32); }

bool signatureAt(const std::uint8_t* p, std::uint8_t third, std::uint8_t fourth) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

}  // namespace

void mendZip64EndRecords(ZipByteSource* source) {
    const std::uint64_t size = zipByteSourceSize(source);
    if (size < kEndRecordSize + kLocatorSize + kZip64RecordSize) return;
    const std::size_t tailLength =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndRecordSize + kLongestComment + kLocatorSize));
    std::vector<std::uint8_t> tail(tailLength);
    const std::uint64_t tailStart = size - tailLength;
    if (!readZipBytesAt(source, tailStart, tail.data(), tailLength)) return;

    // The classic end record nearest the end, with a locator right before it.
    std::size_t end = tailLength - kEndRecordSize + 1;
    do {
        --end;
    } while (end > kLocatorSize && !signatureAt(&tail[end], 5, 6));
    if (end <= kLocatorSize || !signatureAt(&tail[end], 5, 6)) return;
    const std::uint8_t* record = &tail[end];
    const bool atMaximum = read16(record + 4) == 0xFFFF || read16(record + 6) == 0xFFFF ||
                           read16(record + 8) == 0xFFFF || read16(record + 10) == 0xFFFF ||
                           read32(record + 12) == 0xFFFFFFFFu || read32(record + 16) == 0xFFFFFFFFu;
    const std::size_t locatorAt = end - kLocatorSize;
    const std::uint8_t* locator = &tail[locatorAt];
    if (!atMaximum || !signatureAt(locator, 6, 7) || read32(locator + 4) != 0 || read32(locator + 16) == 1) return;

    const std::uint64_t zip64At = read64(locator + 8);
    if (zip64At > tailStart + locatorAt || tailStart + locatorAt - zip64At < kZip64RecordSize) return;
    std::uint8_t zip64[kZip64RecordSize];
    if (!readZipBytesAt(source, zip64At, zip64, sizeof zip64)) return;
    if (!signatureAt(zip64, 6, 6) || read32(zip64 + 16) != 0 || read32(zip64 + 20) != 0 ||
        read64(zip64 + 24) != read64(zip64 + 32)) {
        return;
    }
    const std::uint8_t oneDisk[4] = {1, 0, 0, 0};
    patchZipBytesForDirectory(source, tailStart + locatorAt + 16, oneDisk, sizeof oneDisk);
}
