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
#include <unistd.h>

#include <cerrno>
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

struct OpenRequest {
    bool read = false;
    bool write = false;
    bool append = false;
    DWORD disposition = OPEN_EXISTING;
    // Attribute bits for a file this open creates.
    DWORD newAttributes = 0;
};

bool createsFile(DWORD disposition) {
    return disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
}

bool truncatesFile(DWORD disposition) {
    return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

int closeWithError(int fd, DWORD error) {
    ::close(fd);
    SetLastError(error);
    return -1;
}

// Opens hostPath as the request says. Returns the descriptor, or -1 with the
// device's error set. existed tells whether the file was there before.
int openHostFile(const std::string& hostPath, const OpenRequest& request, bool& existed) {
    existed = false;
    // Truncating needs a writable descriptor even for a handle that may only
    // read; the handle's own rights are tracked separately.
    bool writes = request.write || truncatesFile(request.disposition);
    int access = request.read && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    // O_NONBLOCK keeps an open of a FIFO from waiting for its other end; it
    // is cleared again once we know what we opened.
    int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (writes) common |= O_NOFOLLOW;
    if (request.append) common |= O_APPEND;

    int fd = -1;
    if (createsFile(request.disposition)) {
        // O_EXCL never follows a symbolic link, dangling or not.
        fd = ::open(hostPath.c_str(), access | common | O_CREAT | O_EXCL, 0666);
        if (fd < 0) {
            if (errno != EEXIST) {
                setErrorFor(errno, hostPath);
                return -1;
            }
            if (request.disposition == CREATE_NEW) {
                SetLastError(ERROR_FILE_EXISTS);
                return -1;
            }
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
    if (existed && truncatesFile(request.disposition) && ftruncate(fd, 0) != 0) {
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
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
        (creationDisposition == TRUNCATE_EXISTING && !(desiredAccess & GENERIC_WRITE))) {
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
    bool reportsExisting = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
    SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
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
    std::int64_t base;
    if (moveMethod == FILE_BEGIN) {
        base = 0;
    } else if (moveMethod == FILE_CURRENT) {
        off_t current = lseek(object->fd, 0, SEEK_CUR);
        if (current < 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_SET_FILE_POINTER;
        }
        base = current;
    } else if (moveMethod == FILE_END) {
        struct stat st;
        if (fstat(object->fd, &st) != 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if ((move > 0 && base > INT64_MAX - move) || base + move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t target = base + move;
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

BOOL GetFileTime(HANDLE file, FILETIME* creationTime, FILETIME* lastAccessTime,
                 FILETIME* lastWriteTime) {
    FileObject* object = fileFor(file);
    if (!object) return FALSE;
    struct stat st;
    if (fstat(object->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // No creation time is kept; it reads as the last-write time.
    if (creationTime) *creationTime = fileTimeFromTimespec(st.st_mtim);
    if (lastAccessTime) *lastAccessTime = fileTimeFromTimespec(st.st_atim);
    if (lastWriteTime) *lastWriteTime = fileTimeFromTimespec(st.st_mtim);
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
        request.disposition = OPEN_ALWAYS;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (const char* p = mode + 1; *p; ++p) {
        if (*p == '+') {
            request.read = request.write = true;
        } else if (*p != 'b' && *p != 't') {
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
