// Result codes of the ZIP reader layer and their texts. Every reader
// operation returns one and keeps it as lastZipResult.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

using ZipResult = std::uint32_t;

constexpr ZipResult ZRES_OK = 0x00000000;
constexpr ZipResult ZRES_RECENT = 0x00000001;  // asks zipResultText for lastZipResult
constexpr ZipResult ZRES_NO_DUPLICATE = 0x00000100;
constexpr ZipResult ZRES_NO_FILE = 0x00000200;
constexpr ZipResult ZRES_NO_MEMORY = 0x00000300;
constexpr ZipResult ZRES_WRITE = 0x00000400;
constexpr ZipResult ZRES_NOT_FOUND = 0x00000500;
constexpr ZipResult ZRES_MORE = 0x00000600;
constexpr ZipResult ZRES_CORRUPT = 0x00000700;
constexpr ZipResult ZRES_READ = 0x00000800;
// An item stored with a method or an encryption this reader cannot decode
// (bzip2, LZMA, AES, ...): refused rather than written as garbage.
constexpr ZipResult ZRES_UNSUPPORTED = 0x00000900;
constexpr ZipResult ZRES_PASSWORD = 0x00001000;
constexpr ZipResult ZRES_ARGS = 0x00010000;
constexpr ZipResult ZRES_NOT_MEMORY_ARCHIVE = 0x00020000;
constexpr ZipResult ZRES_MEMORY_SIZE = 0x00030000;
constexpr ZipResult ZRES_FAILED = 0x00040000;
constexpr ZipResult ZRES_ENDED = 0x00050000;
constexpr ZipResult ZRES_WRONG_SIZE = 0x00060000;
constexpr ZipResult ZRES_PARTIAL = 0x00070000;
constexpr ZipResult ZRES_MODE = 0x00080000;
constexpr ZipResult ZRES_NOT_INITIALISED = 0x01000000;
constexpr ZipResult ZRES_SEEK = 0x02000000;
constexpr ZipResult ZRES_NO_CHANGE = 0x04000000;
constexpr ZipResult ZRES_FLATE = 0x05000000;

// The result of the most recent reader operation.
extern ZipResult lastZipResult;

// Copies the text of code (ZRES_RECENT: of lastZipResult) into buffer, at
// most capacity-1 units and a terminator, when buffer and capacity are given.
// Returns the full length of the text in units.
std::size_t zipResultText(ZipResult code, WCHAR* buffer, std::size_t capacity);
