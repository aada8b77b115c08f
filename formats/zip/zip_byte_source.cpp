#include "formats/zip/zip_byte_source.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Two windows: one follows the central directory, the other the local
// headers and small items, so neither evicts the other on every item.
constexpr std::size_t kWindowCount = 2;
constexpr std::size_t kWindowSize = 64 * 1024;

}  // namespace

struct ZipByteSource {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::uint64_t size = 0;
    std::uint64_t position = 0;  // minizip's position
    std::uint64_t filePointer = 0;  // where the handle stands
    int error = 0;
    struct Window {
        std::uint64_t start = 0;
        std::size_t length = 0;
        std::uint64_t lastUse = 0;
        std::uint8_t bytes[kWindowSize];
    } windows[kWindowCount];
    std::uint64_t uses = 0;
    struct Patch {
        std::uint64_t offset = 0;
        std::size_t count = 0;
        std::uint8_t bytes[8] = {};
    } patches[2];
    std::size_t patchCount = 0;
};

namespace {

bool readRaw(ZipByteSource& source, std::uint64_t offset, std::uint8_t* buffer, std::size_t count,
             std::size_t& got) {
    got = 0;
    if (offset != source.filePointer) {
        LONG high = static_cast<LONG>(static_cast<DWORD>(offset >> 32));
        if (SetFilePointer(source.file, static_cast<LONG>(static_cast<DWORD>(offset)), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != ERROR_SUCCESS) {
            return false;
        }
        source.filePointer = offset;
    }
    while (got < count) {
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(count - got, 0x40000000u));
        DWORD read = 0;
        if (!ReadFile(source.file, buffer + got, asked, &read, nullptr)) return false;
        source.filePointer += read;
        got += read;
        if (read == 0) break;
    }
    return true;
}

// The window holding offset, loaded when none does; nullptr on a read error
// or at the end of the file.
ZipByteSource::Window* windowFor(ZipByteSource& source, std::uint64_t offset) {
    ZipByteSource::Window* chosen = &source.windows[0];
    for (ZipByteSource::Window& window : source.windows) {
        if (window.length > 0 && offset >= window.start && offset - window.start < window.length) {
            window.lastUse = ++source.uses;
            return &window;
        }
        if (window.lastUse < chosen->lastUse) chosen = &window;
    }
    if (offset >= source.size) return nullptr;
    std::size_t got = 0;
    chosen->length = 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, source.size - offset));
    if (!readRaw(source, offset, chosen->bytes, wanted, got) || got == 0) return nullptr;
    chosen->start = offset;
    chosen->length = got;
    chosen->lastUse = ++source.uses;
    return chosen;
}

// Reads up to count bytes at offset; returns how many were read.
std::size_t readAt(ZipByteSource& source, std::uint64_t offset, std::uint8_t* buffer, std::size_t count,
                   bool& failed) {
    failed = false;
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        const std::size_t left = count - done;
        if (left >= kWindowSize) {
            // Beyond a window's worth nothing is gained by caching.
            std::size_t got = 0;
            if (!readRaw(source, at, buffer + done, left, got)) failed = true;
            return done + got;
        }
        ZipByteSource::Window* window = windowFor(source, at);
        if (window == nullptr) {
            failed = at < source.size;
            return done;
        }
        const std::size_t inside = static_cast<std::size_t>(at - window->start);
        const std::size_t piece = std::min(left, window->length - inside);
        std::memcpy(buffer + done, window->bytes + inside, piece);
        done += piece;
    }
    return done;
}

voidpf ZCALLBACK openSource(voidpf opaque, const void* path, int mode) {
    // The reader only ever reads an existing archive.
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || path == nullptr) return nullptr;
    ZipByteSource* source = static_cast<ZipByteSource*>(opaque);
    source->position = 0;
    source->error = 0;
    return source;
}

uLong ZCALLBACK readSource(voidpf, voidpf stream, void* buffer, uLong size) {
    ZipByteSource* source = static_cast<ZipByteSource*>(stream);
    bool failed = false;
    const std::size_t got = readAt(*source, source->position, static_cast<std::uint8_t*>(buffer), size, failed);
    if (failed) source->error = 1;
    for (std::size_t i = 0; i < source->patchCount; ++i) {
        const ZipByteSource::Patch& patch = source->patches[i];
        for (std::size_t k = 0; k < patch.count; ++k) {
            const std::uint64_t at = patch.offset + k;
            if (at >= source->position && at - source->position < got) {
                static_cast<std::uint8_t*>(buffer)[at - source->position] = patch.bytes[k];
            }
        }
    }
    source->position += got;
    return static_cast<uLong>(got);
}

uLong ZCALLBACK writeSource(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellSource(voidpf, voidpf stream) { return static_cast<ZipByteSource*>(stream)->position; }

long ZCALLBACK seekSource(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ZipByteSource* source = static_cast<ZipByteSource*>(stream);
    // minizip's backward moves arrive as the unsigned form of a negative
    // distance; unsigned wrap-around gives the right target.
    std::uint64_t base;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = source->position; break;
        case ZLIB_FILEFUNC_SEEK_END: base = source->size; break;
        default: return -1;
    }
    const std::uint64_t target = base + offset;
    // A position before the start is refused, as the device refuses it; one
    // past the end is allowed and reads nothing.
    if (target > 0x7FFFFFFFFFFFFFFFull) return -1;
    source->position = target;
    return 0;
}

int ZCALLBACK closeSource(voidpf, voidpf) { return 0; }

int ZCALLBACK sourceError(voidpf, voidpf stream) { return static_cast<ZipByteSource*>(stream)->error; }

}  // namespace

ZipByteSource* openZipByteSource(const WCHAR* path) {
    if (path == nullptr) return nullptr;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == 0xFFFFFFFFu && GetLastError() != ERROR_SUCCESS) {
        CloseHandle(file);
        return nullptr;
    }
    ZipByteSource* source = new (std::nothrow) ZipByteSource;
    if (source == nullptr) {
        CloseHandle(file);
        return nullptr;
    }
    source->file = file;
    source->size = (static_cast<std::uint64_t>(high) << 32) | low;
    return source;
}

void closeZipByteSource(ZipByteSource* source) {
    if (source == nullptr) return;
    CloseHandle(source->file);
    delete source;
}

bool readZipBytesAt(ZipByteSource* source, std::uint64_t offset, void* buffer, std::size_t count) {
    bool failed = false;
    return readAt(*source, offset, static_cast<std::uint8_t*>(buffer), count, failed) == count && !failed;
}

void patchZipBytesForDirectory(ZipByteSource* source, std::uint64_t offset, const std::uint8_t* bytes,
                               std::size_t count) {
    if (source->patchCount == sizeof source->patches / sizeof source->patches[0]) return;
    ZipByteSource::Patch& patch = source->patches[source->patchCount++];
    patch.offset = offset;
    patch.count = std::min(count, sizeof patch.bytes);
    std::memcpy(patch.bytes, bytes, patch.count);
}

std::uint64_t zipByteSourceSize(const ZipByteSource* source) { return source->size; }

void fillZipByteSource(zlib_filefunc64_def* functions, ZipByteSource* source) {
    functions->zopen64_file = openSource;
    functions->zread_file = readSource;
    functions->zwrite_file = writeSource;
    functions->ztell64_file = tellSource;
    functions->zseek64_file = seekSource;
    functions->zclose_file = closeSource;
    functions->zerror_file = sourceError;
    functions->opaque = source;
}
