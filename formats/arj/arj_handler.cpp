#include "formats/arj/arj_handler.h"

#include <zlib.h>

#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_path.h"
#include "core/output_files.h"
#include "formats/arj/arj_method4_decoder.h"
#include "formats/lzh/lzh_member_decoder.h"
#include "platform/win_types.h"

namespace {

// Newer archivers mark members this version needs no more than.
constexpr std::uint8_t kHighestExtractVersion = 3;
constexpr std::uint8_t kFastMethod = 4;
// The DOS attribute bits a file takes back: read-only, hidden, system, archive.
constexpr std::uint16_t kKeptAttributes = 0x27;
constexpr std::uint16_t kUnixOwnerWrite = 0x80;
constexpr DWORD kArchiveAttribute = 0x20;
constexpr DWORD kReadOnlyAttribute = 0x01;

// Unix hosts store the Unix mode and the Unix time instead of DOS attributes
// and a DOS date.
bool fromUnixHost(const ArjHeader& header) {
    return header.hostOs == kArjHostUnix || header.hostOs == kArjHostNext;
}

DWORD attributesOf(const ArjHeader& header) {
    if (fromUnixHost(header)) {
        return kArchiveAttribute | ((header.accessMode & kUnixOwnerWrite) ? 0 : kReadOnlyAttribute);
    }
    return header.accessMode & kKeptAttributes;
}

// Writes the decoded bytes and keeps their CRC-32. zlib's crc32 is the same
// CRC as the header table's, taken several bytes at a time.
class CrcFileSink : public LzhSink {
public:
    explicit CrcFileSink(std::FILE* file) : output(file) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        value = ::crc32(value, data, static_cast<uInt>(size));
        return std::fwrite(data, 1, size, output) == size;
    }
    uLong value = ::crc32(0L, Z_NULL, 0);

private:
    std::FILE* output;
};

long fileSizeOf(const char* path) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return -1;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fclose(file);
    return size;
}

}  // namespace

bool ArjHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "arj"); }

bool ArjHandler::probe(const char*, std::int32_t fileSize) {
    if (fileSize <= 0) return false;
    std::size_t length = static_cast<std::size_t>(fileSize);
    if (length > kSniffBufferSize) length = kSniffBufferSize;
    return findArjMainHeader(appState.sniffBuffer, length, crc) >= 0;
}

bool ArjHandler::makeFolder(const ArjHeader& header, const char* destFolder) {
    if (header.nameTooLong) return false;
    char stored[kArjNameCapacity + 2];
    std::strcpy(stored, header.name);
    std::strcat(stored, "\\");
    char outputPath[MAX_PATH];
    if (!joinMemberPath(outputPath, sizeof outputPath, destFolder, stored)) return false;
    sanitizePath(outputPath);
    return createFolderPath(outputPath) == 0 || pathKind(outputPath) == PathKind::Folder;
}

bool ArjHandler::extractMember(std::FILE* archive, const ArjHeader& header, const char* destFolder) {
    if (header.fileType == kArjDirectory) return makeFolder(header, destFolder);
    // Comments, labels and other entries hold nothing to write.
    if (header.fileType != kArjBinary && header.fileType != kArjText) return true;
    // Members this reader cannot decode are left out, and the request says so.
    if (header.extractVersion > kHighestExtractVersion || (header.flags & kArjGarbled) ||
        header.method > kFastMethod || (header.method == kFastMethod && header.archiverVersion == 1) ||
        header.nameTooLong) {
        return false;
    }
    char outputPath[MAX_PATH];
    if (!joinMemberPath(outputPath, sizeof outputPath, destFolder, header.name)) return false;
    sanitizePath(outputPath);

    // A piece that began in the previous volume belongs after what that
    // volume left of the file; anywhere else it would pass for the whole file.
    const bool continuation = (header.flags & kArjContinuedFromPreviousVolume) != 0;
    if (continuation && fileSizeOf(outputPath) != static_cast<long>(header.volumeOffset)) return false;
    const char* mode = continuation ? (header.fileType == kArjText ? "a" : "ab")
                                    : (header.fileType == kArjText ? "w" : "wb");
    std::FILE* output = openNarrow(outputPath, mode);
    if (output == nullptr) return false;
    CrcFileSink sink(output);
    LzhDecodeResult result;
    if (header.method == kFastMethod) {
        result = decodeArjMethod4(archive, header.packedSize, sink, header.unpackedSize);
    } else {
        result = decodeLzhMember(header.method == 0 ? LzhMethod::Stored : LzhMethod::Arj, archive,
                                 header.packedSize, sink, header.unpackedSize);
    }
    const bool closed = std::fclose(output) == 0;
    if (fromUnixHost(header)) {
        setFileTimeFromUnix(outputPath, header.timeStamp);
    } else {
        setFileTimeFromDos(outputPath, static_cast<std::uint16_t>(header.timeStamp >> 16),
                           static_cast<std::uint16_t>(header.timeStamp & 0xFFFF));
    }
    setAttributes(outputPath, attributesOf(header));
    // A piece that goes on in the next volume leaves the file incomplete.
    return result == LzhDecodeResult::Done && closed && sink.value == header.fileCrc &&
           !(header.flags & kArjContinuesInNextVolume);
}

int ArjHandler::extract(const char* path, const char* destFolder) {
    std::FILE* archive = openNarrow(path, "rb");
    if (archive == nullptr) return 0;
    // As many bytes as the probe's search looks at, so that both find the
    // same header.
    const std::size_t length = std::fread(appState.sniffBuffer, 1, kArjSearchPositions + kArjSearchSlack, archive);
    const long first = findArjMainHeader(appState.sniffBuffer, length, crc);
    ArjHeader header;
    if (first < 0 || std::fseek(archive, first, SEEK_SET) != 0 ||
        readArjHeader(archive, crc, header) != ArjHeaderResult::Header) {
        std::fclose(archive);
        return 0;
    }
    bool allWell = true;
    for (;;) {
        const ArjHeaderResult read = readArjHeader(archive, crc, header);
        if (read == ArjHeaderResult::EndOfArchive) break;
        if (read == ArjHeaderResult::Damaged) {
            // The members before it stay; those after it are lost.
            allWell = false;
            break;
        }
        const long dataStart = std::ftell(archive);
        if (!extractMember(archive, header, destFolder)) allWell = false;
        // The decoders may stop short of a damaged member's end; the next
        // header follows the stated size.
        if (dataStart < 0 ||
            std::fseek(archive, dataStart + static_cast<long>(header.packedSize), SEEK_SET) != 0) {
            allWell = false;
            break;
        }
    }
    std::fclose(archive);
    return allWell ? 1 : 0;
}
