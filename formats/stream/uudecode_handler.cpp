#include "formats/stream/uudecode_handler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/member_path.h"
#include "core/output_files.h"
#include "formats/stream/stream_output.h"
#include "formats/stream/text_lines.h"
#include "platform/win_types.h"

namespace {

constexpr std::int32_t kProbeTail = 12;
constexpr std::size_t kNameCapacity = 5000;
// The characters of a line's groups for the largest count, 63 bytes.
constexpr std::size_t kMaxGroupCharacters = 84;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// "begin" as a word of its own: "begin-base64" and "beginning" are not UU.
bool isBeginLine(const char* line) {
    return std::strncmp(line, "begin", 5) == 0 && (line[5] == '\0' || isBlank(line[5]));
}

// "end", the line that closes the data (blanks after it allowed).
bool isEndLine(const char* line) {
    if (std::strncmp(line, "end", 3) != 0) return false;
    for (const char* p = line + 3; *p; ++p) {
        if (!isBlank(*p)) return false;
    }
    return true;
}

// A data line exactly as long as its count asks (one extra character for
// encoders that add a check character) and made of alphabet characters
// only: what may start a new section after a break.
bool isCompleteDataLine(const unsigned char* text, std::size_t length, int count, const bool* inAlphabet) {
    const std::size_t wanted = 1 + 4 * static_cast<std::size_t>((count + 2) / 3);
    if (length != wanted && length != wanted + 1) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] > 0x7F || !inAlphabet[text[i]]) return false;
    }
    return true;
}

bool startsBegin(const std::uint8_t* at) { return std::memcmp(at, "begin", 5) == 0; }

// "begin <octal mode> <name>": the name is the word after the mode, or
// nothing when the mode is missing.
void takeBeginName(const char* line, char* name) {
    name[0] = '\0';
    const char* p = line + 5;
    while (isBlank(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '7') return;
    while (*p >= '0' && *p <= '7') ++p;
    while (isBlank(*p)) ++p;
    const char* start = p;
    while (*p && !isBlank(*p) && static_cast<std::size_t>(p - start) < kNameCapacity - 1) ++p;
    const std::size_t length = static_cast<std::size_t>(p - start);
    std::memcpy(name, start, length);
    name[length] = '\0';
}

bool chooseOutputPath(char* outputPath, std::size_t capacity, const char* path, const char* destFolder,
                      const char* name) {
    bool ready = false;
    if (name[0] != '\0') {
        switch (lastComponentPath(outputPath, capacity, destFolder, name)) {
            case NamedPath::Usable: ready = true; break;
            case NamedPath::TooLong: return false;
            case NamedPath::Unusable: break;
        }
    }
    // The derived name is the file's own without its extension.
    if (!ready && !derivedOutputPath(outputPath, capacity, destFolder, path, extensionOf(path), "uudec")) {
        return false;
    }
    return !namesSameFile(outputPath, path);
}

}  // namespace

void UuDecodeHandler::buildDecodeTable() {
    std::memset(decodeTable, 0, sizeof decodeTable);
    std::memset(inAlphabet, 0, sizeof inAlphabet);
    for (unsigned char i = 0; i < 64; ++i) {
        decodeTable[32 + i] = i;
        inAlphabet[32 + i] = true;
    }
    inAlphabet['`'] = true;
}

void XxDecodeHandler::buildDecodeTable() {
    static const char kAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::memset(decodeTable, 0, sizeof decodeTable);
    std::memset(inAlphabet, 0, sizeof inAlphabet);
    for (unsigned char i = 0; i < 64; ++i) {
        decodeTable[static_cast<unsigned char>(kAlphabet[i])] = i;
        inAlphabet[static_cast<unsigned char>(kAlphabet[i])] = true;
    }
}

