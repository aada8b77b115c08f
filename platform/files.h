// File and folder calls with the device's semantics and error codes.
//
// Attribute bits: read-only is the absence of write permission and is
// enforced here even when the program runs as root; hidden, system and
// archive live in the extended attribute user.tovrin.attrib where the file
// system allows (otherwise a file reads back as archive). A mount point reads
// as a directory with the temporary bit, the device's storage-card folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/win_types.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

constexpr DWORD FILE_SHARE_READ = 0x1;

// The two dispositions the program uses: replace (or create) a file to
// write, and open an existing one.
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;

// Positions count from the start of the file only.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

HANDLE CreateFileW(LPCWSTR path, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);
// Returns the new low 32 bits of the position, or INVALID_SET_FILE_POINTER
// with GetLastError() set (a genuine position of that value reports
// ERROR_SUCCESS).
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL CloseHandle(HANDLE object);

// Sets last-access and last-write time (a creation time is accepted and
// ignored). The handle must have been opened with GENERIC_WRITE.
BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime);
// The same effect as opening path for writing and setting its last-write
// time, without the open: FALSE (ERROR_ACCESS_DENIED) for a read-only file,
// a folder or a symbolic link, ERROR_FILE_NOT_FOUND for a missing one.
// Extracting thousands of small files spends most of its time opening them.
BOOL setFileLastWriteTime(LPCWSTR path, const FILETIME* lastWriteTime);

DWORD GetFileAttributesW(LPCWSTR path);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
BOOL CreateDirectoryW(LPCWSTR path, void* securityAttributes);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL MoveFileW(LPCWSTR existingPath, LPCWSTR newPath);

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[MAX_PATH];
};

// The pattern's last component may hold the wildcards `*` and `?`; names
// that do not fit cFileName are passed over. "." and ".." are not reported.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

// Narrow runtime stdio on a device path: the one way handlers open streams.
// mode is "rb", "wb", "ab", "r", "w" or "a". Opening a read-only file for
// writing fails with ERROR_ACCESS_DENIED. Returns nullptr on failure with
// GetLastError() set.
std::FILE* openDeviceStream(LPCWSTR path, const char* mode);

// A read-only POSIX descriptor for libraries that read by descriptor
// (zlib's gzdopen); -1 on failure with GetLastError() set. The caller owns it.
int openDeviceReadDescriptor(LPCWSTR path);
// Closes a descriptor from openDeviceReadDescriptor that no library took over.
void closeDeviceReadDescriptor(int descriptor);

// Output files of extracted members, on plain descriptors: a new file costs
// one open, its writes, one time call and the close. The same safety as
// CreateFileW: a symbolic link at the last component, a folder, FIFO, device
// or read-only file is never written (ERROR_ACCESS_DENIED).
// Returns the descriptor, or -1 with GetLastError() set; replaced tells
// whether a file of that name was there and has been emptied.
int openMemberFile(LPCWSTR path, bool& replaced);
// Opens an existing member file to go on at its end, which must be at size
// (a piece of a member continued from another volume).
int openMemberFileAt(LPCWSTR path, std::uint64_t size);
// Writes count bytes at offset; false (GetLastError() set) when not all went.
bool writeMemberFile(int descriptor, std::uint64_t offset, const void* data, std::size_t count);
// Ends the file at size when its data ended in a hole (extend), gives it the
// times that are not null and the attribute bits (read-only, hidden,
// system), then closes it. False when the file may not hold its data.
bool finishMemberFile(int descriptor, std::uint64_t size, bool extend, const FILETIME* lastWrite,
                      const FILETIME* lastAccess, DWORD attributes, bool replaced);
// Closes a member file that failed; nothing more is set.
void abandonMemberFile(int descriptor);
