#include "formats/zip/zip_reader.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/extraction_driver.h"
#include "core/member_output.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/zip/zip_byte_source.h"
#include "formats/zip/zip_end_records.h"
#include "formats/zip/zip_extra_fields.h"
#include "formats/zip/zip_item_output.h"
#include "formats/zip/zip_names.h"
#include "platform/text_conversion.h"

namespace {

constexpr std::uint32_t kFlagStrongEncryption = 0x0040;
constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflated = 8;

// Stored names and extra fields are at most 65,535 bytes long.
constexpr std::size_t kFieldCapacity = 65536;

DWORD attributesFor(std::uint32_t versionMadeBy, std::uint32_t external) {
    const std::uint32_t host = versionMadeBy >> 8;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        return external & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
    }
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (external & 0x40000000u) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    // A Unix mode of zero says nothing about permissions (some writers store
    // none); only a stored mode without owner write makes a file read-only.
    if ((external >> 16) != 0 && !(external & 0x00800000u)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

}  // namespace

struct ZipReader {
    unzFile archive = nullptr;
    // The archive, shared with minizip; item data is read from it at
    // explicit offsets, large pieces straight into the writer's buffer.
    ZipByteSource* source = nullptr;
    std::int32_t entryCount = 0;
    std::int32_t currentEntry = -1;
    std::int32_t openItem = -1;
    ZipItem cachedItem{};
    ZipItemData cachedData;
    std::int32_t cachedIndex = -1;
    std::string password;
    bool hasPassword = false;
    std::unique_ptr<MemberOutput> output;
    std::vector<char> nameBuffer;
    std::vector<std::uint8_t> localExtra;
    std::vector<std::uint8_t> centralExtra;
    ZipItemWriter writer;
};

namespace {

ZipResult checkHandle(const ZipHandle* handle) {
    if (handle == nullptr || handle->reader == nullptr || handle->kind != kZipReadHandleKind) return ZipResult::Args;
    return ZipResult::Ok;
}

void closeOpenStream(ZipReader& reader) {
    if (reader.openItem != -1) {
        unzCloseCurrentFile(reader.archive);
        reader.openItem = -1;
    }
}

// Makes entry index minizip's current entry, rewinding only when it lies
// behind the current one.
bool positionOn(ZipReader& reader, std::int32_t index) {
    if (reader.currentEntry < 0 || index < reader.currentEntry) {
        if (unzGoToFirstFile(reader.archive) != UNZ_OK) {
            reader.currentEntry = -1;
            return false;
        }
        reader.currentEntry = 0;
    }
    while (reader.currentEntry < index) {
        if (unzGoToNextFile(reader.archive) != UNZ_OK) {
            reader.currentEntry = -1;
            return false;
        }
        ++reader.currentEntry;
    }
    return true;
}

// Checks the local header against the central entry (minizip does that when
// it opens the item's data) and reads the local extra field, which lies
// right before the data. It is read here rather than through minizip, which
// does not allow for data in front of the archive (a self-extractor's stub)
// when reading it.
ZipResult readLocalHeader(ZipReader& reader, std::int32_t index, ZipItemData& data, std::size_t& extraLength) {
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(reader.archive, &method, &level, 1) != UNZ_OK) return ZipResult::Corrupt;
    reader.openItem = index;
    const int wanted = unzGetLocalExtrafield(reader.archive, nullptr, 0);
    if (wanted < 0) return ZipResult::Read;
    extraLength = static_cast<std::size_t>(wanted);
    data.dataOffset = unzGetCurrentFileZStreamPos64(reader.archive);
    closeOpenStream(reader);
    if (extraLength == 0) return ZipResult::Ok;
    if (data.dataOffset < extraLength || extraLength > reader.localExtra.size() ||
        !readZipBytesAt(reader.source, data.dataOffset - extraLength, reader.localExtra.data(), extraLength)) {
        return ZipResult::Read;
    }
    return ZipResult::Ok;
}

ZipResult describeItem(ZipReader& reader, std::int32_t index, ZipItem& item, ZipItemData& data) {
    if (!positionOn(reader, index)) return ZipResult::NotFound;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(reader.archive, &info, reader.nameBuffer.data(),
                                static_cast<uLong>(reader.nameBuffer.size()), reader.centralExtra.data(),
                                static_cast<uLong>(reader.centralExtra.size()), nullptr, 0) != UNZ_OK) {
        return ZipResult::Corrupt;
    }
    const std::size_t centralExtraLength = std::min<std::size_t>(info.size_file_extra, reader.centralExtra.size());
    data = ZipItemData{};
    data.compressedSize = info.compressed_size;
    data.uncompressedSize = info.uncompressed_size;
    // minizip does not always take the sizes from the Zip64 block.
    applyZip64Sizes(reader.centralExtra.data(), centralExtraLength, data.uncompressedSize, data.compressedSize);
    data.flag = static_cast<std::uint32_t>(info.flag);
    data.method = static_cast<std::uint32_t>(info.compression_method);
    data.crc = static_cast<std::uint32_t>(info.crc);
    data.dosDate = static_cast<std::uint32_t>(info.dosDate);
    data.decodable = (data.method == kMethodStored || data.method == kMethodDeflated) &&
                     !(data.flag & kFlagStrongEncryption);
    std::size_t localExtraLength = 0;
    if (data.decodable) {
        const ZipResult local = readLocalHeader(reader, index, data, localExtraLength);
        if (local != ZipResult::Ok) return local;
    }

