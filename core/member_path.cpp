#include "core/member_path.h"

#include <cstring>
#include <vector>

#include "core/narrow_text.h"
#include "core/output_files.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Appends text[0..length) to buffer at *used; false when it would not fit
// with the terminating NUL.
bool append(char* buffer, std::size_t capacity, std::size_t* used, const char* text,
            std::size_t length) {
    if (*used + length >= capacity) return false;
    std::memcpy(buffer + *used, text, length);
    *used += length;
    buffer[*used] = '\0';
    return true;
}

bool fail(char* buffer, std::size_t capacity) {
    if (capacity) buffer[0] = '\0';
    return false;
}

}  // namespace

bool joinMemberPath(char* buffer, std::size_t capacity, const char* destFolder,
                    const char* storedName, bool doubleByte) {
    if (capacity == 0) return false;
    std::size_t used = 0;
    buffer[0] = '\0';
    if (!append(buffer, capacity, &used, destFolder, std::strlen(destFolder))) {
        return fail(buffer, capacity);
    }
    const std::size_t destLength = used;

    const char* p = storedName;
    // A drive prefix would make the name absolute on the device.
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') p += 2;

    std::vector<std::size_t> componentStarts;
    bool endsWithSeparator = false;
    while (*p) {
        if (isSeparator(*p)) {
            endsWithSeparator = true;
            ++p;
            continue;
        }
        endsWithSeparator = false;
        const char* start = p;
        while (*p && !isSeparator(*p)) p = doubleByte ? nextChar(p) : p + 1;
        std::size_t length = static_cast<std::size_t>(p - start);
        if (length == 1 && start[0] == '.') continue;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            // Climb one level, but never above the destination. The stack
            // of component starts avoids scanning back over double-byte
            // characters whose second byte is 0x5C.
            if (!componentStarts.empty()) {
                used = componentStarts.back();
                componentStarts.pop_back();
                buffer[used] = '\0';
            }
            continue;
        }
        componentStarts.push_back(used);
        if (!append(buffer, capacity, &used, "\\", 1) ||
            !append(buffer, capacity, &used, start, length)) {
            return fail(buffer, capacity);
        }
    }
    if (used == destLength) return fail(buffer, capacity);
    if (endsWithSeparator && !append(buffer, capacity, &used, "\\", 1)) {
        return fail(buffer, capacity);
    }
    return true;
}

bool joinLastComponent(char* buffer, std::size_t capacity, const char* destFolder,
                       const char* storedName) {
    const char* last = storedName;
    for (const char* p = storedName; *p; p = nextChar(p)) {
        if (isSeparator(*p)) last = p + 1;
    }
    if (*last == '\0' || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0) {
        return fail(buffer, capacity);
    }
    if (!joinOutputPath(buffer, capacity, destFolder, last)) return false;
    // Bytes a file name may not hold become '_', as for every member path.
    char* p = buffer + std::strlen(buffer) - std::strlen(last);
    while (*p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (isLeadByte(byte) && p[1] != '\0') {
            p += 2;
            continue;
        }
        if (!isFileNameByte(byte)) *p = '_';
        ++p;
    }
    return true;
}

bool joinOutputPath(char* buffer, std::size_t capacity, const char* destFolder, const char* name) {
    if (capacity == 0) return false;
    std::size_t used = 0;
    buffer[0] = '\0';
    bool ok = append(buffer, capacity, &used, destFolder, std::strlen(destFolder));
    if (ok && name[0] != '\\') ok = append(buffer, capacity, &used, "\\", 1);
    if (ok) ok = append(buffer, capacity, &used, name, std::strlen(name));
    return ok ? true : fail(buffer, capacity);
}

bool namesSameFile(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (x == '/') x = '\\';
        if (y == '/') y = '\\';
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}
