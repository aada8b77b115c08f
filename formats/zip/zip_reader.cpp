#include "formats/zip/zip_reader.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/extraction_driver.h"
#include "core/member_output.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/zip/zip_byte_source.h"
#include "formats/zip/zip_crc32.h"
#include "formats/zip/zip_crypto.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/text_conversion.h"

namespace {

constexpr std::uint32_t kFlagEncrypted = 0x0001;
constexpr std::uint32_t kFlagDataDescriptor = 0x0008;
constexpr std::uint32_t kFlagStrongEncryption = 0x0040;
constexpr std::uint32_t kFlagUtf8Name = 0x0800;
constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflated = 8;

// Stored names and extra fields are at most 65,535 bytes long.
constexpr std::size_t kFieldCapacity = 65536;
// Large pieces keep system calls few on big items; both buffers live as long
// as the reader.
constexpr std::size_t kInputChunk = 1024 * 1024;
constexpr std::size_t kOutputChunk = 512 * 1024;
constexpr std::size_t kHeldOutput = 1024 * 1024;

constexpr std::uint64_t kUnixEpochAsFileTime = 0x019DB1DED53E8000ull;

// What extraction needs of an item beyond its ZipItem.
struct ItemDetail {
    std::uint32_t flag = 0;
    std::uint32_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t dosDate = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t dataOffset = 0;
    bool decodable = false;
};

bool isSeparator(WCHAR c) { return c == u'/' || c == u'\\'; }

FILETIME fileTimeFrom(std::uint64_t units) {
    return FILETIME{static_cast<DWORD>(units & 0xFFFFFFFFu), static_cast<DWORD>(units >> 32)};
}

FILETIME fileTimeFromUnixSeconds(std::int32_t seconds) {
    const std::int64_t units = static_cast<std::int64_t>(seconds) * 10000000 +
                               static_cast<std::int64_t>(kUnixEpochAsFileTime);
    return fileTimeFrom(static_cast<std::uint64_t>(units));
}

std::int32_t readInt32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                     (static_cast<std::uint32_t>(p[2]) << 16) |
                                     (static_cast<std::uint32_t>(p[3]) << 24));
}

// The extended timestamp ("UT") block of a local extra field replaces the
// times it carries. Only times that lie wholly inside both their block and
// the field are used.
void applyExtendedTimestamp(const std::uint8_t* field, std::size_t length, ZipItem& item) {
    if (length <= 4) return;
    std::size_t at = 0;
    while (at + 4 < length) {
        const std::size_t dataSize = field[at + 2] | (field[at + 3] << 8);
        if (field[at] == 'U' && field[at + 1] == 'T') {
            const std::size_t end = std::min(length, at + 4 + dataSize);
            std::size_t p = at + 4;
            if (p >= end) return;
            const std::uint8_t flags = field[p++];
            FILETIME* targets[3] = {&item.modifyTime, &item.accessTime, &item.creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1u << bit))) continue;
                if (p + 4 > end) return;
                *targets[bit] = fileTimeFromUnixSeconds(readInt32(field + p));
                p += 4;
            }
            return;
        }
        at += 4 + dataSize;
    }
}

std::uint64_t readUint64(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(readInt32(p)) | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(readInt32(p + 4))) << 32);
}

// Sizes whose 32-bit field holds 0xFFFFFFFF are in the central entry's Zip64
// block, in a fixed order and present only when needed. minizip does not
// always take them from there, so they are read here.
void applyZip64Sizes(const std::uint8_t* field, std::size_t length, unz_file_info64& info) {
    const bool wantUncompressed = info.uncompressed_size == 0xFFFFFFFFu;
    const bool wantCompressed = info.compressed_size == 0xFFFFFFFFu;
    if (!wantUncompressed && !wantCompressed) return;
    std::size_t at = 0;
    while (at + 4 <= length) {
        const std::size_t dataSize = field[at + 2] | (field[at + 3] << 8);
        const std::size_t end = std::min(length, at + 4 + dataSize);
        if (field[at] == 0x01 && field[at + 1] == 0x00) {
            std::size_t p = at + 4;
            if (wantUncompressed && p + 8 <= end) {
                info.uncompressed_size = readUint64(field + p);
                p += 8;
            }
            if (wantCompressed && p + 8 <= end) info.compressed_size = readUint64(field + p);
            return;
        }
        at += 4 + dataSize;
    }
}

