#include "formats/stream/yenc_handler.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/stream/stream_output.h"
#include "formats/stream/text_lines.h"
#include "platform/win_types.h"

namespace {

constexpr std::int32_t kProbeMinimum = 15;
constexpr std::size_t kHeaderTagLength = 8;  // "=ybegin "

bool startsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

bool isHeaderLine(const char* line) {
    return startsWith(line, "=ybegin ") && std::strstr(line, " name=") != nullptr;
}

// A key=value word of a yEnc control line. Present but not a number in the
// expected base counts as a value that matches nothing.
struct Parameter {
    bool present = false;
    bool valid = false;
    std::uint64_t value = 0;
};

bool parseNumber(const char* p, const char* end, int base, std::uint64_t* value) {
    std::uint64_t result = 0;
    const char* start = p;
    for (; p < end; ++p) {
        unsigned digit;
        const char c = *p;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        if (result > (UINT64_MAX - digit) / static_cast<unsigned>(base)) return false;
        result = result * static_cast<unsigned>(base) + digit;
    }
    *value = result;
    return p != start;
}

// Looks key up among the space-separated words of [text, end).
Parameter findParameter(const char* text, const char* end, const char* key, int base) {
    Parameter parameter;
    const std::size_t keyLength = std::strlen(key);
    const char* p = text;
    while (p < end) {
        while (p < end && *p == ' ') ++p;
        const char* word = p;
        while (p < end && *p != ' ') ++p;
        if (static_cast<std::size_t>(p - word) > keyLength && std::strncmp(word, key, keyLength) == 0 &&
            word[keyLength] == '=') {
            parameter.present = true;
            parameter.valid = parseNumber(word + keyLength + 1, p, base, &parameter.value);
            return parameter;
        }
    }
    return parameter;
}

Parameter findParameter(const char* line, const char* key, int base) {
    return findParameter(line, line + std::strlen(line), key, base);
}

// True when the parameter is absent or holds exactly expected.
bool agrees(const Parameter& parameter, std::uint64_t expected) {
    return !parameter.present || (parameter.valid && parameter.value == expected);
}

struct BlockHeader {
    std::string name;
    Parameter part;
    Parameter size;
};

// The name is everything after the first " name=", trailing spaces removed;
// the other parameters are read only in front of it, where a name cannot
// hold them.
BlockHeader parseHeader(const char* line) {
    BlockHeader header;
    const char* nameAt = std::strstr(line, " name=");
    const char* name = nameAt + 6;
    std::size_t length = std::strlen(name);
    while (length > 0 && name[length - 1] == ' ') --length;
    header.name.assign(name, length);
    header.part = findParameter(line + kHeaderTagLength - 1, nameAt, "part", 10);
    header.size = findParameter(line + kHeaderTagLength - 1, nameAt, "size", 10);
    return header;
}

// The output path of a block: its name confined below destFolder, with the
// folders it names created; a name with nothing usable in it gives way to
// the file's own name without ".ntx". False when the path is too long or
// names the input itself.
bool chooseOutputPath(char* outputPath, std::size_t capacity, const char* path, const char* destFolder,
                      const std::string& name) {
    bool ready = false;
    if (!name.empty()) {
        std::vector<char> joined(std::strlen(destFolder) + name.size() + 3);
        if (joinMemberPath(joined.data(), joined.size(), destFolder, name.c_str())) {
            const std::size_t length = std::strlen(joined.data());
            if (joined[length - 1] != '\\' && toWide(joined.data(), nullptr, 0) > 0) {
                if (!copyBounded(outputPath, capacity, joined.data())) return false;
                sanitizePath(outputPath);
                ready = true;
            }
        }
    }
    if (!ready && !derivedOutputPath(outputPath, capacity, destFolder, path, "ntx", "ydec")) return false;
    return !namesSameFile(outputPath, path);
}

// A multi-part post being joined: the file its first part created, and what
// the parts so far added up to.
struct Assembly {
    std::FILE* output = nullptr;
    char path[MAX_PATH] = {};
    std::uint64_t length = 0;
    uLong crc = 0;
    Parameter total;
    Parameter wholeCrc;
    bool ok = true;
};

// Closes the joined file; false when it is incomplete, differs from the
// whole-file CRC, or could not be written.
bool finishAssembly(Assembly* assembly) {
    if (assembly->output == nullptr) return true;
    // Closed whatever became of the parts, so that its bytes reach the disk
    // now and its descriptor is not kept.
    const bool closed = closeOutput(assembly->output);
    bool ok = assembly->ok && closed;
    ok = ok && agrees(assembly->total, assembly->length) && agrees(assembly->wholeCrc, assembly->crc);
    assembly->output = nullptr;
    return ok;
}

// Decodes one data line into out; an escape at the line's end applies to
// the next line's first byte. The one branch per byte is the escape test.
std::size_t decodeLine(const unsigned char* p, std::size_t length, unsigned char* out, bool* escape) {
    const unsigned char* end = p + length;
    unsigned char* o = out;
    if (*escape && p < end) {
        *o++ = static_cast<unsigned char>(*p++ - 106);
        *escape = false;
    }
    while (p < end) {
        const unsigned char c = *p++;
        if (c != '=') {
            *o++ = static_cast<unsigned char>(c - 42);
        } else if (p < end) {
            *o++ = static_cast<unsigned char>(*p++ - 106);
        } else {
            *escape = true;
        }
    }
    return static_cast<std::size_t>(o - out);
}

}  // namespace

bool YencHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "ntx"); }

