#include "formats/zip/zip_handler.h"

#include <algorithm>
#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/narrow_text.h"
#include "formats/zip/zip_little_endian.h"
#include "formats/zip/zip_reader.h"

namespace {

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kPasswordCapacity = 128;
// Methods up to 12 (bzip2) are ones a local header may plausibly carry.
constexpr unsigned kHighestProbedMethod = 12;

// The handler's results, as the driver reads them.
constexpr int kExtracted = 1;
constexpr int kFailed = 0;

}  // namespace

bool ZipHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "zip"); }

bool ZipHandler::probe(const char* path, std::int32_t fileSize) {
    if (fileSize <= 0) return false;
    const std::size_t sniffed = std::min(static_cast<std::size_t>(fileSize), kSniffBufferSize);
    if (sniffed <= kLocalHeaderSize) return false;
    const std::uint8_t* head = appState.sniffBuffer;
    // A header is accepted only when its whole fixed part lies inside the
    // sniffed bytes.
    const std::size_t lastStart = sniffed - kLocalHeaderSize;  // exclusive
    std::size_t i = 0;
    while (i < lastStart) {
        const void* found = std::memchr(head + i, 'P', lastStart - i);
        if (found == nullptr) return false;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - head);
        if (head[i + 1] == 'K' && head[i + 2] == 0x03 && head[i + 3] == 0x04 &&
            zipRead16(head + i + 8) <= kHighestProbedMethod && zipRead16(head + i + 26) != 0) {
            return true;
        }
        ++i;
    }
    return false;
}

int ZipHandler::extract(const char* path, const char* destFolder) {
    char password[kPasswordCapacity] = {};
    std::strncpy(password, requestPassword(), kPasswordCapacity - 1);

    WCHAR widePath[MAX_PATH];
    WCHAR wideDest[kDestinationCapacity];
    if (!toWide(path, widePath, MAX_PATH) || !toWide(destFolder, wideDest, kDestinationCapacity)) return kFailed;

    ZipHandle* handle = openZipArchive(widePath, password[0] ? password : nullptr);
    if (handle == nullptr) return kFailed;
    if (setZipBaseFolder(handle, wideDest) != ZipResult::Ok) {
        closeZipArchive(handle);
        return kFailed;
    }
    bool allExtracted = true;

    ZipItem item;
    const std::int32_t count = queryZipItem(handle, -1, &item) == ZipResult::Ok ? item.index : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZipResult described = queryZipItem(handle, i, &item);
        if (described == ZipResult::NotFound) {
            // The central directory ends before the count it promised.
            allExtracted = false;
            break;
        }
        if (described != ZipResult::Ok || extractZipItem(handle, i, item.name) != ZipResult::Ok) allExtracted = false;
    }
    closeZipArchive(handle);
    std::memset(password, 0, sizeof password);
    // Every item's result counts: one that failed fails the request.
    return allExtracted ? kExtracted : kFailed;
}
