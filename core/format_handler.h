// The handler interface: one object per file format, chained into the
// HandlerList in a fixed order that decides ties in detection.
#pragma once

#include <cstdint>

#include "platform/ascii_case.h"

class FormatHandler {
public:
    explicit FormatHandler(const char* handlerName) : name(handlerName) {}
    // Destroying a handler destroys its successors first, so destroying the
    // head releases the whole list.
    virtual ~FormatHandler();

    FormatHandler(const FormatHandler&) = delete;
    FormatHandler& operator=(const FormatHandler&) = delete;

    // ext: the file's extension without the dot, never empty, never "exe".
    virtual bool matchesExtension(const char* ext);
    // The SniffBuffer holds the file's first min(fileSize, 1 MiB) bytes;
    // fileSize is at least 1.
    virtual bool probe(const char* path, std::int32_t fileSize) = 0;
    // destFolder has no trailing separator ("" for the root). Non-zero on
    // success, 0 on failure.
    virtual int extract(const char* path, const char* destFolder) = 0;

    const char* const name;
    FormatHandler* next = nullptr;
};

// Links handler behind the last handler of the list that starts at list.
void appendHandler(FormatHandler* list, FormatHandler* handler);

// The text after the last `.` that follows the last `\` or `/` of path, or the
// empty string at the end of path. Double-byte characters are stepped over.
const char* extensionOf(const char* path);

