#include "formats/stream/base64_handler.h"

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

// The probe reads lines in a buffer of its own; longer lines arrive in
// pieces, which changes nothing for the tests it makes.
constexpr std::size_t kProbeLineSize = 5000;
constexpr long kProbeLines = 100;
constexpr long kExtractLines = 1000000000;
constexpr unsigned char kNotAlphabet = 255;

struct DecodeTable {
    unsigned char value[256];
    DecodeTable() {
        std::memset(value, kNotAlphabet, sizeof value);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (unsigned char i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = i;
    }
};
const DecodeTable kDecodeTable;

enum class HeaderState { None, ContentType, ContentDisposition, TransferEncoding };

unsigned char foldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool startsWithIgnoreCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (foldCase(static_cast<unsigned char>(*text)) != foldCase(static_cast<unsigned char>(*prefix))) {
            return false;
        }
    }
    return true;
}

const char* findIgnoreCase(const char* text, const char* word) {
    for (; *text; ++text) {
        if (startsWithIgnoreCase(text, word)) return text;
    }
    return nullptr;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// "Field-Name:" at the start of the line, as a header field begins. Base64
// data never holds a colon, so a body line is never taken for a header.
bool looksLikeHeaderField(const char* line) {
    const char* p = line;
    while (static_cast<unsigned char>(*p) > ' ' && static_cast<unsigned char>(*p) < 0x7F && *p != ':') ++p;
    return p != line && *p == ':';
}

// A header whose line ends in ';' (trailing blanks aside) goes on in the
// next line, as does one whose next line is indented (a folded header).
bool endsInSemicolon(const char* line, std::size_t length) {
    while (length > 0 && isBlank(line[length - 1])) --length;
    return length > 0 && line[length - 1] == ';';
}

// The quoted value of the first name= (or filename=) of the line replaces
// name; an unquoted one is not taken.
void takeQuotedName(const char* line, std::string& name) {
    const char* p = findIgnoreCase(line, "name=");
    if (p == nullptr) return;
    p += 5;
    while (*p == ' ') ++p;
    if (*p != '"') return;
    const char* start = ++p;
    while (*p && *p != '"') p = nextChar(p);
    name.assign(start, static_cast<std::size_t>(p - start));
}

// "begin-base64 <mode> <name>": the name is the word after a decimal mode.
void takeBeginName(const char* line, std::string& name) {
    const char* p = line + std::strlen("begin-base64");
    while (isBlank(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return;
    while (*p >= '0' && *p <= '9') ++p;
    while (isBlank(*p)) ++p;
    const char* start = p;
    while (*p && !isBlank(*p)) ++p;
    name.assign(start, static_cast<std::size_t>(p - start));
}

// Reads until Base64 data begins: after a "begin-base64" line, or after the
// header block of a MIME part whose Content-Transfer-Encoding is base64. A
// header block ends at an empty line, or at the first line that is neither
// a header field nor a continuation: the body then starts with that line,
// handed back in *bodyLine (valid until the next read). name gets the name
// the text gives, or stays empty.
bool findBase64Start(text_decoding::LineReader& reader, std::string& name, long maxLines, char** bodyLine) {
    name.clear();
    *bodyLine = nullptr;
    char* line;
    std::size_t length;
    bool found = false;
    bool continues = false;
    HeaderState state = HeaderState::None;
    for (long lines = maxLines; lines > 0 && reader.next(&line, &length);) {
        if (std::strncmp(line, "begin-base64", 12) == 0) {
            takeBeginName(line, name);
            return true;
        }
        --lines;
        if (line[0] == '\0') {
            if (found) break;
            // A header block that ended without Base64 lends its name to
            // nobody else.
            name.clear();
            state = HeaderState::None;
            continues = false;
            continue;
        }
        const bool folded = isBlank(line[0]);
        if (found && !folded && !looksLikeHeaderField(line)) {
            *bodyLine = line;
            break;
        }
        if (!folded && !continues) state = HeaderState::None;
        if (startsWithIgnoreCase(line, "Content-Type:")) {
            state = HeaderState::ContentType;
        } else if (startsWithIgnoreCase(line, "Content-Disposition:")) {
            state = HeaderState::ContentDisposition;
        } else if (startsWithIgnoreCase(line, "Content-Transfer-Encoding:")) {
            state = HeaderState::TransferEncoding;
        }
        if (state == HeaderState::TransferEncoding && findIgnoreCase(line, "base64")) found = true;
        if (state == HeaderState::ContentType || state == HeaderState::ContentDisposition) {
            takeQuotedName(line, name);
        }
        continues = endsInSemicolon(line, length);
    }
    return found;
}

// Decodes one body into output (nullptr: read through, write nothing). The
// body ends at '=', at a MIME boundary line ("--...") or at the end of the
// file. Decoded bytes gather in batch and go out in large pieces; a line
// never decodes to more bytes than it has. False when writing failed.
bool decodeBase64Body(text_decoding::LineReader& reader, std::FILE* output, char* firstLine,
                      std::vector<unsigned char>& batch) {
    unsigned pending = 0;
    std::uint32_t accumulator = 0;
    bool writeOk = true;
    std::size_t batched = 0;
    auto flush = [&] {
        if (output && writeOk) writeOk = writeAll(output, batch.data(), batched);
        batched = 0;
    };
    char* line = firstLine;
    std::size_t length = firstLine ? std::strlen(firstLine) : 0;
    bool ended = false;
    while (!ended && (line != nullptr || reader.next(&line, &length))) {
        if (line[0] == '-' && line[1] == '-') break;
        if (length + 3 > batch.size() - batched) flush();
        const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
        const unsigned char* end = p + length;
        unsigned char* out = batch.data() + batched;
        line = nullptr;
        for (;;) {
            // Whole groups of four alphabet characters, as nearly every
            // line holds, decode without a state machine.
            if (pending == 0) {
                while (end - p >= 4) {
                    const std::uint32_t v0 = kDecodeTable.value[p[0]], v1 = kDecodeTable.value[p[1]];
                    const std::uint32_t v2 = kDecodeTable.value[p[2]], v3 = kDecodeTable.value[p[3]];
                    if ((v0 | v1 | v2 | v3) & 0xC0) break;  // kNotAlphabet has these bits, no value does
                    const std::uint32_t group = v0 << 18 | v1 << 12 | v2 << 6 | v3;
                    out[0] = static_cast<unsigned char>(group >> 16);
                    out[1] = static_cast<unsigned char>(group >> 8);
                    out[2] = static_cast<unsigned char>(group);
                    out += 3;
                    p += 4;
                }
            }
            if (p == end) break;
            const unsigned char value = kDecodeTable.value[*p];
            if (value == kNotAlphabet) {
                if (*p == '=') {
                    ended = true;
                    break;
                }
                ++p;
                continue;
            }
            ++p;
            accumulator = (accumulator << 6) | value;
            if (++pending == 4) {
                out[0] = static_cast<unsigned char>(accumulator >> 16);
                out[1] = static_cast<unsigned char>(accumulator >> 8);
                out[2] = static_cast<unsigned char>(accumulator);
                out += 3;
                pending = 0;
                accumulator = 0;
            }
        }
        batched = static_cast<std::size_t>(out - batch.data());
    }
    // Characters left over at the end complete the bytes they hold, with or
    // without the padding that should follow them.
    if (pending == 2) {
        batch[batched++] = static_cast<unsigned char>(accumulator >> 4);
    } else if (pending == 3) {
        batch[batched++] = static_cast<unsigned char>(accumulator >> 10);
        batch[batched++] = static_cast<unsigned char>(accumulator >> 2);
    }
    flush();
    return writeOk;
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
    if (!ready && !derivedOutputPath(outputPath, capacity, destFolder, path, "b64", "b64dec")) return false;
    return !namesSameFile(outputPath, path);
}

}  // namespace

bool Base64Handler::probe(const char* path, std::int32_t) {
    const char* ext = extensionOf(path);
    if (!equalsIgnoreCase(ext, "b64") && !equalsIgnoreCase(ext, "mim") && !equalsIgnoreCase(ext, "mime")) {
        return false;
    }
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return false;
    // The SniffBuffer still serves the other handlers' probes.
    char buffer[kProbeLineSize];
    text_decoding::LineReader reader(file, buffer, sizeof buffer);
    std::string textName;
    char* bodyLine;
    const bool found = findBase64Start(reader, textName, kProbeLines, &bodyLine);
    std::fclose(file);
    return found;
}

int Base64Handler::extract(const char* path, const char* destFolder) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return 0;
    text_decoding::LineReader reader(file, reinterpret_cast<char*>(appState.sniffBuffer), kSniffBufferSize);
    bool ok = true;
    std::string textName;
    char* bodyLine;
    std::vector<unsigned char> batch(kSniffBufferSize + 4);
    while (findBase64Start(reader, textName, kExtractLines, &bodyLine)) {
        char outputPath[MAX_PATH];
        std::FILE* output = nullptr;
        if (chooseOutputPath(outputPath, sizeof outputPath, path, destFolder, textName.c_str())) {
            output = openNarrow(outputPath, "wb");
        }
        // A body that cannot be written is still read through, so that the
        // bodies after it are found.
        if (output == nullptr) ok = false;
        if (!decodeBase64Body(reader, output, bodyLine, batch)) ok = false;
        if (output != nullptr && !closeOutput(output)) ok = false;
    }
    std::fclose(file);
    return ok ? 1 : 0;
}
