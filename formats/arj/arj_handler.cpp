#include "formats/arj/arj_handler.h"

#include <zlib.h>

#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_output.h"
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
    explicit CrcFileSink(MemberOutput& file) : output(file) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        value = ::crc32(value, data, static_cast<uInt>(size));
        return output.write(data, size);
    }
    uLong value = ::crc32(0L, Z_NULL, 0);

private:
    MemberOutput& output;
};

}  // namespace

bool ArjHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "arj"); }

bool ArjHandler::probe(const char*, std::int32_t fileSize) {
    if (fileSize <= 0) return false;
    std::size_t length = static_cast<std::size_t>(fileSize);
    if (length > kSniffBufferSize) length = kSniffBufferSize;
    return findArjMainHeader(appState.sniffBuffer, length, crc) >= 0;
}

bool ArjHandler::makeFolder(const ArjHeader& header, MemberOutput& output) {
    return !header.nameTooLong && output.makeFolder(header.name) == MemberStart::Opened;
}

bool ArjHandler::extractMember(std::FILE* archive, const ArjHeader& header, MemberOutput& output) {
    if (header.fileType == kArjDirectory) return makeFolder(header, output);
    // Comments, labels and other entries hold nothing to write.
    if (header.fileType != kArjBinary && header.fileType != kArjText) return true;
    // Members this reader cannot decode are left out, and the request says so.
    if (header.extractVersion > kHighestExtractVersion || (header.flags & kArjGarbled) ||
        header.method > kFastMethod || (header.method == kFastMethod && header.archiverVersion == 1) ||
        header.nameTooLong) {
        return false;
    }
    // A piece that began in the previous volume belongs after what that
    // volume left of the file; anywhere else it would pass for the whole file.
    const bool continuation = (header.flags & kArjContinuedFromPreviousVolume) != 0;
    const MemberStart started =
        continuation ? output.openAt(header.name, header.volumeOffset) : output.open(header.name);
    if (started != MemberStart::Opened) return false;
    CrcFileSink sink(output);
    LzhDecodeResult result;
    if (header.method == kFastMethod) {
        result = decodeArjMethod4(archive, header.packedSize, sink, header.unpackedSize);
    } else {
        result = decodeLzhMember(header.method == 0 ? LzhMethod::Stored : LzhMethod::Arj, archive,
                                 header.packedSize, sink, header.unpackedSize);
    }
    const FILETIME modified =
        fromUnixHost(header) ? fileTimeFromUnix(header.timeStamp) : output.fileTimeFromDos(header.timeStamp);
    const bool closed = output.close(&modified, nullptr, attributesOf(header));
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
    MemberOutput output(destFolder, MemberNames::Sanitized);
    for (;;) {
        const ArjHeaderResult read = readArjHeader(archive, crc, header);
        if (read == ArjHeaderResult::EndOfArchive) break;
        if (read == ArjHeaderResult::Damaged) {
            // The members before it stay; those after it are lost.
            allWell = false;
            break;
        }
        const long dataStart = std::ftell(archive);
        if (!extractMember(archive, header, output)) allWell = false;
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