// Drops drive prefixes, leading separators and everything up to a
// separator-dot-dot-separator, until none is left. A leading ".." that
// remains is left to joinMemberPath, which never climbs above the base.
void applyNameSafety(std::u16string& name) {
    static const char16_t* const kPatterns[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == u':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && isSeparator(name[0])) {
            name.erase(0, 1);
            continue;
        }
        bool changed = false;
        for (const char16_t* pattern : kPatterns) {
            const std::size_t found = name.find(pattern);
            if (found != std::u16string::npos) {
                name.erase(0, found + 4);
                changed = true;
                break;
            }
        }
        if (!changed) return;
    }
}

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
    // explicit offsets, large pieces straight into the input buffer.
    ZipByteSource* source = nullptr;
    std::int32_t entryCount = 0;
    std::int32_t currentEntry = -1;
    std::int32_t openItem = -1;
    ZipItem cachedItem{};
    ItemDetail cachedDetail;
    std::int32_t cachedIndex = -1;
    std::string password;
    bool hasPassword = false;
    std::string baseFolder;  // narrow, without a trailing separator
    std::unique_ptr<MemberOutput> output;
    std::vector<char> nameBuffer;
    std::vector<std::uint8_t> extraBuffer;
    std::vector<std::uint8_t> centralExtra;
    std::vector<std::uint8_t> heldOutput;
    std::vector<std::uint8_t> inputBuffer;
    std::vector<std::uint8_t> outputBuffer;
    z_stream inflater{};
    bool inflaterReady = false;
};

namespace {

ZipResult finish(ZipResult result) {
    lastZipResult = result;
    return result;
}

ZipResult checkHandle(const ZipHandle* handle) {
    if (handle == nullptr || handle->reader == nullptr) return ZRES_ARGS;
    if (handle->kind != kZipReadHandleKind) return ZRES_MODE;
    return ZRES_OK;
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

// Hosts whose archivers store names as the raw bytes of the system's
// encoding, which is UTF-8 there today, without setting the UTF-8 flag.
bool hostStoresUtf8Names(std::uint32_t versionMadeBy) {
    const std::uint32_t host = versionMadeBy >> 8;
    return host == 3 /* Unix */ || host == 19 /* OS X */;
}

// True for well-formed UTF-8 that holds at least one non-ASCII character.
bool isNonAsciiUtf8(const char* text, std::size_t length) {
    bool nonAscii = false;
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) nonAscii = true;
    }
    if (!nonAscii) return false;
    return MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0) > 0;
}

// The Unicode path extra block (0x7075): version 1, the CRC-32 of the stored
// name it stands for, then the name in UTF-8. Used only while that CRC still
// matches, so a name changed by a later tool is not replaced by a stale one.
bool unicodePathName(const std::uint8_t* extra, std::size_t extraLength, const char* storedName,
                     std::size_t storedLength, std::string& utf8Name) {
    std::size_t at = 0;
    while (at + 4 <= extraLength) {
        const std::uint32_t id = extra[at] | (extra[at + 1] << 8);
        const std::size_t size = extra[at + 2] | (extra[at + 3] << 8);
        const std::size_t body = at + 4;
        if (size > extraLength - body) return false;
        if (id == 0x7075 && size > 5 && extra[body] == 1) {
            const std::uint32_t nameCrc = static_cast<std::uint32_t>(extra[body + 1]) |
                                          static_cast<std::uint32_t>(extra[body + 2]) << 8 |
                                          static_cast<std::uint32_t>(extra[body + 3]) << 16 |
                                          static_cast<std::uint32_t>(extra[body + 4]) << 24;
            const std::uint32_t actual =
                zipCrc32(0, reinterpret_cast<const std::uint8_t*>(storedName), storedLength);
            if (nameCrc != actual) return false;
            utf8Name.assign(reinterpret_cast<const char*>(extra + body + 5), size - 5);
            return true;
        }
        at = body + size;
    }
    return false;
}

