// The layer between handlers (narrow paths, stdio streams) and the file
// system: opening streams, creating folders, sanitising member paths,
// deriving output names, reading text lines, Unix times as file times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/win_types.h"

// Opens a narrow device path with runtime stdio ("rb", "wb", "w", ...).
// nullptr when the path cannot be converted or the file cannot be opened.
std::FILE* openNarrow(const char* path, const char* mode);
// A read-only descriptor for libraries that read by descriptor (zlib's gz
// reader); -1 when the path cannot be converted or opened.
int openNarrowReadDescriptor(const char* path);
// Closes such a descriptor when no library took it over.
void closeNarrowReadDescriptor(int descriptor);

// Creates one folder (not its parents).
bool createFolder(const char* path);

// True for the bytes a file name may hold as one-byte characters: 0x20-0x7E
// and the half-width katakana 0xA0-0xDF, less the seven of ":*?\"<>|".
bool isFileNameByte(unsigned char byte);

// Rewrites path in place: every `\` or `/` becomes `\` after the text in
// front of it has been created as a folder; bytes a file name may not hold
// become `_`; double-byte characters stay as they are.
char* sanitizePath(char* path);

// Base name of path (after its last `\` or `/`); with no suffix, cut at the
// dot that starts its extension; with a suffix, followed by "." and suffix.
// Returns buffer, or nullptr (buffer empty) when the result does not fit.
char* outputNameFor(char* buffer, std::size_t capacity, const char* path, const char* suffix);

// Reads one line (LF, CR or CR LF ends it, none of them stored; a zero byte
// is dropped). Returns buffer, or nullptr when the file's end was reached by
// this read; the text read so far is in buffer either way.
char* readLine(char* buffer, int size, std::FILE* file);

FILETIME fileTimeFromUnix(std::int64_t unixTime);
