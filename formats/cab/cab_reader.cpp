#include "formats/cab/cab_reader.h"

#include <cstring>
#include <new>

#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/cab/cab_messages.h"

namespace {

constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFolderEntrySize = 8;
constexpr std::size_t kFileEntrySize = 16;
// The header fields the search checks lie in the first 20 bytes.
constexpr std::size_t kSearchSpan = 20;
constexpr std::size_t kSearchChunk = 65536;
constexpr std::uint32_t kHeaderReserveWarning = 60000;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool isSignature(const std::uint8_t* p) { return p[0] == 'M' && p[1] == 'S' && p[2] == 'C' && p[3] == 'F'; }

// The first offset at which a plausible cabinet header stands: its stated
// size (plus the 20 header bytes the search looks at) ends before the file
// does and its first member entry lies inside that size.
bool findEmbeddedHeader(std::FILE* file, std::uint64_t fileLength, std::uint64_t* base) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    static std::uint8_t window[kSearchSpan + kSearchChunk];
    std::uint64_t windowStart = 0;
    std::size_t held = 0;
    for (;;) {
        const std::size_t got = std::fread(window + held, 1, kSearchChunk, file);
        if (got == 0) return false;
        held += got;
        if (held >= kSearchSpan) {
            for (std::size_t i = 0; i + kSearchSpan <= held; ++i) {
                const std::uint8_t* p = window + i;
                if (!isSignature(p)) continue;
                const std::uint32_t cabinetSize = le32(p + 8);
                const std::uint32_t firstFile = le32(p + 16);
                const std::uint64_t at = windowStart + i;
                if (at + kSearchSpan + cabinetSize < fileLength &&
                    static_cast<std::int32_t>(firstFile) < static_cast<std::int32_t>(cabinetSize)) {
                    *base = at;
                    return true;
                }
            }
            const std::size_t keep = kSearchSpan - 1;
            std::memmove(window, window + held - keep, keep);
            windowStart += held - keep;
            held = keep;
        }
    }
}

// A NUL-terminated text of any length from the current position; the file
// is left just after the NUL. nullptr when the file ends first (recorded as
// truncation) or memory runs out.
char* readText(std::FILE* file, const char* path) {
    const long start = std::ftell(file);
    if (start < 0) return nullptr;
    std::size_t length = 0;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) {
            cabMessage("%s: WARNING; cabinet is truncated\n", path);
            return nullptr;
        }
        if (c == 0) break;
        ++length;
    }
    char* text = new (std::nothrow) char[length + 1];
    if (text == nullptr) return nullptr;
    if (std::fseek(file, start, SEEK_SET) != 0 || std::fread(text, 1, length + 1, file) != length + 1) {
        delete[] text;
        return nullptr;
    }
    return text;
}

bool skipBytes(std::FILE* file, std::uint32_t count) {
    return count == 0 || std::fseek(file, static_cast<long>(count), SEEK_CUR) == 0;
}

bool readEntries(std::FILE* file, Cabinet& cabinet, std::uint64_t base, std::uint8_t folderReserve) {
    const char* path = cabinet.path;
    cabinet.folders = new (std::nothrow) CabFolder[cabinet.folderCount];
    cabinet.files = new (std::nothrow) CabFile[cabinet.fileCount];
    if (cabinet.folders == nullptr || cabinet.files == nullptr) {
        std::fputs("out of memory!\n", stdout);
        return false;
    }
    for (std::uint16_t i = 0; i < cabinet.folderCount; ++i) {
        std::uint8_t entry[kFolderEntrySize];
        if (!readCabinetBytes(file, entry, sizeof entry, path) || !skipBytes(file, folderReserve)) return false;
        CabFolder& folder = cabinet.folders[i];
        folder.parts[0] = CabFolderPart{&cabinet, base + le32(entry), le16(entry + 4)};
        folder.compressionType = le16(entry + 6);
        folder.next = i + 1 < cabinet.folderCount ? &cabinet.folders[i + 1] : nullptr;
    }
    // The member entries follow the last folder entry directly.
    for (std::uint16_t i = 0; i < cabinet.fileCount; ++i) {
        std::uint8_t entry[kFileEntrySize];
        if (!readCabinetBytes(file, entry, sizeof entry, path)) return false;
        CabFile& member = cabinet.files[i];
        member.length = le32(entry);
        member.offset = le32(entry + 4);
        member.folderIndex = le16(entry + 8);
        member.date = le16(entry + 10);
        member.time = le16(entry + 12);
        member.attributes = le16(entry + 14);
        member.name = readText(file, path);
        if (member.name == nullptr) return false;
    }
    return true;
}