ZipResult describeItem(ZipReader& reader, std::int32_t index, ZipItem& item, ItemDetail& detail) {
    if (!positionOn(reader, index)) return ZRES_NOT_FOUND;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(reader.archive, &info, reader.nameBuffer.data(),
                                static_cast<uLong>(reader.nameBuffer.size()), reader.centralExtra.data(),
                                static_cast<uLong>(reader.centralExtra.size()), nullptr, 0) != UNZ_OK) {
        return ZRES_CORRUPT;
    }
    applyZip64Sizes(reader.centralExtra.data(),
                    std::min<std::size_t>(info.size_file_extra, reader.centralExtra.size()), info);
    detail = ItemDetail{};
    detail.flag = static_cast<std::uint32_t>(info.flag);
    detail.method = static_cast<std::uint32_t>(info.compression_method);
    detail.crc = static_cast<std::uint32_t>(info.crc);
    detail.dosDate = static_cast<std::uint32_t>(info.dosDate);
    detail.compressedSize = info.compressed_size;
    detail.uncompressedSize = info.uncompressed_size;
    detail.decodable = (detail.method == kMethodStored || detail.method == kMethodDeflated) &&
                       !(detail.flag & kFlagStrongEncryption);

    // The local header must agree with the central entry; minizip checks
    // that when it opens the item's data, and hands out the local extra
    // field and where the data starts.
    std::size_t extraLength = 0;
    if (detail.decodable) {
        int method = 0;
        int level = 0;
        if (unzOpenCurrentFile2(reader.archive, &method, &level, 1) != UNZ_OK) return ZRES_CORRUPT;
        reader.openItem = index;
        const int wanted = unzGetLocalExtrafield(reader.archive, nullptr, 0);
        if (wanted < 0) return ZRES_READ;
        extraLength = static_cast<std::size_t>(wanted);
        detail.dataOffset = unzGetCurrentFileZStreamPos64(reader.archive);
        closeOpenStream(reader);
        // The local extra field lies right before the data. It is read here
        // rather than through minizip, which does not allow for data in
        // front of the archive (a self-extractor's stub) when reading it.
        if (extraLength > 0) {
            if (detail.dataOffset < extraLength || extraLength > reader.extraBuffer.size()) return ZRES_READ;
            if (!readZipBytesAt(reader.source, detail.dataOffset - extraLength, reader.extraBuffer.data(),
                                extraLength)) {
                return ZRES_READ;
            }
        }
    }

    item.index = index;
    // The name: UTF-8 when flagged so, otherwise the OEM code page. A name
    // with no UTF-16 form cannot name a file on the device.
    const std::size_t storedLength = std::min<std::size_t>(info.size_filename, reader.nameBuffer.size());
    const std::size_t nameLength = strnlen(reader.nameBuffer.data(), storedLength);
    // Names from Unix hosts are their raw UTF-8 bytes when they read as
    // UTF-8; a Unicode path block, where present and current, wins over both.
    const char* nameBytes = reader.nameBuffer.data();
    std::size_t nameByteCount = nameLength;
    UINT codePage = (detail.flag & kFlagUtf8Name) ? CP_UTF8 : CP_OEMCP;
    std::string unicodePath;
    if (codePage == CP_OEMCP) {
        const std::size_t centralExtraLength = std::min<std::size_t>(info.size_file_extra, reader.centralExtra.size());
        if (unicodePathName(reinterpret_cast<const std::uint8_t*>(reader.centralExtra.data()), centralExtraLength,
                            nameBytes, storedLength, unicodePath) &&
            !unicodePath.empty()) {
            nameBytes = unicodePath.data();
            nameByteCount = strnlen(unicodePath.data(), unicodePath.size());
            codePage = CP_UTF8;
        } else if (hostStoresUtf8Names(static_cast<std::uint32_t>(info.version)) &&
                   isNonAsciiUtf8(nameBytes, nameLength)) {
            codePage = CP_UTF8;
        }
    }
    std::u16string name;
    if (nameByteCount > 0) {
        const int needed = MultiByteToWideChar(codePage, 0, nameBytes, static_cast<int>(nameByteCount), nullptr, 0);
        if (needed <= 0) return ZRES_NO_FILE;
        name.resize(static_cast<std::size_t>(needed));
        if (MultiByteToWideChar(codePage, 0, nameBytes, static_cast<int>(nameByteCount), &name[0], needed) != needed) {
            return ZRES_NO_FILE;
        }
    }
    applyNameSafety(name);
    if (name.size() >= MAX_PATH) return ZRES_NO_FILE;
    std::memcpy(item.name, name.data(), name.size() * sizeof(WCHAR));
    item.name[name.size()] = 0;

    item.attributes = attributesFor(static_cast<std::uint32_t>(info.version), static_cast<std::uint32_t>(info.external_fa));
    // A name ending in a separator is a folder whatever the attributes say
    // (streamed writers often store none).
    if (!name.empty() && isSeparator(name.back())) item.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    item.compressedSize = static_cast<std::int64_t>(info.compressed_size & 0x7FFFFFFFFFFFFFFFull);
    item.uncompressedSize = static_cast<std::int64_t>(info.uncompressed_size & 0x7FFFFFFFFFFFFFFFull);
    const FILETIME dosTime = reader.output ? reader.output->fileTimeFromDos(detail.dosDate) : FILETIME{};
    item.modifyTime = item.accessTime = item.creationTime = dosTime;
    applyExtendedTimestamp(reader.extraBuffer.data(), extraLength, item);
    return ZRES_OK;
}