    item.index = index;
    const std::u16string name =
        decodeZipName(reader.nameBuffer.data(), std::min<std::size_t>(info.size_filename, reader.nameBuffer.size()),
                      data.flag, static_cast<std::uint32_t>(info.version), reader.centralExtra.data(),
                      centralExtraLength);
    if (name.size() >= MAX_PATH) return ZipResult::NoFile;
    std::memcpy(item.name, name.data(), name.size() * sizeof(WCHAR));
    item.name[name.size()] = 0;

    item.attributes = attributesFor(static_cast<std::uint32_t>(info.version), static_cast<std::uint32_t>(info.external_fa));
    // A name ending in a separator is a folder whatever the attributes say
    // (streamed writers often store none).
    if (!name.empty() && (name.back() == u'/' || name.back() == u'\\')) item.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    item.compressedSize = static_cast<std::int64_t>(data.compressedSize & 0x7FFFFFFFFFFFFFFFull);
    item.uncompressedSize = static_cast<std::int64_t>(data.uncompressedSize & 0x7FFFFFFFFFFFFFFFull);
    const FILETIME dosTime = reader.output ? reader.output->fileTimeFromDos(data.dosDate) : FILETIME{};
    item.modifyTime = item.accessTime = item.creationTime = dosTime;
    applyExtendedTimestamp(reader.localExtra.data(), localExtraLength, item.modifyTime, item.accessTime,
                           item.creationTime);
    return ZipResult::Ok;
}

}  // namespace

ZipHandle* openZipArchive(const WCHAR* path, const char* password) {
    if (path == nullptr) return nullptr;
    ZipReader* reader = new (std::nothrow) ZipReader;
    ZipHandle* handle = new (std::nothrow) ZipHandle{kZipReadHandleKind, reader};
    if (reader == nullptr || handle == nullptr) {
        delete reader;
        delete handle;
        return nullptr;
    }
    reader->source = openZipByteSource(path);
    unz_global_info64 global{};
    if (reader->source != nullptr) {
        mendZip64EndRecords(reader->source);
        zlib_filefunc64_def functions;
        fillZipByteSource(&functions, reader->source);
        reader->archive = unzOpen2_64(path, &functions);
    }
    if (reader->archive == nullptr || unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK) {
        closeZipArchive(handle);
        return nullptr;
    }
    reader->entryCount = global.number_entry > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(global.number_entry);
    if (password && password[0]) {
        reader->password = password;
        reader->hasPassword = true;
    }
    reader->nameBuffer.resize(kFieldCapacity);
    reader->localExtra.resize(kFieldCapacity);
    reader->centralExtra.resize(kFieldCapacity);
    return handle;
}

