#include "platform/host_files.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/device_paths.h"
#include "platform/files.h"

namespace {

constexpr const char* kAttributeName = "user.tovrin.attrib";
constexpr DWORD kStoredFileBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
// A folder keeps its read-only bit here rather than in its permissions, so
// that a folder an archive marks read-only can still receive its members.
constexpr DWORD kStoredDirectoryBits = kStoredFileBits | FILE_ATTRIBUTE_READONLY;

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

std::string parentOf(const std::string& hostPath) {
    std::string::size_type end = hostPath.size();
    while (end > 1 && hostPath[end - 1] == '/') --end;
    std::string::size_type slash = hostPath.rfind('/', end - 1);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return hostPath.substr(0, slash);
}

bool isUnsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

}  // namespace

bool hostPathForCall(const WCHAR* devicePath, std::string& hostPath) {
    if (!hostPathFromDevice(devicePath, hostPath)) return false;
    if (hostPath.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

DWORD deviceErrorFor(int error, const std::string& hostPath) {
    switch (error) {
    case ENOENT: {
        struct stat parent;
        if (stat(parentOf(hostPath).c_str(), &parent) == 0 && S_ISDIR(parent.st_mode))
            return ERROR_FILE_NOT_FOUND;
        return ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:   // a symbolic link where we refuse to follow one
    case ENXIO:   // a FIFO or device we refuse to write into
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EILSEQ:
        return ERROR_INVALID_NAME;
    default:
        return ERROR_GEN_FAILURE;
    }
}

void setErrorFor(int error, const std::string& hostPath) {
    SetLastError(deviceErrorFor(error, hostPath));
}

bool isReadOnlyFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && isReadOnlyMode(st.st_mode);
}

bool readStoredAttributes(const std::string& hostPath, DWORD& bits) {
    char text[16];
    ssize_t length = getxattr(hostPath.c_str(), kAttributeName, text, sizeof text - 1);
    if (length <= 0) return false;
    text[length] = '\0';
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 16);
    // Anything but a short hex number was not written by us: ignore it.
    if (end != text + length || value > 0xFFFF) return false;
    bits = static_cast<DWORD>(value);
    return true;
}

bool writeStoredAttributes(const std::string& hostPath, DWORD bits, bool isDirectory) {
    DWORD stored = bits & (isDirectory ? kStoredDirectoryBits : kStoredFileBits);
    // The value a bare entry reads as needs no attribute; leaving none keeps
    // files that never had special bits free of metadata.
    DWORD plain = isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    if (stored == plain) {
        if (lremovexattr(hostPath.c_str(), kAttributeName) == 0 || errno == ENODATA ||
            isUnsupported(errno))
            return true;
        return false;
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(stored));
    if (lsetxattr(hostPath.c_str(), kAttributeName, text, static_cast<std::size_t>(length), 0) == 0)
        return true;
    return isUnsupported(errno);
}

DWORD attributesOf(const std::string& hostPath, const struct stat& st, const dev_t* parentDevice) {
    DWORD stored = 0;
    bool hasStored = readStoredAttributes(hostPath, stored);
    if (S_ISDIR(st.st_mode)) {
        DWORD bits = FILE_ATTRIBUTE_DIRECTORY | (hasStored ? stored & kStoredDirectoryBits : 0);
        dev_t parent;
        bool parentKnown = parentDevice != nullptr;
        if (parentDevice) {
            parent = *parentDevice;
        } else {
            // "dir/.." is the folder's real parent even when dir was reached
            // through a symbolic link.
            struct stat up;
            parentKnown = stat((hostPath + "/..").c_str(), &up) == 0;
            parent = parentKnown ? up.st_dev : 0;
        }
        if (parentKnown && parent != st.st_dev) bits |= FILE_ATTRIBUTE_TEMPORARY;
        return bits;
    }
    DWORD bits = hasStored ? stored & kStoredFileBits : FILE_ATTRIBUTE_ARCHIVE;
    if (isReadOnlyMode(st.st_mode)) bits |= FILE_ATTRIBUTE_READONLY;
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

FILETIME fileTimeFromTimespec(const timespec& time) {
    // Clamp to what a FILETIME can hold instead of wrapping.
    constexpr std::int64_t maxSeconds = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond - 1;
    constexpr std::int64_t minSeconds = -(kUnixEpochTicks / kTicksPerSecond);
    std::int64_t seconds = time.tv_sec;
    std::int64_t ticks;
    if (seconds > maxSeconds) {
        ticks = INT64_MAX;
    } else if (seconds < minSeconds) {
        ticks = 0;
    } else {
        ticks = kUnixEpochTicks + seconds * kTicksPerSecond + time.tv_nsec / 100;
        if (ticks < 0) ticks = 0;
    }
    auto value = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

bool timespecFromFileTime(const FILETIME& fileTime, timespec& time) {
    std::uint64_t value = (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) |
                          fileTime.dwLowDateTime;
    if (value > static_cast<std::uint64_t>(INT64_MAX)) return false;
    std::int64_t relative = static_cast<std::int64_t>(value) - kUnixEpochTicks;
    std::int64_t seconds = relative / kTicksPerSecond;
    std::int64_t remainder = relative % kTicksPerSecond;
    if (remainder < 0) {
        remainder += kTicksPerSecond;
        --seconds;
    }
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = static_cast<long>(remainder * 100);
    return true;
}