// Where an item's bytes go. The target is created at the first write that
// is not held back; an encrypted item holds back its first kHeldOutput
// bytes, so that data a wrong password turned into garbage (the check byte
// matches one time in 256) is found out before an existing file is replaced.
// Small items are then checked whole, CRC included, before the target exists.
struct ItemSink {
    MemberOutput& output;
    const char* name;
    bool holdBack;
    std::vector<std::uint8_t>& held;
    bool opened = false;

    bool open() {
        if (!opened) opened = output.open(name) == MemberStart::Opened;
        return opened;
    }
    bool writeThrough(const std::uint8_t* data, std::size_t count) { return output.write(data, count); }
    // ZRES_OK, ZRES_NO_FILE or ZRES_WRITE.
    ZipResult write(const std::uint8_t* data, std::size_t count) {
        if (holdBack && held.size() + count <= kHeldOutput) {
            held.insert(held.end(), data, data + count);
            return ZRES_OK;
        }
        const ZipResult released = release();
        if (released != ZRES_OK) return released;
        return writeThrough(data, count) ? ZRES_OK : ZRES_WRITE;
    }
    // Creates the target and writes what was held back.
    ZipResult release() {
        if (!open()) return ZRES_NO_FILE;
        holdBack = false;
        if (!held.empty()) {
            const bool written = writeThrough(held.data(), held.size());
            held.clear();
            if (!written) return ZRES_WRITE;
        }
        return ZRES_OK;
    }
};

