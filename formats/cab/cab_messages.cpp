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

void cabResultMessage(CabResult result, const char* path) {
    switch (result) {
    case CabResult::Ok: break;
    case CabResult::DataFormat: cabMessage("%s: unsupported data format\n", path); break;
    case CabResult::IllegalData: cabMessage("%s: illegal or corrupt data\n", path); break;
    case CabResult::NoMemory: cabMessage("out of memory!\n"); break;
    case CabResult::Checksum: cabMessage("%s: checksum error\n", path); break;
    case CabResult::Input: cabMessage("%s: input error\n", path); break;
    case CabResult::Output: cabMessage("%s: output error\n", path); break;
    }
}
