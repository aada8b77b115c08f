#include "core/output_files.h"

#include <cstring>

#include "core/narrow_text.h"
#include "core/progress.h"
#include "platform/file_times.h"
#include "platform/files.h"

namespace {

// Seconds between 1601-01-01 and 1970-01-01, the two epochs.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000LL;

}  // namespace

std::FILE* openNarrow(const char* path, const char* mode) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(path, widePath, MAX_PATH)) return nullptr;
    std::FILE* stream = openDeviceStream(widePath, mode);
    if (!stream || (mode[0] == 'r' && !std::strchr(mode, '+'))) return stream;
    reportOutputCreated(widePath);
    return watchOutputStream(stream);
}

int openNarrowReadDescriptor(const char* path) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(path, widePath, MAX_PATH)) return -1;
    return openDeviceReadDescriptor(widePath);
}

void closeNarrowReadDescriptor(int descriptor) { closeDeviceReadDescriptor(descriptor); }

bool createFolder(const char* path) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(path, widePath, MAX_PATH)) return false;
    return CreateDirectoryW(widePath, nullptr) != FALSE;
}

bool isFileNameByte(unsigned char byte) {
    if (!((byte >= 0x20 && byte <= 0x7E) || (byte >= 0xA0 && byte <= 0xDF))) return false;
    return std::strchr(":*?\"<>|", byte) == nullptr;
}

char* sanitizePath(char* path) {
    // First the bytes: separators become '\\', bytes no file name may hold
    // become '_'. A double-byte character is stepped over whole, so that a
    // second byte 0x5C never splits a name.
    char* lastSeparator = nullptr;
    for (char* p = path; *p; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (isLeadByte(byte)) {
            if (p[1] == '\0') break;
            ++p;
            continue;
        }
        if (byte == '\\' || byte == '/') {
            *p = '\\';
            if (p != path) lastSeparator = p;
        } else if (!isFileNameByte(byte)) {
            *p = '_';
        }
    }
    if (lastSeparator == nullptr) return path;
    // Then the folders. Members of one folder follow each other, so the
    // deepest folder is tried first: when it is made, or is there already,
    // every folder above it is there too, and one call does for all levels.
    *lastSeparator = '\0';
    SetLastError(ERROR_SUCCESS);
    const bool deepestThere = createFolder(path) || GetLastError() == ERROR_ALREADY_EXISTS;
    *lastSeparator = '\\';
    if (deepestThere) return path;
    for (char* p = path; p < lastSeparator; ++p) {
        if (isLeadByte(static_cast<unsigned char>(*p))) {
            ++p;
            continue;
        }
        if (*p == '\\' && p != path) {
            *p = '\0';
            createFolder(path);
            *p = '\\';
        }
    }
    *lastSeparator = '\0';
    createFolder(path);
    *lastSeparator = '\\';
    return path;
}

char* outputNameFor(char* buffer, std::size_t capacity, const char* path, const char* suffix) {
    if (capacity == 0) return nullptr;
    const char* base = path;
    for (const char* p = path; *p; p = nextChar(p)) {
        if (*p == '\\' || *p == '/') base = p + 1;
    }
    std::size_t baseLength = std::strlen(base);
    if (!suffix) {
        const char* dot = nullptr;
        for (const char* p = base; *p; p = nextChar(p)) {
            if (*p == '.') dot = p;
        }
        if (dot) baseLength = static_cast<std::size_t>(dot - base);
    }
    std::size_t suffixLength = suffix ? 1 + std::strlen(suffix) : 0;
    if (baseLength + suffixLength >= capacity) {
        buffer[0] = '\0';
        return nullptr;
    }
    std::memmove(buffer, base, baseLength);
    if (suffix) {
        buffer[baseLength] = '.';
        std::memcpy(buffer + baseLength + 1, suffix, suffixLength - 1);
    }
    buffer[baseLength + suffixLength] = '\0';
    return buffer;
}

char* readLine(char* buffer, int size, std::FILE* file) {
    if (size < 1) return std::feof(file) ? nullptr : buffer;
    int stored = 0;
    while (stored < size - 1) {
        int c = std::getc(file);
        if (c == EOF || c == 0) break;
        if (c == '\n') break;
        if (c == '\r') {
            int following = std::getc(file);
            if (following != '\n' && following != EOF) std::ungetc(following, file);
            break;
        }
        buffer[stored++] = static_cast<char>(c);
    }
    buffer[stored] = '\0';
    return std::feof(file) ? nullptr : buffer;
}

void setAttributes(const char* path, DWORD attributes) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(path, widePath, MAX_PATH)) return;
    SetFileAttributesW(widePath, attributes);
}

void setFileTime(const char* path, const FILETIME& fileTime) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(path, widePath, MAX_PATH)) return;
    // As if opened for writing: a read-only or missing file keeps its time.
    setFileLastWriteTime(widePath, &fileTime);
}

void setFileTimeFromDos(const char* path, std::uint16_t dosDate, std::uint16_t dosTime) {
    SYSTEMTIME calendar{};
    calendar.wYear = static_cast<WORD>((dosDate >> 9) + 1980);
    calendar.wMonth = static_cast<WORD>((dosDate >> 5) & 15);
    calendar.wDay = static_cast<WORD>(dosDate & 31);
    calendar.wHour = static_cast<WORD>(dosTime >> 11);
    calendar.wMinute = static_cast<WORD>((dosTime >> 5) & 63);
    calendar.wSecond = static_cast<WORD>((dosTime & 31) * 2);
    FILETIME local;
    FILETIME utc;
    if (!SystemTimeToFileTime(&calendar, &local)) return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    setFileTime(path, utc);
}

FILETIME fileTimeFromUnix(std::int64_t unixTime) {
    std::int64_t seconds = unixTime + kEpochDifferenceSeconds;
    if (seconds < 0) seconds = 0;  // before 1601: the earliest file time
    std::uint64_t units = static_cast<std::uint64_t>(seconds) * kFileTimeUnitsPerSecond;
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return fileTime;
}

void setFileTimeFromUnix(const char* path, std::int64_t unixTime) {
    // A Unix time is UTC already: no time-zone arithmetic, so the file gets
    // exactly the stored second in every zone.
    setFileTime(path, fileTimeFromUnix(unixTime));
}