// Moves the item's data from the archive to output: decrypts, inflates,
// checks the CRC-32 and the size.
ZipResult copyItemData(ZipReader& reader, const ItemDetail& detail, std::uint64_t packedAt, std::uint64_t packedLeft,
                       ZipCryptKeys* keys, ItemSink& output) {
    ZipResult written = ZRES_OK;
    const bool deflated = detail.method == kMethodDeflated;
    if (deflated) {
        if (!reader.inflaterReady) {
            if (inflateInit2(&reader.inflater, -MAX_WBITS) != Z_OK) return ZRES_NO_MEMORY;
            reader.inflaterReady = true;
        } else if (inflateReset(&reader.inflater) != Z_OK) {
            return ZRES_FLATE;
        }
    }
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    std::uint64_t produced = 0;
    bool streamEnded = !deflated;
    while (packedLeft > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft, kInputChunk));
        if (!readZipBytesAt(reader.source, packedAt, reader.inputBuffer.data(), piece)) return ZRES_READ;
        packedAt += piece;
        packedLeft -= piece;
        if (keys) decryptZipBytes(*keys, reader.inputBuffer.data(), piece);
        if (!deflated) {
            produced += piece;
            if (produced > detail.uncompressedSize) return ZRES_CORRUPT;
            crc = zipCrc32(crc, reader.inputBuffer.data(), piece);
            if ((written = output.write(reader.inputBuffer.data(), piece)) != ZRES_OK) return written;
            continue;
        }
        z_stream& z = reader.inflater;
        z.next_in = reader.inputBuffer.data();
        z.avail_in = static_cast<uInt>(piece);
        while (z.avail_in > 0 && !streamEnded) {
            z.next_out = reader.outputBuffer.data();
            z.avail_out = static_cast<uInt>(reader.outputBuffer.size());
            const int status = inflate(&z, Z_SYNC_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return ZRES_FLATE;
            const std::size_t made = reader.outputBuffer.size() - z.avail_out;
            if (made > 0) {
                produced += made;
                // More output than the directory promises is damage; stop
                // before writing it.
                if (produced > detail.uncompressedSize) return ZRES_CORRUPT;
                crc = zipCrc32(crc, reader.outputBuffer.data(), made);
                if ((written = output.write(reader.outputBuffer.data(), made)) != ZRES_OK) return written;
            }
            if (status == Z_STREAM_END) streamEnded = true;
            if (status == Z_BUF_ERROR && made == 0) break;  // needs more input
        }
        if (streamEnded) break;
    }
    // Deflated data can end with output still inside zlib's window.
    if (deflated && !streamEnded) {
        z_stream& z = reader.inflater;
        for (;;) {
            z.next_in = nullptr;
            z.avail_in = 0;
            z.next_out = reader.outputBuffer.data();
            z.avail_out = static_cast<uInt>(reader.outputBuffer.size());
            const int status = inflate(&z, Z_SYNC_FLUSH);
            const std::size_t made = reader.outputBuffer.size() - z.avail_out;
            if (made > 0) {
                produced += made;
                if (produced > detail.uncompressedSize) return ZRES_CORRUPT;
                crc = zipCrc32(crc, reader.outputBuffer.data(), made);
                if ((written = output.write(reader.outputBuffer.data(), made)) != ZRES_OK) return written;
            }
            if (status == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
            if (status != Z_OK || made == 0) break;
        }
        if (!streamEnded) return ZRES_FLATE;
    }
    if (produced != detail.uncompressedSize || crc != detail.crc) return ZRES_CORRUPT;
    return ZRES_OK;
}

}  // namespace

