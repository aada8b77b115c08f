#include "core/extraction_driver.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "core/progress.h"
#include "platform/files.h"
#include "platform/process.h"
#include "core/request_settings.h"

namespace {

constexpr std::size_t kBaseNameCapacity = 264;

const RequestSettings* installedSettings = nullptr;

bool settingCreateFolder() {
    return installedSettings && installedSettings->readCreateFolder();
}
bool settingOpenFolder() { return installedSettings && installedSettings->readOpenFolder(); }
void settingExtractPath(char* buffer, std::size_t capacity) {
    buffer[0] = '\0';
    if (installedSettings) installedSettings->readExtractPath(buffer, capacity);
}

// Reads the head of the file into the SniffBuffer and takes its size.
// False when the file cannot be opened.
bool sniffFile(const char* archivePath, std::int32_t* fileSize) {
    std::FILE* file = openNarrow(archivePath, "rb");
    if (!file) return false;
    std::fread(appState.sniffBuffer, 1, kSniffBufferSize, file);
    long long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fclose(file);
    // Sizes beyond the 32-bit range are still real files: probes only compare
    // against small minimum sizes, so the largest value stands in for them.
    *fileSize = size > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(size);
    return true;
}

FormatHandler* chooseHandler(const char* archivePath, std::int32_t fileSize) {
    if (fileSize < 1) return nullptr;
    FormatHandler* rejected = nullptr;
    const char* ext = extensionOf(archivePath);
    if (*ext && !equalsIgnoreCase(ext, "exe")) {
        for (FormatHandler* h = appState.handlerListHead; h; h = h->next) {
            if (!h->matchesExtension(ext)) continue;
            if (h->probe(archivePath, fileSize)) return h;
            rejected = h;
            break;
        }
    }
    for (FormatHandler* h = appState.handlerListHead; h; h = h->next) {
        if (h != rejected && h->probe(archivePath, fileSize)) return h;
    }
    return nullptr;
}

// The archive's own name as the file system reports it, in narrow text.
bool lookUpBaseName(const char* archivePath, char* baseName) {
    WCHAR widePath[MAX_PATH];
    if (!toWide(archivePath, widePath, MAX_PATH)) return false;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(widePath, &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return toNarrow(found.cFileName, baseName, kBaseNameCapacity) != 0;
}

// Appends `\` and the base name cut at its first dot (the whole name when it
// has none) to destination.
bool appendFolderForArchive(char* destination, const char* baseName) {
    std::size_t cutLength = 0;
    for (const char* p = baseName; *p && *p != '.'; p = nextChar(p)) {
        cutLength = static_cast<std::size_t>(nextChar(p) - baseName);
    }
    std::size_t used = std::strlen(destination);
    if (used + 1 + cutLength >= kDestinationCapacity) return false;
    destination[used] = '\\';
    std::memcpy(destination + used + 1, baseName, cutLength);
    destination[used + 1 + cutLength] = '\0';
    return true;
}

void openDestinationFolder(const char* destination) {
    WCHAR wideDestination[kDestinationCapacity];
    // The root is named by a single separator; an empty command line would
    // open the file manager wherever it pleases.
    const char* folder = *destination ? destination : "\\";
    if (!toWide(folder, wideDestination, kDestinationCapacity)) return;
    openFolderInFileManager(wideDestination);
}

}  // namespace

void ExtractionDriver(const char* archivePath) {
    // A path the device could not hold names no file it could open.
    if (std::strlen(archivePath) >= kArchivePathCapacity) {
        appState.notFoundCount += 1;
        return;
    }
    std::int32_t fileSize = 0;
    if (!sniffFile(archivePath, &fileSize)) {
        appState.notFoundCount += 1;
        return;
    }
    FormatHandler* chosen = chooseHandler(archivePath, fileSize);

    appState.optionCreateFolder = settingCreateFolder() ? 1 : 0;
    appState.optionOpenFolder = settingOpenFolder() ? 1 : 0;

    char baseName[kBaseNameCapacity];
    if (!lookUpBaseName(archivePath, baseName)) {
        appState.notFoundCount += 1;
        return;
    }
    if (!chosen) {
        appState.unsupportedCount += 1;
        return;
    }

    char archiveCopy[kArchivePathCapacity];
    std::memcpy(archiveCopy, archivePath, std::strlen(archivePath) + 1);
    char destination[kDestinationCapacity];
    settingExtractPath(destination, kDestinationCapacity);
    if (appState.optionCreateFolder && !appendFolderForArchive(destination, baseName)) {
        appState.failedCount += 1;
        return;
    }
    createFolderPath(destination);

    beginArchiveProgress(archiveCopy);
    const int extracted = chosen->extract(archiveCopy, destination);
    endArchiveProgress(extracted != 0);
    if (extracted == 0) {
        appState.failedCount += 1;
        return;
    }
    if (appState.optionOpenFolder) openDestinationFolder(destination);
}

void useRequestSettings(const RequestSettings* settings) { installedSettings = settings; }
const RequestSettings* requestSettings() { return installedSettings; }

const char* requestPassword() { return appState.password; }

PathKind pathKind(const char* path) {
    WCHAR widePath[kDestinationCapacity];
    if (!toWide(path, widePath, kDestinationCapacity)) return PathKind::Missing;
    DWORD attributes = GetFileAttributesW(widePath);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return (attributes & FILE_ATTRIBUTE_TEMPORARY) ? PathKind::StorageFolder : PathKind::Folder;
    }
    return PathKind::File;
}

namespace {

unsigned long createMissingFolder(const char* path) {
    PathKind kind = pathKind(path);
    if (kind == PathKind::Folder || kind == PathKind::StorageFolder) return 0;
    WCHAR widePath[kDestinationCapacity];
    if (!toWide(path, widePath, kDestinationCapacity)) return ERROR_NO_UNICODE_TRANSLATION;
    if (CreateDirectoryW(widePath, nullptr)) return 0;
    return GetLastError();
}

}  // namespace

unsigned long createFolderPath(const char* path) {
    std::size_t length = std::strlen(path);
    if (length >= kDestinationCapacity) return ERROR_FILENAME_EXCED_RANGE;
    char partial[kDestinationCapacity];
    std::memcpy(partial, path, length + 1);
    // Split at separators by characters, so that a double-byte character
    // whose second byte is 0x5C is never cut in half. `/` separates as well:
    // host paths typed by a user use it.
    for (char* p = partial; *p; p = nextChar(p)) {
        if (*p != '\\' && *p != '/') continue;
        if (p == partial) continue;
        char separator = *p;
        *p = '\0';
        unsigned long error = createMissingFolder(partial);
        *p = separator;
        if (error) return error;
    }
    PathKind kind = pathKind(path);
    if (kind == PathKind::Missing || kind == PathKind::File) {
        WCHAR widePath[kDestinationCapacity];
        if (!toWide(path, widePath, kDestinationCapacity)) return ERROR_NO_UNICODE_TRANSLATION;
        if (!CreateDirectoryW(widePath, nullptr)) return GetLastError();
    }
    return 0;
}
