// One extraction request from start to end: detection by extension and
// content, the destination folder, the chosen handler, the outcome counters
// and the file manager.
#pragma once

#include <cstddef>

// Length limits of a request's narrow texts, their NUL included.
constexpr std::size_t kArchivePathCapacity = 260;
constexpr std::size_t kDestinationCapacity = 520;

// Runs one request; the outcome is in appState's three counters.
void ExtractionDriver(const char* archivePath);

// The request password (narrow, possibly empty).
const char* requestPassword();

enum class PathKind { Missing = 0, File = 1, Folder = 2, StorageFolder = 3 };
PathKind pathKind(const char* path);

// Creates every missing folder along path. 0 on success, else the error code
// of the creation that failed.
unsigned long createFolderPath(const char* path);