ZipResult setZipBaseFolder(ZipHandle* handle, const WCHAR* folder) {
    if (checkHandle(handle) != ZipResult::Ok || folder == nullptr) return ZipResult::Args;
    char narrow[MAX_PATH];
    if (!toNarrow(folder, narrow, sizeof narrow)) return ZipResult::Args;
    std::string base(narrow);
    // Kept without its trailing separator: the joined paths add their own.
    if (!base.empty() && (base.back() == '\\' || base.back() == '/')) {
        const char* last = lastCharOf(narrow, base.back());
        if (last == narrow + base.size() - 1) base.pop_back();
    }
    if (!base.empty()) createFolderPath(base.c_str());
    handle->reader->output.reset(new (std::nothrow) MemberOutput(base.c_str(), MemberNames::AsStored));
    return handle->reader->output ? ZipResult::Ok : ZipResult::NoMemory;
}

ZipResult queryZipItem(ZipHandle* handle, std::int32_t index, ZipItem* item) {
    if (checkHandle(handle) != ZipResult::Ok || item == nullptr) return ZipResult::Args;
    item->index = 0;
    item->name[0] = 0;
    item->uncompressedSize = 0;
    ZipReader& reader = *handle->reader;
    if (index < -1 || index >= reader.entryCount) return ZipResult::Args;
    closeOpenStream(reader);
    if (index == -1) {
        *item = ZipItem{};
        item->index = reader.entryCount;
        return ZipResult::Ok;
    }
    if (index == reader.cachedIndex) {
        *item = reader.cachedItem;
        return ZipResult::Ok;
    }
    ZipItem described{};
    ZipItemData data;
    const ZipResult result = describeItem(reader, index, described, data);
    closeOpenStream(reader);
    if (result != ZipResult::Ok) return result;
    reader.cachedItem = described;
    reader.cachedData = data;
    reader.cachedIndex = index;
    *item = described;
    return ZipResult::Ok;
}

ZipResult extractZipItem(ZipHandle* handle, std::int32_t index, const WCHAR* fileName) {
    if (checkHandle(handle) != ZipResult::Ok) return ZipResult::Args;
    ZipReader& reader = *handle->reader;
    closeOpenStream(reader);
    if (fileName == nullptr || index < 0 || index >= reader.entryCount || !reader.output) return ZipResult::Args;
    ZipItem item;
    const ZipResult described = queryZipItem(handle, index, &item);
    if (described != ZipResult::Ok) return described;

    // The name, whatever it holds, is placed below the base folder; a name
    // too long for a device path is refused, never cut.
    MemberOutput& output = *reader.output;
    if (item.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder entry naming the base folder itself ("./") asks for nothing.
        return output.makeFolder(fileName) == MemberStart::Failed ? ZipResult::NoFile : ZipResult::Ok;
    }
    if (!reader.cachedData.decodable) return ZipResult::Unsupported;
    const DWORD attributes = item.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return writeZipItem(reader.writer, reader.source, reader.cachedData,
                        reader.hasPassword ? reader.password.c_str() : nullptr, output, fileName, item.modifyTime,
                        item.accessTime, attributes);
}

ZipResult closeZipArchive(ZipHandle* handle) {
    if (checkHandle(handle) != ZipResult::Ok) return ZipResult::Args;
    ZipReader* reader = handle->reader;
    closeOpenStream(*reader);
    if (reader->archive) unzClose(reader->archive);
    closeZipByteSource(reader->source);
    delete reader;
    handle->reader = nullptr;
    handle->kind = 0;
    delete handle;
    return ZipResult::Ok;
}
