#include "core/narrow_text.h"

#include <cstring>

#include "platform/text_conversion.h"

signed char leadTable[256];

void buildLeadTable() {
    for (int byte = 0; byte < 256; ++byte) {
        leadTable[byte] = isLeadByte(static_cast<unsigned char>(byte)) ? 2 : 1;
    }
    leadTable[0] = 0;
}

const char* nextChar(const char* p) {
    if (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') return p + 2;
    return *p ? p + 1 : p;
}

char* nextChar(char* p) { return const_cast<char*>(nextChar(static_cast<const char*>(p))); }

const char* lastCharOf(const char* s, char c) {
    const char* found = nullptr;
    for (const char* p = s; *p; p = nextChar(p)) {
        if (*p == c && !isLeadByte(static_cast<unsigned char>(*p))) found = p;
    }
    return found;
}

int toWide(const char* narrow, WCHAR* buffer, std::size_t capacity) {
    if (!buffer) return MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    if (capacity == 0) return 0;
    int limit = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, buffer, limit) == 0) {
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

int toNarrow(const WCHAR* wide, char* buffer, std::size_t capacity) {
    if (!buffer) return WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (capacity == 0) return 0;
    int limit = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, limit, nullptr, nullptr) == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

bool copyBounded(char* buffer, std::size_t capacity, const char* source) {
    if (capacity == 0) return false;
    std::size_t length = std::strlen(source);
    if (length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, source, length + 1);
    return true;
}
