#include "formats/zip/zip_byte_source.h"

#include <new>

#include "platform/files.h"

namespace {

struct ByteSource {
    HANDLE file;
    int error;
};

voidpf ZCALLBACK openSource(voidpf, const void* path, int mode) {
    // The reader only ever reads an existing archive.
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || path == nullptr) return nullptr;
    HANDLE file = CreateFileW(static_cast<const WCHAR*>(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    ByteSource* source = new (std::nothrow) ByteSource{file, 0};
    if (source == nullptr) CloseHandle(file);
    return source;
}

uLong ZCALLBACK readSource(voidpf, voidpf stream, void* buffer, uLong size) {
    ByteSource* source = static_cast<ByteSource*>(stream);
    DWORD got = 0;
    // minizip asks for at most its own buffer's worth; anything wider than a
    // DWORD is read as far as a DWORD reaches.
    const DWORD asked = size > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<DWORD>(size);
    if (!ReadFile(source->file, buffer, asked, &got, nullptr)) source->error = 1;
    return got;
}

uLong ZCALLBACK writeSource(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellSource(voidpf, voidpf stream) {
    ByteSource* source = static_cast<ByteSource*>(stream);
    LONG high = 0;
    const DWORD low = SetFilePointer(source->file, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        source->error = 1;
        return static_cast<ZPOS64_T>(-1);
    }
    return (static_cast<ZPOS64_T>(static_cast<DWORD>(high)) << 32) | low;
}

long ZCALLBACK seekSource(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ByteSource* source = static_cast<ByteSource*>(stream);
    DWORD method;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: method = FILE_BEGIN; break;
        case ZLIB_FILEFUNC_SEEK_CUR: method = FILE_CURRENT; break;
        case ZLIB_FILEFUNC_SEEK_END: method = FILE_END; break;
        default: return -1;
    }
    // The two halves make one signed 64-bit distance: minizip's backward
    // moves arrive as the unsigned form of a negative number.
    LONG high = static_cast<LONG>(static_cast<DWORD>(offset >> 32));
    const DWORD low = SetFilePointer(source->file, static_cast<LONG>(static_cast<DWORD>(offset)), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
    return 0;
}

int ZCALLBACK closeSource(voidpf, voidpf stream) {
    ByteSource* source = static_cast<ByteSource*>(stream);
    CloseHandle(source->file);
    delete source;
    return 0;
}

int ZCALLBACK sourceError(voidpf, voidpf stream) { return static_cast<ByteSource*>(stream)->error; }

}  // namespace

void fillZipByteSource(zlib_filefunc64_def* functions) {
    functions->zopen64_file = openSource;
    functions->zread_file = readSource;
    functions->zwrite_file = writeSource;
    functions->ztell64_file = tellSource;
    functions->zseek64_file = seekSource;
    functions->zclose_file = closeSource;
    functions->zerror_file = sourceError;
    functions->opaque = nullptr;
}
