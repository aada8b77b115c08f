// The archive as one read-only file with a small read cache, shared by
// minizip (through its seekable byte-source callbacks) and by the reader's
// own reads of item data. minizip reads headers a field at a time and seeks
// between the central directory and each local header; the cache turns
// those into a few large reads.
#pragma once

#include <ioapi.h>

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

struct ZipByteSource;

// Opens path (a UTF-16 device path); nullptr when it cannot be read.
ZipByteSource* openZipByteSource(const WCHAR* path);
void closeZipByteSource(ZipByteSource* source);

// Reads exactly count bytes at offset; false on a read error or the end of
// the file. Large reads go straight into buffer.
bool readZipBytesAt(ZipByteSource* source, std::uint64_t offset, void* buffer, std::size_t count);

// Makes minizip see count bytes (at most 8) at offset as given, where the
// reader mends an end record; reads through readZipBytesAt see the file.
void patchZipBytesForDirectory(ZipByteSource* source, std::uint64_t offset, const std::uint8_t* bytes,
                               std::size_t count);

// The archive's size in bytes.
std::uint64_t zipByteSourceSize(const ZipByteSource* source);

// minizip's callbacks on source. The open callback hands out source itself
// and the close callback leaves it open: its owner closes it.
void fillZipByteSource(zlib_filefunc64_def* functions, ZipByteSource* source);
