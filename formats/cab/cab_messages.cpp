#include "formats/cab/cab_messages.h"

#include <cstdarg>
#include <cstdio>

char cabMessageBuffer[kCabMessageCapacity];

void cabMessage(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(cabMessageBuffer, sizeof cabMessageBuffer, format, arguments);
    va_end(arguments);
}

void cabResultMessage(int code, const char* path) {
    switch (code) {
    case kCabOk: break;
    case kCabDataFormat: cabMessage("%s: unsupported data format\n", path); break;
    case kCabIllegalData: cabMessage("%s: illegal or corrupt data\n", path); break;
    case kCabNoMemory: cabMessage("out of memory!\n"); break;
    case kCabChecksum: cabMessage("%s: checksum error\n", path); break;
    case kCabInput: cabMessage("%s: input error\n", path); break;
    case kCabOutput: cabMessage("%s: output error\n", path); break;
    default: cabMessage("%s: unknown error (BUG)\n", path); break;
    }
}
