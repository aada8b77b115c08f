// The cabinet reader's diagnostics: each is formatted into one global text
// buffer, replacing the one before; nothing in the program displays it.
// Results of the frame reading and of the method routines; the decoders'
// own results are converted to these where the reader calls them.
#pragma once

#include <cstddef>

#include "core/extraction_driver.h"

enum class CabResult {
    Ok,
    DataFormat,   // Quantum or unknown method, LZX window out of range, frame above 32,768 bytes
    IllegalData,  // corrupt data
    NoMemory,
    Checksum,     // a CFDATA block's checksum differs
    Input,        // a read failed, a frame gathered too much, a continuation cabinet is missing
    Output,       // a member could not be written
};

// Two full paths and the longest text around them.
constexpr std::size_t kCabMessageCapacity = 2 * kArchivePathCapacity + 64;

extern char cabMessageBuffer[kCabMessageCapacity];

// printf-style into the buffer, cut at its capacity.
void cabMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text for a result, about the folder whose first cabinet is path.
void cabResultMessage(CabResult result, const char* path);
