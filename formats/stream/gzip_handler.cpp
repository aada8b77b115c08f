#include "formats/stream/gzip_handler.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/stream/stream_output.h"
#include "platform/win_types.h"

namespace {

constexpr std::size_t kFixedHeaderSize = 10;
constexpr unsigned char kMethodDeflate = 8;
constexpr unsigned char kFlagExtra = 0x04;
constexpr unsigned char kFlagName = 0x08;
// The longest stored name we read; a longer one is not used.
constexpr std::size_t kStoredNameCapacity = 65536;
// zlib reads its input in pieces of this size; larger pieces cost fewer
// system calls and keep pace with the fastest peers.
constexpr unsigned kInflateBufferSize = 256 * 1024;
constexpr unsigned kCopyChunk = static_cast<unsigned>(kSniffBufferSize);

enum class Header { Gzip, NotDecodable };

// Reads the header fields that come before the stored name, in the order
// the format lays them out (the extra field first; the header CRC comes
// after name and comment, so it never shifts the name). On return name
// holds the stored name, or is empty when there is none or it is unusable
// (unterminated, or longer than kStoredNameCapacity - 1 bytes).
Header readStoredName(std::FILE* file, char* name) {
    name[0] = '\0';
    unsigned char fixed[kFixedHeaderSize];
    if (std::fread(fixed, 1, sizeof fixed, file) != sizeof fixed) return Header::NotDecodable;
    // 1F 9E is not something zlib decodes: it would copy the file verbatim
    // and call that a success.
    if (fixed[0] != 0x1F || fixed[1] != 0x8B || fixed[2] != kMethodDeflate) return Header::NotDecodable;
    const unsigned char flags = fixed[3];
    if (flags & kFlagExtra) {
        unsigned char lengthBytes[2];
        if (std::fread(lengthBytes, 1, 2, file) != 2) return Header::Gzip;
        const long extraLength = lengthBytes[0] | (lengthBytes[1] << 8);
        if (std::fseek(file, extraLength, SEEK_CUR) != 0) return Header::Gzip;
    }
    if (!(flags & kFlagName)) return Header::Gzip;
    std::size_t length = 0;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) {
            length = 0;
            break;
        }
        if (c == 0) break;
        if (length == kStoredNameCapacity - 1) {
            length = 0;
            break;
        }
        name[length++] = static_cast<char>(c);
    }
    name[length] = '\0';
    return Header::Gzip;
}

// Output path from the stored name when it is usable, else the derived one.
// False when the header is not decodable gzip or the path does not fit.
bool chooseOutputPath(char* outputPath, std::size_t capacity, const char* path,
                      const char* destFolder) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return false;
    char* storedName = reinterpret_cast<char*>(appState.sniffBuffer);
    const Header header = readStoredName(file, storedName);
    std::fclose(file);
    if (header == Header::NotDecodable) return false;

    if (storedName[0] != '\0') {
        // Joined in a buffer large enough for any stored name, so that a name
        // too long for a path is told apart from one with nothing usable in it.
        char* joined = storedName + kStoredNameCapacity;
        const std::size_t joinedCapacity = kStoredNameCapacity + kDestinationCapacity + 2;
        if (joinLastComponent(joined, joinedCapacity, destFolder, storedName)) {
            if (std::strlen(joined) >= capacity) return false;
            // A stored name equal to the archive's own would truncate the
            // input before it is read.
            if (toWide(joined, nullptr, 0) > 0 && !namesSameFile(joined, path)) {
                std::memcpy(outputPath, joined, std::strlen(joined) + 1);
                return true;
            }
        }
    }
    return derivedOutputPath(outputPath, capacity, destFolder, path, "gz", "ungzip");
}

}  // namespace

bool GzipHandler::probe(const char* path, std::int32_t fileSize) {
    const std::uint8_t* head = appState.sniffBuffer;
    return fileSize >= static_cast<std::int32_t>(kFixedHeaderSize) && head[0] == 0x1F &&
           (head[1] == 0x8B || head[1] == 0x9E);
}

int GzipHandler::extract(const char* path, const char* destFolder) {
    char outputPath[MAX_PATH];
    if (!chooseOutputPath(outputPath, sizeof outputPath, path, destFolder)) return 0;

    const int descriptor = openNarrowReadDescriptor(path);
    if (descriptor < 0) return 0;
    gzFile stream = gzdopen(descriptor, "rb");
    if (stream == nullptr) {
        // A failed gzdopen leaves the descriptor open.
        closeNarrowReadDescriptor(descriptor);
        return 0;
    }
    gzbuffer(stream, kInflateBufferSize);

    std::FILE* output = openNarrow(outputPath, "wb");
    if (output == nullptr) {
        gzclose(stream);
        return 0;
    }
    // gzread goes on into any further gzip members; what follows the last
    // member, when it is not gzip, zlib ignores.
    bool ok = true;
    for (;;) {
        const int got = gzread(stream, appState.sniffBuffer, kCopyChunk);
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!writeAll(output, appState.sniffBuffer, static_cast<std::size_t>(got))) {
            ok = false;
            break;
        }
    }
    int error = Z_OK;
    gzerror(stream, &error);
    if (error != Z_OK) ok = false;
    // Input that ends inside a member shows only here.
    if (gzclose(stream) != Z_OK) ok = false;
    if (!closeOutput(output)) ok = false;
    return ok ? 1 : 0;
}
