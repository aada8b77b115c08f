// Helpers the file calls share: device error codes for failed host calls,
// attribute bits of host files, and file-time conversion. Internal to
// platform/.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "platform/win_types.h"

// Maps a device path to the host, setting the device's error for a path that
// cannot be converted. An empty path names nothing (ERROR_PATH_NOT_FOUND).
bool hostPathForCall(const WCHAR* devicePath, std::string& hostPath);

// The device's error for a host call on hostPath that failed with errno
// `error`. A missing entry is ERROR_FILE_NOT_FOUND when its folder exists and
// ERROR_PATH_NOT_FOUND when the folder is missing too.
DWORD deviceErrorFor(int error, const std::string& hostPath);
void setErrorFor(int error, const std::string& hostPath);

// Read-only is the absence of every write permission bit.
inline bool isReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// True for a regular file without write permission: the device refuses to
// write, truncate, re-time or delete such a file, whoever asks.
bool isReadOnlyFile(const struct stat& st);

// Attribute bits of the entry hostPath whose stat (symbolic links followed)
// is st. For a directory, parentDevice is the device number of its parent
// folder (used for the mount-point bit); pass nullptr to have it looked up.
DWORD attributesOf(const std::string& hostPath, const struct stat& st,
                   const dev_t* parentDevice);

// The hidden, system and archive bits (and a folder's read-only bit) kept in
// the extended attribute; false when the entry carries none.
bool readStoredAttributes(const std::string& hostPath, DWORD& bits);
// Stores bits; an unsupported file system drops them silently. Returns false
// only for a real failure (the entry is gone, permission).
bool writeStoredAttributes(const std::string& hostPath, DWORD bits, bool isDirectory);

FILETIME fileTimeFromTimespec(const timespec& time);
// False for a time the host cannot represent (the top bit set).
bool timespecFromFileTime(const FILETIME& fileTime, timespec& time);