bool readCabinet(std::FILE* file, Cabinet& cabinet) {
    const char* path = cabinet.path;
    std::uint8_t signature[4];
    std::uint64_t base = 0;
    if (std::fread(signature, 1, 4, file) != 4 || !isSignature(signature)) {
        if (!findEmbeddedHeader(file, cabinet.fileLength, &base)) {
            cabMessage("%s: not a Microsoft cabinet file\n", path);
            return false;
        }
    }
    if (std::fseek(file, static_cast<long>(base), SEEK_SET) != 0) return false;

    std::uint8_t header[kHeaderSize];
    if (!readCabinetBytes(file, header, sizeof header, path)) return false;
    cabinet.folderCount = le16(header + 26);
    cabinet.fileCount = le16(header + 28);
    cabinet.flags = le16(header + 30);
    if (cabinet.folderCount == 0) {
        cabMessage("%s: no folders in cabinet\n", path);
        return false;
    }
    if (cabinet.fileCount == 0) {
        cabMessage("%s: no files in cabinet\n", path);
        return false;
    }
    const std::uint8_t minor = header[24];
    const std::uint8_t major = header[25];
    if (major > 1 || (major == 1 && minor > 3)) cabMessage("%s: WARNING; cabinet format version > 1.3\n", path);

    std::uint8_t folderReserve = 0;
    if (cabinet.flags & kCabFlagReserve) {
        std::uint8_t sizes[4];
        if (!readCabinetBytes(file, sizes, sizeof sizes, path)) return false;
        const std::uint16_t headerReserve = le16(sizes);
        if (headerReserve > kHeaderReserveWarning) cabMessage("%s: WARNING; header reserved space > 60000\n", path);
        folderReserve = sizes[2];
        cabinet.blockReserve = sizes[3];
        if (!skipBytes(file, headerReserve)) return false;
    }
    if (cabinet.flags & kCabFlagPrevious) {
        cabinet.previousName = readText(file, path);
        if (cabinet.previousName == nullptr) return false;
        cabinet.previousDisk = readText(file, path);
    }
    if (cabinet.flags & kCabFlagNext) {
        cabinet.nextName = readText(file, path);
        if (cabinet.nextName == nullptr) return false;
        cabinet.nextDisk = readText(file, path);
    }
    return readEntries(file, cabinet, base, folderReserve);
}

}  // namespace

Cabinet::~Cabinet() {
    delete[] previousName;
    delete[] previousDisk;
    delete[] nextName;
    delete[] nextDisk;
    delete[] folders;
    if (files != nullptr) {
        for (std::uint16_t i = 0; i < fileCount; ++i) delete[] files[i].name;
        delete[] files;
    }
}

std::FILE* openCabinetFile(char* path, std::uint64_t* fileLength) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) {
        // Names written on other systems often differ from the file's in
        // case only; try the all-lowercase spelling once.
        const char* slash = lastCharOf(path, '/');
        const char* backslash = lastCharOf(path, '\\');
        const char* separator = slash > backslash ? slash : backslash;
        for (char* p = separator ? path + (separator - path) + 1 : path; *p; p = nextChar(p)) {
            if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
        }
        file = openNarrow(path, "rb");
        if (file == nullptr) return nullptr;
    }
    if (std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return nullptr;
    }
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    *fileLength = static_cast<std::uint64_t>(length);
    return file;
}

bool readCabinetBytes(std::FILE* file, void* buffer, std::size_t count, const char* path) {
    if (std::fread(buffer, 1, count, file) == count) return true;
    // Reading on with what remains would pass an earlier read's bytes off as
    // this one's.
    cabMessage("%s: WARNING; cabinet is truncated\n", path);
    return false;
}

Cabinet* loadCabinet(const char* path) {
    Cabinet* cabinet = new (std::nothrow) Cabinet;
    if (cabinet == nullptr) return nullptr;
    if (!copyBounded(cabinet->path, sizeof cabinet->path, path)) {
        delete cabinet;
        return nullptr;
    }
    std::FILE* file = openCabinetFile(cabinet->path, &cabinet->fileLength);
    if (file == nullptr) {
        delete cabinet;
        return nullptr;
    }
    const bool loaded = readCabinet(file, *cabinet);
    std::fclose(file);
    if (!loaded) {
        delete cabinet;
        return nullptr;
    }
    return cabinet;
}