bool YencHandler::probe(const char*, std::int32_t fileSize) {
    const std::int32_t limit = std::min<std::int32_t>(fileSize, static_cast<std::int32_t>(kSniffBufferSize));
    if (limit <= kProbeMinimum) return false;
    const std::uint8_t* head = appState.sniffBuffer;
    for (std::int32_t i = 0; i < limit - kProbeMinimum; ++i) {
        if (head[i] == 0) return false;
        std::int32_t start;
        if (i == 0 && head[0] != '\r' && head[0] != '\n') {
            start = 0;
        } else if (head[i] == '\r' || head[i] == '\n') {
            start = i + 1;
        } else {
            continue;
        }
        if (std::memcmp(head + start, "=ybegin ", kHeaderTagLength) != 0) continue;
        for (std::int32_t j = start + static_cast<std::int32_t>(kHeaderTagLength) - 1;
             j < limit - 6 && head[j] != '\r' && head[j] != '\n'; ++j) {
            if (std::memcmp(head + j, " name=", 6) == 0) return true;
        }
    }
    return false;
}

int YencHandler::extract(const char* path, const char* destFolder) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return 0;
    text_decoding::LineReader reader(file, reinterpret_cast<char*>(appState.sniffBuffer), kSniffBufferSize);
    char* line = nullptr;
    std::size_t length = 0;
    bool ok = true;
    bool headerHeld = false;  // a block's data ended at the next block's header
    Assembly assembly;
    std::vector<unsigned char> batch(kSniffBufferSize);

    for (;;) {
        while (!headerHeld && reader.next(&line, &length)) headerHeld = isHeaderLine(line);
        if (!headerHeld || reader.atEnd()) break;
        headerHeld = false;
        const BlockHeader header = parseHeader(line);

        // A part line right after the header tells where the part belongs.
        Parameter partBegin;
        Parameter partEnd;
        bool lineHeld = reader.next(&line, &length);
        if (lineHeld && startsWith(line, "=ypart")) {
            partBegin = findParameter(line, "begin", 10);
            partEnd = findParameter(line, "end", 10);
        }
        const bool isPart = header.part.present && partBegin.present;
        const bool placeable = !isPart || (partBegin.valid && partBegin.value >= 1);

        char outputPath[MAX_PATH];
        const bool named = chooseOutputPath(outputPath, sizeof outputPath, path, destFolder, header.name);
        const bool continues = isPart && placeable && named && partBegin.value > 1 &&
                               assembly.output != nullptr && std::strcmp(outputPath, assembly.path) == 0 &&
                               partBegin.value - 1 == assembly.length;
        if (!continues && !finishAssembly(&assembly)) ok = false;
        std::FILE* output = nullptr;
        if (continues) {
            output = assembly.output;
        } else if (named && placeable && (!isPart || partBegin.value == 1)) {
            output = openNarrow(outputPath, "wb");
            if (output != nullptr && isPart) {
                assembly = Assembly();
                assembly.output = output;
                std::memcpy(assembly.path, outputPath, sizeof outputPath);
                assembly.total = header.size;
            }
        }
        // A block that cannot be written (or placed) is still read through,
        // so that the blocks after it are found.
        if (output == nullptr) ok = false;

        bool escape = false;
        bool trailerSeen = false;
        bool writeOk = true;
        std::uint64_t blockLength = 0;
        uLong blockCrc = crc32(0L, Z_NULL, 0);
        Parameter trailerSize, trailerPartCrc, trailerCrc;
        // Decoded bytes gather in the batch and go to the CRC and the file
        // in large pieces; a line never decodes to more bytes than it has.
        std::size_t batched = 0;
        auto flush = [&] {
            blockCrc = crc32(blockCrc, batch.data(), static_cast<uInt>(batched));
            blockLength += batched;
            if (output != nullptr && writeOk) writeOk = writeAll(output, batch.data(), batched);
            batched = 0;
        };
        while (lineHeld || reader.next(&line, &length)) {
            lineHeld = false;
            if (line[0] == '=' && line[1] == 'y') {
                if (startsWith(line, "=yend")) {
                    trailerSize = findParameter(line, "size", 10);
                    trailerPartCrc = findParameter(line, "pcrc32", 16);
                    trailerCrc = findParameter(line, "crc32", 16);
                    trailerSeen = true;
                    break;
                }
                if (startsWith(line, "=ypart")) continue;
                if (isHeaderLine(line)) {
                    headerHeld = true;
                    break;
                }
            }
            if (length > batch.size() - batched) flush();
            batched += decodeLine(reinterpret_cast<const unsigned char*>(line), length, batch.data() + batched, &escape);
        }
        flush();

        bool blockOk = trailerSeen && writeOk && agrees(trailerSize, blockLength) &&
                       agrees(trailerPartCrc, blockCrc);
        if (isPart) {
            if (partEnd.present) {
                blockOk = blockOk && partEnd.valid && partBegin.valid && partEnd.value >= partBegin.value &&
                          partEnd.value - partBegin.value + 1 == blockLength;
            }
        } else {
            blockOk = blockOk && agrees(header.size, blockLength) && agrees(trailerCrc, blockCrc);
        }
        if (!blockOk) ok = false;

        if (output != nullptr && output == assembly.output) {
            assembly.crc = crc32_combine(assembly.crc, blockCrc, static_cast<z_off_t>(blockLength));
            assembly.length += blockLength;
            if (trailerCrc.present) assembly.wholeCrc = trailerCrc;
            if (!blockOk) assembly.ok = false;
            const bool complete = assembly.total.valid && assembly.length >= assembly.total.value;
            if (complete && !finishAssembly(&assembly)) ok = false;
        } else if (output != nullptr && !closeOutput(output)) {
            ok = false;
        }
        if (reader.atEnd() && !headerHeld) break;
    }
    if (!finishAssembly(&assembly)) ok = false;
    std::fclose(file);
    return ok ? 1 : 0;
}