bool UuDecodeHandler::probe(const char* path, std::int32_t fileSize) {
    const char* ext = extensionOf(path);
    auto isLetter = [this](char c) {
        return static_cast<unsigned char>(c) == letterLower || static_cast<unsigned char>(c) == letterUpper;
    };
    if (!isLetter(ext[0]) || !isLetter(ext[1])) return false;
    if (ext[2] != 'e' && ext[2] != 'E' && ext[2] != '\0') return false;

    const std::int32_t limit =
        std::min<std::int32_t>(fileSize, static_cast<std::int32_t>(kSniffBufferSize)) - kProbeTail;
    const std::uint8_t* head = appState.sniffBuffer;
    for (std::int32_t i = 0; i < limit; ++i) {
        if (head[i] == 0) return false;
        if (i == 0 && startsBegin(head)) return true;
        if ((head[i] == '\r' || head[i] == '\n') && startsBegin(head + i + 1)) return true;
    }
    return false;
}

int UuDecodeHandler::extract(const char* path, const char* destFolder) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return 0;
    text_decoding::LineReader reader(file, reinterpret_cast<char*>(appState.sniffBuffer), kSniffBufferSize);
    char* line;
    std::size_t length;
    bool begun = false;
    char textName[kNameCapacity] = {};
    while (reader.next(&line, &length)) {
        if (isBeginLine(line)) {
            takeBeginName(line, textName);
            begun = true;
            break;
        }
    }
    char outputPath[MAX_PATH];
    std::FILE* output = nullptr;
    if (begun && !reader.atEnd() && chooseOutputPath(outputPath, sizeof outputPath, path, destFolder, textName)) {
        output = openNarrow(outputPath, "wb");
    }
    if (output == nullptr) {
        std::fclose(file);
        return 0;
    }

    buildDecodeTable();
    bool ok = true;
    bool terminated = false;
    // Parts of a multi-part post follow one another with blank lines and
    // remarks between them: a zero-count line ends a section, and decoding
    // resumes at the next line that is a complete data line. Only the "end"
    // line ends the data.
    bool inSection = true;
    // Decoded bytes are gathered and written in large pieces.
    unsigned char batch[32768];
    std::size_t batched = 0;
    while (reader.next(&line, &length)) {
        if (isEndLine(line)) {
            terminated = true;
            break;
        }
        unsigned char* text = reinterpret_cast<unsigned char*>(line);
        int count = decodeTable[text[0] & 0x7F];
        if (count == 0) {
            inSection = false;
            continue;
        }
        if (!inSection) {
            if (!isCompleteDataLine(text, length, count, inAlphabet)) continue;
            inSection = true;
        }
        // Characters a short line lacks count as 0 (encoders and mailers
        // strip trailing spaces, which stand for 0): such a line is copied
        // into a zeroed group buffer first. Not decoded in place: a short
        // line may promise more bytes than it has characters, and the
        // reader's next lines follow it.
        const std::size_t wanted = 4 * static_cast<std::size_t>((count + 2) / 3);
        const unsigned char* groups = text + 1;
        unsigned char padded[kMaxGroupCharacters];
        if (length - 1 < wanted) {
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, groups, length - 1);
            groups = padded;
        }
        if (sizeof batch - batched < kMaxGroupCharacters) {
            if (ok) ok = writeAll(output, batch, batched);
            batched = 0;
        }
        for (std::size_t at = 0; count > 0; at += 4, count -= 3) {
            const unsigned c0 = decodeTable[groups[at] & 0x7F], c1 = decodeTable[groups[at + 1] & 0x7F];
            const unsigned c2 = decodeTable[groups[at + 2] & 0x7F], c3 = decodeTable[groups[at + 3] & 0x7F];
            batch[batched++] = static_cast<unsigned char>(c0 << 2 | c1 >> 4);
            if (count >= 2) batch[batched++] = static_cast<unsigned char>(c1 << 4 | c2 >> 2);
            if (count >= 3) batch[batched++] = static_cast<unsigned char>(c2 << 6 | c3);
        }
    }
    if (ok) ok = writeAll(output, batch, batched);
    // Data that runs into the end of the file without its "end" line has
    // been cut short.
    if (!terminated) ok = false;
    if (!closeOutput(output)) ok = false;
    std::fclose(file);
    return ok ? 1 : 0;
}
