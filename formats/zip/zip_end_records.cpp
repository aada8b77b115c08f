#include "formats/zip/zip_end_records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/zip/zip_little_endian.h"

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64RecordSize = 56;
constexpr std::size_t kLongestComment = 65535;

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
    const bool atMaximum = zipRead16(record + 4) == 0xFFFF || zipRead16(record + 6) == 0xFFFF ||
                           zipRead16(record + 8) == 0xFFFF || zipRead16(record + 10) == 0xFFFF ||
                           zipRead32(record + 12) == 0xFFFFFFFFu || zipRead32(record + 16) == 0xFFFFFFFFu;
    const std::size_t locatorAt = end - kLocatorSize;
    const std::uint8_t* locator = &tail[locatorAt];
    if (!atMaximum || !signatureAt(locator, 6, 7) || zipRead32(locator + 4) != 0 || zipRead32(locator + 16) == 1) return;

    const std::uint64_t zip64At = zipRead64(locator + 8);
    if (zip64At > tailStart + locatorAt || tailStart + locatorAt - zip64At < kZip64RecordSize) return;
    std::uint8_t zip64[kZip64RecordSize];
    if (!readZipBytesAt(source, zip64At, zip64, sizeof zip64)) return;
    if (!signatureAt(zip64, 6, 6) || zipRead32(zip64 + 16) != 0 || zipRead32(zip64 + 20) != 0 ||
        zipRead64(zip64 + 24) != zipRead64(zip64 + 32)) {
        return;
    }
    const std::uint8_t oneDisk[4] = {1, 0, 0, 0};
    patchZipBytesForDirectory(source, tailStart + locatorAt + 16, oneDisk, sizeof oneDisk);
}
