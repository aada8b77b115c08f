#include "formats/lzh/lzh_handler.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_output.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/lzh/lzh_member_decoder.h"
#include "platform/win_types.h"

namespace {

constexpr std::size_t kBaseHeaderMinimum = 21;
constexpr std::size_t kLevel2BaseHeader = 26;
// Self-extracting archives keep their program in front of the first header;
// no such program is larger than this.
constexpr std::size_t kSearchLimit = 307200;
constexpr std::uint8_t kPathSeparator = 0xFF;
// The DOS attribute bits a file takes back: read-only, hidden, system, archive.
constexpr std::uint16_t kKeptAttributes = 0x27;

enum ExtendedType : std::uint8_t {
    kHeaderCrc = 0x00,
    kFileName = 0x01,
    kFolderName = 0x02,
    kAttribute = 0x40,
};

std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Copies a stored name part, turning the 0xFF separators into `\`. Double-byte
// characters pass whole, so their second byte is never taken on its own. A
// NUL ends the text. False when it does not fit in capacity.
bool copyNamePart(char* target, std::size_t capacity, const std::uint8_t* source, std::size_t length) {
    if (length >= capacity) return false;
    std::size_t i = 0;
    while (i < length && source[i] != 0) {
        if (isLeadByte(source[i]) && i + 1 < length && source[i + 1] != 0) {
            target[i] = static_cast<char>(source[i]);
            target[i + 1] = static_cast<char>(source[i + 1]);
            i += 2;
            continue;
        }
        target[i] = source[i] == kPathSeparator ? '\\' : static_cast<char>(source[i]);
        ++i;
    }
    target[i] = '\0';
    return true;
}

bool endsWithSeparator(const char* text) {
    const char* last = nullptr;
    for (const char* p = text; *p; p = nextChar(p)) last = p;
    return last != nullptr && (*last == '\\' || *last == '/');
}

class CrcFileSink : public LzhSink {
public:
    CrcFileSink(MemberOutput& file, const LzhCrc16& crc16) : output(file), crc(crc16) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        value = crc.update(value, data, size);
        return output.write(data, size);
    }
    std::uint16_t value = 0;

private:
    MemberOutput& output;
    const LzhCrc16& crc;
};

}  // namespace

LzhCrc16::LzhCrc16() {
    for (unsigned v = 0; v < 256; ++v) {
        unsigned c = v;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xA001u : c >> 1;
        table[0][v] = static_cast<std::uint16_t>(c);
    }
    for (int k = 1; k < 8; ++k) {
        for (unsigned v = 0; v < 256; ++v) {
            const unsigned previous = table[k - 1][v];
            table[k][v] = static_cast<std::uint16_t>((previous >> 8) ^ table[0][previous & 0xFF]);
        }
    }
}

std::uint16_t LzhCrc16::update(std::uint16_t c, const std::uint8_t* data, std::size_t size) const {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint8_t* p = data + i;
        const unsigned low = c ^ (p[0] | (p[1] << 8));
        c = static_cast<std::uint16_t>(table[7][low & 0xFF] ^ table[6][low >> 8] ^ table[5][p[2]] ^
                                       table[4][p[3]] ^ table[3][p[4]] ^ table[2][p[5]] ^
                                       table[1][p[6]] ^ table[0][p[7]]);
    }
    for (; i < size; ++i) c = static_cast<std::uint16_t>(table[0][(c ^ data[i]) & 0xFF] ^ (c >> 8));
    return c;
}

bool LzhHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "lzh"); }

LzhHandler::HeaderResult LzhHandler::readHeader(std::FILE* archive, std::uint8_t* buffer,
                                                Header& header) const {
    header.path[0] = '\0';
    header.pathTooLong = false;
    const long headerStart = std::ftell(archive);
    std::uint8_t* base = buffer;
    const std::size_t got = std::fread(base, 1, kBaseHeaderMinimum, archive);
    // A size byte of 0 (or the file's end) where a header would start closes
    // the archive. For level 2 that byte is the low byte of a 16-bit size, so
    // a level-2 header of 256 or 512 bytes is told apart by its own fields.
    if (got == 0) return HeaderResult::EndOfArchive;
    if (base[0] == 0 && !(got == kBaseHeaderMinimum && base[20] == 2 && base[2] == '-' && base[3] == 'l')) {
        return HeaderResult::EndOfArchive;
    }
    if (got < kBaseHeaderMinimum) return HeaderResult::Damaged;

    header.level = base[20];
    if (header.level > 2) return HeaderResult::Damaged;
    const std::size_t baseSize =
        header.level == 2 ? kLevel2BaseHeader : static_cast<std::uint8_t>(base[0] + 2);
    if (baseSize < kBaseHeaderMinimum) return HeaderResult::Damaged;
    if (base[2] != '-' || base[3] != 'l') return HeaderResult::Damaged;
    std::memcpy(header.method, base + 2, 5);
    header.method[5] = '\0';
    header.packedSize = readU32(base + 7);
    header.unpackedSize = readU32(base + 11);
    header.timeStamp = readU32(base + 15);
    header.attribute = base[19];
    if (std::fread(base + kBaseHeaderMinimum, 1, baseSize - kBaseHeaderMinimum, archive) !=
        baseSize - kBaseHeaderMinimum) {
        return HeaderResult::Damaged;
    }
    std::uint16_t headerCrc = crc.update(0, base, baseSize);

    char fileName[kNameCapacity + 1] = "";
    char folder[kNameCapacity + 2] = "";
    if (header.level < 2) {
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < baseSize; ++i) sum = static_cast<std::uint8_t>(sum + base[i]);
        if (sum != base[1]) return HeaderResult::Damaged;
        const std::size_t nameLength = base[21];
        if (nameLength + 24 > baseSize) return HeaderResult::Damaged;
        header.dataCrc = readU16(base + 22 + nameLength);
        if (!copyNamePart(fileName, sizeof fileName, base + 22, nameLength)) header.pathTooLong = true;
    } else {
        header.dataCrc = readU16(base + 21);
    }

    bool crcTaken = false;
    std::uint16_t storedCrc = 0;
    std::size_t headerBytes = baseSize;
    if (header.level >= 1) {
        std::size_t extendedSize = readU16(base + baseSize - 2);
        std::uint8_t* extended = buffer + kLevel2BaseHeader + 8;
        while (extendedSize > 2) {
            if (std::fread(extended, 1, extendedSize, archive) != extendedSize) return HeaderResult::Damaged;
            headerBytes += extendedSize;
            if (header.level == 1) {
                // Level 1 counts its extended headers in the packed size.
                if (extendedSize > header.packedSize) return HeaderResult::Damaged;
                header.packedSize -= static_cast<std::uint32_t>(extendedSize);
            }
            const std::uint8_t* data = extended + 1;
            const std::size_t dataSize = extendedSize - 3;
            switch (extended[0]) {
            case kHeaderCrc:
                if (!crcTaken && extendedSize >= 5) {
                    crcTaken = true;
                    storedCrc = readU16(data);
                    extended[1] = extended[2] = 0;
                }
                break;
            case kFileName:
                if (!copyNamePart(fileName, sizeof fileName, data, dataSize)) header.pathTooLong = true;
                break;
            case kFolderName:
                if (!copyNamePart(folder, sizeof folder - 1, data, dataSize)) header.pathTooLong = true;
                break;
            case kAttribute:
                if (extendedSize >= 5) header.attribute = readU16(data);
                break;
            default:
                break;
            }
            headerCrc = crc.update(headerCrc, extended, extendedSize);
            extendedSize = readU16(extended + extendedSize - 2);
        }
    }
    if (crcTaken && headerCrc != storedCrc) return HeaderResult::Damaged;

    if (header.level == 2) {
        // Some writers pad a level-2 header (so that its size's low byte is
        // never 0); its total size says where the data starts.
        const std::size_t totalSize = readU16(base);
        if (totalSize > headerBytes && std::fseek(archive, headerStart + static_cast<long>(totalSize), SEEK_SET) != 0) {
            return HeaderResult::Damaged;
        }
    }

    if (header.pathTooLong) return HeaderResult::Member;
    if (folder[0] != '\0' && !endsWithSeparator(folder)) std::strcat(folder, "\\");
    std::strcpy(header.path, folder);
    std::strcat(header.path, fileName);
    return HeaderResult::Member;
}

long LzhHandler::findFirstHeader(std::FILE* archive, const std::uint8_t* head, std::size_t length,
                                 std::uint8_t* buffer) const {
    if (length <= 20) return -1;
    Header header;
    for (std::size_t i = 0; i < length - 20; ++i) {
        if (head[i + 2] != '-' || head[i + 3] != 'l' || (head[i + 4] != 'h' && head[i + 4] != 'z')) continue;
        if (std::fseek(archive, static_cast<long>(i), SEEK_SET) != 0) return -1;
        if (readHeader(archive, buffer, header) == HeaderResult::Member) return static_cast<long>(i);
    }
    return -1;
}

bool LzhHandler::probe(const char* path, std::int32_t fileSize) {
    if (fileSize <= 20) return false;
    std::size_t length = static_cast<std::size_t>(fileSize);
    if (length > kSearchLimit) length = kSearchLimit;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kHeaderBufferSize]);
    if (!buffer) return false;
    std::FILE* archive = openNarrow(path, "rb");
    if (archive == nullptr) return false;
    const long first = findFirstHeader(archive, appState.sniffBuffer, length, buffer.get());
    std::fclose(archive);
    return first >= 0;
}

bool LzhHandler::extractMember(std::FILE* archive, const Header& header, MemberOutput& output) {
    if (header.pathTooLong) return false;
    const bool isFolder = std::strcmp(header.method, "-lhd-") == 0;
    LzhMethod method = LzhMethod::Stored;
    // A method no decoder knows writes nothing rather than an empty file
    // that would pass for the member.
    if (!isFolder && !lzhMethodForId(header.method, &method)) return false;

    char stored[sizeof header.path + 1];
    std::strcpy(stored, header.path);
    if (isFolder && stored[0] != '\0' && !endsWithSeparator(stored)) std::strcat(stored, "\\");
    if (isFolder) return output.makeFolder(stored) == MemberStart::Opened;
    if (output.open(stored) != MemberStart::Opened) return false;
    CrcFileSink sink(output, crc);
    const LzhDecodeResult result =
        decodeLzhMember(method, archive, header.packedSize, sink, header.unpackedSize);
    const FILETIME modified =
        header.level == 2 ? fileTimeFromUnix(header.timeStamp) : output.fileTimeFromDos(header.timeStamp);
    const bool closed = output.close(&modified, nullptr, header.attribute & kKeptAttributes);
    return result == LzhDecodeResult::Done && closed && sink.value == header.dataCrc;
}

int LzhHandler::extract(const char* path, const char* destFolder) {
    std::FILE* archive = openNarrow(path, "rb");
    if (archive == nullptr) return 0;
    std::uint8_t* head = appState.sniffBuffer;
    const std::size_t length = std::fread(head, 1, kSniffBufferSize, archive);
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kHeaderBufferSize]);
    const long first = buffer ? findFirstHeader(archive, head, length, buffer.get()) : -1;
    if (first < 0 || std::fseek(archive, first, SEEK_SET) != 0) {
        std::fclose(archive);
        return 0;
    }
    bool allWell = true;
    MemberOutput output(destFolder, MemberNames::Sanitized);
    Header header;
    for (;;) {
        const HeaderResult read = readHeader(archive, buffer.get(), header);
        if (read != HeaderResult::Member) {
            // A damaged header ends the walk; the members before it stay.
            if (read == HeaderResult::Damaged) allWell = false;
            break;
        }
        const long dataStart = std::ftell(archive);
        if (!extractMember(archive, header, output)) allWell = false;
        if (dataStart < 0 ||
            std::fseek(archive, dataStart + static_cast<long>(header.packedSize), SEEK_SET) != 0) {
            allWell = false;
            break;
        }
    }
    std::fclose(archive);
    return allWell ? 1 : 0;
}
