// Attributes and the calls that change the folder tree: GetFileAttributesW,
// SetFileAttributesW, CreateDirectoryW, RemoveDirectoryW, DeleteFileW,
// MoveFileW.
//
// Attribute rule: a regular file without the extended attribute reads as
// archive (0x20), plus read-only when it has no write permission; a folder
// without it reads as directory (0x10) alone. Calls that change an entry act
// on a symbolic link itself, never on what it points to.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/host_files.h"

namespace {

bool isReadOnlyDirectory(const std::string& hostPath) {
    DWORD stored = 0;
    return readStoredAttributes(hostPath, stored) && (stored & FILE_ATTRIBUTE_READONLY);
}

// The destination of a move is refused if anything is there, and with the
// device's answer for a read-only file.
DWORD errorForExistingTarget(const std::string& hostPath) {
    struct stat st;
    if (lstat(hostPath.c_str(), &st) == 0 && isReadOnlyFile(st)) return ERROR_ACCESS_DENIED;
    return ERROR_ALREADY_EXISTS;
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR path) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0) {
        setErrorFor(errno, hostPath);
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(hostPath, st, nullptr);
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
    // Bits that cannot be set (directory, temporary, whatever an archive
    // header carries besides) are ignored, as on the device.
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return FALSE;
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    // Changing a link's target would reach outside the folder being worked
    // on; a link has no attributes of its own to change.
    if (S_ISLNK(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool isDirectory = S_ISDIR(st.st_mode);
    if (!isDirectory) {
        mode_t mode = st.st_mode & 07777;
        mode_t wanted = mode;
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            wanted &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
        } else if (isReadOnlyMode(mode)) {
            wanted |= S_IWUSR;
        }
        if (wanted != mode && chmod(hostPath.c_str(), wanted) != 0) {
            setErrorFor(errno, hostPath);
            return FALSE;
        }
    }
    if (!writeStoredAttributes(hostPath, attributes, isDirectory)) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR path, void* securityAttributes) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return FALSE;
    if (mkdir(hostPath.c_str(), 0777) != 0) {
        // A missing parent is a missing path for this call, never a missing file.
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : deviceErrorFor(errno, hostPath));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return FALSE;
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    if (isReadOnlyDirectory(hostPath)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (rmdir(hostPath.c_str()) != 0) {
        SetLastError(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : deviceErrorFor(errno, hostPath));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string hostPath;
    if (!hostPathForCall(path, hostPath)) return FALSE;
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || isReadOnlyFile(st)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(hostPath.c_str()) != 0) {
        setErrorFor(errno, hostPath);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileW(LPCWSTR existingPath, LPCWSTR newPath) {
    std::string from;
    std::string to;
    if (!hostPathForCall(existingPath, from) || !hostPathForCall(newPath, to)) return FALSE;
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) {
        setErrorFor(errno, from);
        return FALSE;
    }
    // The device never replaces an existing entry by a move.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return TRUE;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without no-replace renames: check, then rename.
        struct stat existing;
        if (lstat(to.c_str(), &existing) == 0) {
            SetLastError(errorForExistingTarget(to));
            return FALSE;
        }
        if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
        error = errno;
    }
    if (error == EEXIST) {
        SetLastError(errorForExistingTarget(to));
    } else if (error == ENOENT) {
        // The source was there, so it is the target's folder that is missing.
        SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
        setErrorFor(error, to);
    }
    return FALSE;
}