ZipHandle* openZipArchive(const WCHAR* path, const char* password) {
    if (path == nullptr) {
        finish(ZRES_ARGS);
        return nullptr;
    }
    ZipReader* reader = new (std::nothrow) ZipReader;
    ZipHandle* handle = new (std::nothrow) ZipHandle{kZipReadHandleKind, reader};
    if (reader == nullptr || handle == nullptr) {
        delete reader;
        delete handle;
        finish(ZRES_NO_MEMORY);
        return nullptr;
    }
    reader->source = openZipByteSource(path);
    if (reader->source == nullptr) {
        closeZipArchive(handle);
        finish(ZRES_NO_FILE);
        return nullptr;
    }
    zlib_filefunc64_def functions;
    fillZipByteSource(&functions, reader->source);
    reader->archive = unzOpen2_64(path, &functions);
    unz_global_info64 global{};
    if (reader->archive == nullptr || unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK) {
        closeZipArchive(handle);
        finish(ZRES_NO_FILE);
        return nullptr;
    }
    reader->entryCount = global.number_entry > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(global.number_entry);
    if (password && password[0]) {
        reader->password = password;
        reader->hasPassword = true;
    }
    reader->baseFolder.clear();
    reader->nameBuffer.resize(kFieldCapacity);
    reader->extraBuffer.resize(kFieldCapacity);
    reader->centralExtra.resize(kFieldCapacity);
    finish(ZRES_OK);
    return handle;
}

ZipResult setZipBaseFolder(ZipHandle* handle, const WCHAR* folder) {
    ZipResult result = checkHandle(handle);
    if (result != ZRES_OK) return finish(result);
    if (folder == nullptr) return finish(ZRES_ARGS);
    char narrow[MAX_PATH];
    if (!toNarrow(folder, narrow, sizeof narrow)) return finish(ZRES_ARGS);
    std::string base(narrow);
    // Kept without its trailing separator: the joined paths add their own.
    if (!base.empty() && (base.back() == '\\' || base.back() == '/')) {
        const char* last = lastCharOf(narrow, base.back());
        if (last == narrow + base.size() - 1) base.pop_back();
    }
    if (!base.empty()) createFolderPath(base.c_str());
    handle->reader->baseFolder = base;
    handle->reader->output.reset(new (std::nothrow) MemberOutput(base.c_str(), MemberNames::AsStored));
    if (!handle->reader->output) return finish(ZRES_NO_MEMORY);
    return finish(ZRES_OK);
}

ZipResult queryZipItem(ZipHandle* handle, std::int32_t index, ZipItem* item) {
    ZipResult result = checkHandle(handle);
    if (result != ZRES_OK) return finish(result);
    if (item == nullptr) return finish(ZRES_ARGS);
    item->index = 0;
    item->name[0] = 0;
    item->uncompressedSize = 0;
    ZipReader& reader = *handle->reader;
    if (index < -1 || index >= reader.entryCount) return finish(ZRES_ARGS);
    closeOpenStream(reader);
    if (index == -1) {
        *item = ZipItem{};
        item->index = reader.entryCount;
        return finish(ZRES_OK);
    }
    if (index == reader.cachedIndex) {
        *item = reader.cachedItem;
        return finish(ZRES_OK);
    }
    ZipItem described{};
    ItemDetail detail;
    result = describeItem(reader, index, described, detail);
    closeOpenStream(reader);
    if (result != ZRES_OK) return finish(result);
    reader.cachedItem = described;
    reader.cachedDetail = detail;
    reader.cachedIndex = index;
    *item = described;
    return finish(ZRES_OK);
}

