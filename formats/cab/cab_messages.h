// The cabinet reader's diagnostics: each is formatted into one global text
// buffer, replacing the one before; nothing in the program displays it.
// Result codes of the frame reading and of the method routines, shared by
// the reader and its decoders.
#pragma once

#include <cstddef>

#include "core/extraction_driver.h"

enum CabResult : int {
    kCabOk = 0,
    kCabDataFormat = 1,
    kCabIllegalData = 2,
    kCabNoMemory = 3,
    kCabChecksum = 4,
    kCabInput = 5,
    kCabOutput = 6,
};

// Two full paths and the longest text around them.
constexpr std::size_t kCabMessageCapacity = 2 * kArchivePathCapacity + 64;

extern char cabMessageBuffer[kCabMessageCapacity];

// printf-style into the buffer, cut at its capacity.
void cabMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text for a result code, about the folder whose first cabinet is path.
void cabResultMessage(int code, const char* path);
