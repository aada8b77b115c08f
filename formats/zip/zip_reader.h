// The ZIP reader layer: minizip walks the central directory and checks each
// local header; this layer describes items (names: zip_names, times and
// sizes: zip_extra_fields) and has them written (zip_item_output). One
// archive per handle; one item at a time.
#pragma once

#include <cstdint>

#include "formats/zip/zip_result.h"
#include "platform/win_types.h"

struct ZipItem {
    // Position in the central directory from 0; for index -1 the item count.
    std::int32_t index;
    // Stored path, decoded, after the name-safety rules, separators as
    // stored.
    WCHAR name[MAX_PATH];
    // 0x01 read-only, 0x02 hidden, 0x04 system, 0x10 folder, 0x20 archive.
    DWORD attributes;
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME modifyTime;
    // 64-bit so that items past 4 GiB (Zip64) keep their sizes.
    std::int64_t compressedSize;
    std::int64_t uncompressedSize;
};

struct ZipReader;

constexpr std::uint32_t kZipReadHandleKind = 1;

struct ZipHandle {
    std::uint32_t kind;
    ZipReader* reader;
};

// Opens the archive for shared reading and reads its central directory.
// password is 8-bit text or nullptr; the reader keeps its own copy. nullptr
// when the file is missing or is no readable ZIP archive.
ZipHandle* openZipArchive(const WCHAR* path, const char* password);

// The folder that item names are placed below.
ZipResult setZipBaseFolder(ZipHandle* handle, const WCHAR* folder);

// index -1: item.index receives the item count. 0..count-1: describes that
// item. NotFound when the central directory ends before the item (a walk
// should stop there); NoFile when its name is too long for a path.
ZipResult queryZipItem(ZipHandle* handle, std::int32_t index, ZipItem* item);

// Writes item index as fileName below the base folder; the name is always
// confined below it, whatever it holds. The password is checked before the
// target is created; the data's CRC-32 and size are checked at its end.
ZipResult extractZipItem(ZipHandle* handle, std::int32_t index, const WCHAR* fileName);

// Closes the archive and destroys the reader and the handle.
ZipResult closeZipArchive(ZipHandle* handle);