ZipResult extractZipItem(ZipHandle* handle, std::int32_t index, const WCHAR* fileName) {
    ZipResult result = checkHandle(handle);
    if (result != ZRES_OK) return finish(result);
    ZipReader& reader = *handle->reader;
    closeOpenStream(reader);
    if (fileName == nullptr || index < 0 || index >= reader.entryCount) return finish(ZRES_ARGS);
    ZipItem item;
    result = queryZipItem(handle, index, &item);
    if (result != ZRES_OK) return finish(result);
    const ItemDetail detail = reader.cachedDetail;

    // The name, whatever it holds, is placed below the base folder; a name
    // too long for a device path is refused, never cut.
    const int narrowSize = toNarrow(fileName, nullptr, 0);
    if (narrowSize <= 0) return finish(ZRES_NO_FILE);
    std::vector<char> narrowName(static_cast<std::size_t>(narrowSize));
    if (!toNarrow(fileName, narrowName.data(), narrowName.size())) return finish(ZRES_NO_FILE);
    const bool isFolder = (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!reader.output) return finish(ZRES_ARGS);
    MemberOutput& output = *reader.output;
    if (isFolder) {
        // A folder entry naming the base folder itself ("./") asks for nothing.
        const MemberStart made = output.makeFolder(narrowName.data());
        return finish(made == MemberStart::Failed ? ZRES_NO_FILE : ZRES_OK);
    }
    if (!detail.decodable) return finish(ZRES_UNSUPPORTED);

    // The password is checked before the target exists, so a wrong one
    // leaves an existing file of that name as it was.
    std::uint64_t packedAt = detail.dataOffset;
    std::uint64_t packedLeft = detail.compressedSize;
    // Some writers store an empty deflated item with no data at all.
    const bool emptyItem = detail.uncompressedSize == 0 && packedLeft == 0 && detail.crc == 0 && !(detail.flag & kFlagEncrypted);
    ZipCryptKeys keys{};
    const bool encrypted = (detail.flag & kFlagEncrypted) != 0;
    if (encrypted) {
        if (packedLeft < kZipCryptHeaderSize) return finish(ZRES_CORRUPT);
        std::uint8_t header[kZipCryptHeaderSize];
        if (!readZipBytesAt(reader.source, packedAt, header, sizeof header)) return finish(ZRES_READ);
        packedAt += kZipCryptHeaderSize;
        packedLeft -= kZipCryptHeaderSize;
        keys = initZipCryptKeys(reader.hasPassword ? reader.password.c_str() : nullptr);
        decryptZipBytes(keys, header, sizeof header);
        const std::uint8_t check = header[kZipCryptHeaderSize - 1];
        bool matches = check == static_cast<std::uint8_t>(detail.crc >> 24);
        // Writers that stream (general-purpose bit 3) check against the
        // high byte of the DOS time instead; some use the CRC all the same.
        if (detail.flag & kFlagDataDescriptor) matches = matches || check == static_cast<std::uint8_t>(detail.dosDate >> 8);
        if (!matches) return finish(ZRES_PASSWORD);
    }

    // The data buffers come with the first file an archive writes.
    if (reader.inputBuffer.empty()) {
        reader.inputBuffer.resize(kInputChunk);
        reader.outputBuffer.resize(kOutputChunk);
    }
    ItemSink sink{output, narrowName.data(), encrypted, reader.heldOutput};
    reader.heldOutput.clear();
    result = emptyItem ? ZRES_OK : copyItemData(reader, detail, packedAt, packedLeft, encrypted ? &keys : nullptr, sink);
    if (result == ZRES_OK) {
        result = sink.release();
    } else if (!sink.opened && encrypted) {
        // Nothing was written: the data did not decrypt to this item.
        result = ZRES_PASSWORD;
    }
    if (sink.opened) {
        const DWORD attributes = item.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM);
        if (result != ZRES_OK) output.abandon();
        else if (!output.close(&item.modifyTime, &item.accessTime, attributes)) result = ZRES_WRITE;
    }
    return finish(result);
}

ZipResult closeZipArchive(ZipHandle* handle) {
    const ZipResult result = checkHandle(handle);
    if (result != ZRES_OK) return finish(result);
    ZipReader* reader = handle->reader;
    closeOpenStream(*reader);
    if (reader->archive) unzClose(reader->archive);
    closeZipByteSource(reader->source);
    if (reader->inflaterReady) inflateEnd(&reader->inflater);
    delete reader;
    handle->reader = nullptr;
    handle->kind = 0;
    delete handle;
    return finish(ZRES_OK);
}

bool isZipReadHandle(const ZipHandle* handle) {
    return handle != nullptr && handle->kind == kZipReadHandleKind && handle->reader != nullptr;
}
