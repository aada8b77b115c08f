// Open files: CreateFileW and the calls on its handles, and the stdio and
// descriptor openers that handlers use.
//
// Writing never follows a symbolic link at the last component of the path:
// a link planted where an output belongs makes the open fail with
// ERROR_ACCESS_DENIED rather than write through it, and the link itself is
// left alone (nothing is removed before we know we can write). Only regular
// files are opened for writing, so a FIFO or device node is never written
// into or waited on. Share modes are accepted and not enforced; the host has
// no mandatory locks.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/handles.h"
#include "platform/host_files.h"

namespace {

struct FileObject : HandleObject {
    FileObject(int descriptor, bool readable, bool writable)
        : HandleObject(Kind::File), fd(descriptor), canRead(readable), canWrite(writable) {}
    ~FileObject() override { ::close(fd); }

    int fd;
    bool canRead;
    bool canWrite;
};

FileObject* fileFor(HANDLE handle) {
    return static_cast<FileObject*>(lookupHandle(handle, HandleObject::Kind::File));
}

// An open reads an existing file, creates (replacing) one to write, or
// appends to one (creating it when missing: continued ARJ volumes).
struct OpenRequest {
    bool read = false;
    bool write = false;
    bool append = false;
    DWORD disposition = OPEN_EXISTING;
    // Attribute bits for a file this open creates.
    DWORD newAttributes = 0;
};

int closeWithError(int fd, DWORD error) {
    ::close(fd);
    SetLastError(error);
    return -1;
}

// Opens hostPath as the request says. Returns the descriptor, or -1 with the
// device's error set. existed tells whether the file was there before.
int openHostFile(const std::string& hostPath, const OpenRequest& request, bool& existed) {
    existed = false;
    // Replacing needs a writable descriptor even for a handle that may only
    // read; the handle's own rights are tracked separately.
    bool replaces = request.disposition == CREATE_ALWAYS;
    bool creates = replaces || request.append;
    bool writes = request.write || replaces;
    int access = request.read && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    // O_NONBLOCK keeps an open of a FIFO from waiting for its other end; it
    // is cleared again once we know what we opened.
    int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (writes) common |= O_NOFOLLOW;
    if (request.append) common |= O_APPEND;

    int fd = -1;
    if (creates) {
        // O_EXCL never follows a symbolic link, dangling or not.
        fd = ::open(hostPath.c_str(), access | common | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) {
            setErrorFor(errno, hostPath);
            return -1;
        }
    }
    if (fd < 0) {
        existed = true;
        fd = ::open(hostPath.c_str(), access | common);
        if (fd < 0) {
            setErrorFor(errno, hostPath);
            return -1;
        }
    }

    struct stat st;
    if (fstat(fd, &st) != 0) return closeWithError(fd, ERROR_GEN_FAILURE);
    if (S_ISDIR(st.st_mode)) return closeWithError(fd, ERROR_ACCESS_DENIED);
    if (existed && writes && (!S_ISREG(st.st_mode) || isReadOnlyFile(st)))
        return closeWithError(fd, ERROR_ACCESS_DENIED);
    if (existed && replaces && ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        setErrorFor(error, hostPath);
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    if (!existed) {
        // The new file gets the attributes asked for; a read-only one still
        // accepts writes through this descriptor, as on the device.
        DWORD special = request.newAttributes &
                        (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (special) writeStoredAttributes(hostPath, special | FILE_ATTRIBUTE_ARCHIVE, false);
        if (request.newAttributes & FILE_ATTRIBUTE_READONLY)
            fchmod(fd, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
    }
    return fd;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (creationDisposition != CREATE_ALWAYS && creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return INVALID_HANDLE_VALUE;
    OpenRequest request;
    request.read = (desiredAccess & GENERIC_READ) != 0;
    request.write = (desiredAccess & GENERIC_WRITE) != 0;
    request.disposition = creationDisposition;
    request.newAttributes = flagsAndAttributes;
    bool existed = false;
    int fd = openHostFile(hostPath, request, existed);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    HANDLE handle = registerHandle(new FileObject(fd, request.read, request.write));
    SetLastError(existed && creationDisposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
    if (bytesRead) *bytesRead = 0;
    FileObject* object = fileFor(file);
    if (!object) return FALSE;
    if (!object->canRead) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (bytesToRead > 0 && !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < bytesToRead) {
        ssize_t n = ::read(object->fd, out + total, bytesToRead - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = total;
            SetLastError(errno == EIO ? ERROR_READ_FAULT : deviceErrorFor(errno, std::string()));
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        total += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    FileObject* object = fileFor(file);
    if (!object) return FALSE;
    if (!object->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (bytesToWrite > 0 && !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (total < bytesToWrite) {
        ssize_t n = ::write(object->fd, in + total, bytesToWrite - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesWritten) *bytesWritten = total;
            SetLastError(errno == EIO ? ERROR_WRITE_FAULT : deviceErrorFor(errno, std::string()));
            return FALSE;
        }
        if (n == 0) {
            if (bytesWritten) *bytesWritten = total;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = total;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
    FileObject* object = fileFor(file);
    if (!object) return INVALID_SET_FILE_POINTER;
    // Without a high part the distance is a signed 32-bit value; with one the
    // two halves make a signed 64-bit distance.
    std::int64_t move = distanceHigh
                            ? static_cast<std::int64_t>(
                                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                                  static_cast<std::uint32_t>(distance))
                            : static_cast<std::int64_t>(distance);
    if (moveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t target = move;
    // A caller that passes no high part cannot learn of a position beyond
    // 32 bits, so such a move is refused instead of being reported cut short.
    if (!distanceHigh && target > 0xFFFFFFFFLL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(object->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<std::uint64_t>(target) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
    FileObject* object = fileFor(file);
    if (!object) return 0xFFFFFFFFu;
    struct stat st;
    if (fstat(object->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFFu;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CloseHandle(HANDLE object) { return destroyClosableHandle(object); }

BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime) {
    FileObject* object = fileFor(file);
    if (!object) return FALSE;
    if (!object->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A null time, or one of zero, leaves that time as it is.
    auto convert = [](const FILETIME* given, timespec& out) {
        if (!given || (given->dwLowDateTime == 0 && given->dwHighDateTime == 0)) {
            out.tv_sec = 0;
            out.tv_nsec = UTIME_OMIT;
            return true;
        }
        return timespecFromFileTime(*given, out);
    };
    timespec times[2];
    if (!convert(lastAccessTime, times[0]) || !convert(lastWriteTime, times[1])) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (futimens(object->fd, times) != 0) {
        SetLastError(deviceErrorFor(errno, std::string()));
        return FALSE;
    }
    return TRUE;
}

BOOL setFileLastWriteTime(LPCWSTR path, const FILETIME* lastWriteTime) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return FALSE;
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    if (!S_ISREG(st.st_mode) || isReadOnlyFile(st)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    if (!lastWriteTime || !timespecFromFileTime(*lastWriteTime, times[1])) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        SetLastError(deviceErrorFor(errno, hostPath));
        return FALSE;
    }
    return TRUE;
}

std::FILE* openDeviceStream(LPCWSTR path, const char* mode) {
    if (!mode || !*mode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    OpenRequest request;
    switch (mode[0]) {
    case 'r':
        request.read = true;
        request.disposition = OPEN_EXISTING;
        break;
    case 'w':
        request.write = true;
        request.disposition = CREATE_ALWAYS;
        break;
    case 'a':
        request.write = true;
        request.append = true;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (const char* p = mode + 1; *p; ++p) {
        if (*p != 'b' && *p != 't') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return nullptr;
    bool existed = false;
    int fd = openHostFile(hostPath, request, existed);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        int error = errno;
        ::close(fd);
        SetLastError(deviceErrorFor(error, hostPath));
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return stream;
}

int openDeviceReadDescriptor(LPCWSTR path) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return -1;
    OpenRequest request;
    request.read = true;
    bool existed = false;
    int fd = openHostFile(hostPath, request, existed);
    if (fd >= 0) SetLastError(ERROR_SUCCESS);
    return fd;
}

void closeDeviceReadDescriptor(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}

int openMemberFile(LPCWSTR path, bool& replaced) {
    replaced = false;
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return -1;
    // A new name, the common case, takes one call: O_EXCL creates the file
    // and never follows a symbolic link, dangling or not.
    int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
        setErrorFor(errno, hostPath);
        return -1;
    }
    // Something is there: only a writable regular file is replaced, and it
    // is emptied only once we know that. O_NONBLOCK keeps a FIFO from
    // holding the open.
    fd = ::open(hostPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        setErrorFor(errno, hostPath);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || isReadOnlyFile(st))
        return closeWithError(fd, ERROR_ACCESS_DENIED);
    if (ftruncate(fd, 0) != 0) return closeWithError(fd, deviceErrorFor(errno, hostPath));
    replaced = true;
    return fd;
}

int openMemberFileAt(LPCWSTR path, std::uint64_t size) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return -1;
    const int fd = ::open(hostPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        setErrorFor(errno, hostPath);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || isReadOnlyFile(st) ||
        static_cast<std::uint64_t>(st.st_size) != size)
        return closeWithError(fd, ERROR_ACCESS_DENIED);
    return fd;
}

bool writeMemberFile(int descriptor, std::uint64_t offset, const void* data, std::size_t count) {
    const auto* in = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::pwrite(descriptor, in, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(n == 0 ? ERROR_DISK_FULL : deviceErrorFor(errno, std::string()));
            return false;
        }
        in += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool finishMemberFile(int descriptor, std::uint64_t size, bool extend, const FILETIME* lastWrite,
                      const FILETIME* lastAccess, DWORD attributes, bool replaced) {
    bool ok = !extend || ftruncate(descriptor, static_cast<off_t>(size)) == 0;
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    // A zero time, like a null one, leaves that time as it is.
    const auto given = [](const FILETIME* time, timespec& out) {
        return time && (time->dwLowDateTime || time->dwHighDateTime) && timespecFromFileTime(*time, out);
    };
    const bool accessGiven = given(lastAccess, times[0]);
    const bool writeGiven = given(lastWrite, times[1]);
    if (accessGiven || writeGiven) futimens(descriptor, times);
    // Hidden and system live in the extended attribute; a plain member needs
    // none, and a new file has none to remove.
    const DWORD stored = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (stored || replaced) {
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%x",
                                         static_cast<unsigned>(stored | FILE_ATTRIBUTE_ARCHIVE));
        if (stored) fsetxattr(descriptor, "user.tovrin.attrib", text, static_cast<std::size_t>(length), 0);
        else fremovexattr(descriptor, "user.tovrin.attrib");
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        struct stat st;
        if (fstat(descriptor, &st) == 0) fchmod(descriptor, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
    }
    if (::close(descriptor) != 0) ok = false;
    return ok;
}

void abandonMemberFile(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}
