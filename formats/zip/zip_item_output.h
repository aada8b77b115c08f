// One item's data from the archive to its target: the password check,
// decryption, inflation, the CRC-32 and size checks, and the file itself
// through the member-output service.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "core/member_output.h"
#include "formats/zip/zip_byte_source.h"
#include "formats/zip/zip_result.h"
#include "platform/win_types.h"

// What writing an item needs of its central entry and local header.
struct ZipItemData {
    std::uint32_t flag = 0;
    std::uint32_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t dosDate = 0;  // date in the high 16 bits
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t dataOffset = 0;  // of the stored data, encryption header included
    bool decodable = false;        // stored or deflated, no strong encryption
};

// The working state that lives as long as a reader: the inflater and the
// buffers, allocated with the first item written.
struct ZipItemWriter {
    ZipItemWriter() = default;
    ~ZipItemWriter();
    ZipItemWriter(const ZipItemWriter&) = delete;
    ZipItemWriter& operator=(const ZipItemWriter&) = delete;

    z_stream inflater{};
    bool inflaterReady = false;
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> held;
};

// Writes the decodable file item data as name through output, with the
// given times and attribute bits (read-only, hidden, system). password is
// nullptr when none was given. The password is checked before the target
// exists, so a wrong one leaves an existing file of that name as it was; a
// target whose data fails is abandoned, never given its time.
ZipResult writeZipItem(ZipItemWriter& writer, ZipByteSource* source, const ZipItemData& data,
                       const char* password, MemberOutput& output, const WCHAR* name,
                       const FILETIME& modifyTime, const FILETIME& accessTime, DWORD attributes);
