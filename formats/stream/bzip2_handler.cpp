#include "formats/stream/bzip2_handler.h"

#include <bzlib.h>

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/output_files.h"
#include "formats/stream/stream_output.h"
#include "platform/win_types.h"

namespace {

constexpr std::size_t kTrialOutput = 20;
// The SniffBuffer is split: compressed input at its end, decoded output in
// front of it.
constexpr std::size_t kInputArea = 128 * 1024;
constexpr std::size_t kOutputArea = kSniffBufferSize - kInputArea;
// Enough bytes to tell whether another stream follows: "BZh" and the level.
constexpr unsigned kStreamSignatureSize = 4;

bool startsStream(const char* data, unsigned size) {
    return size >= kStreamSignatureSize && data[0] == 'B' && data[1] == 'Z' && data[2] == 'h' &&
           data[3] >= '1' && data[3] <= '9';
}

// Decodes every stream of input into output. Trailing bytes that do not
// start a stream (zero padding, or anything else) end the data without
// failing it, as the common command-line decompressor does.
bool decodeStreams(std::FILE* input, std::FILE* output, char* in, char* out, unsigned inputHeld) {
    bz_stream bz;
    bool inputEnded = false;
    unsigned available = inputHeld;
    char* next = in;
    for (;;) {
        std::memset(&bz, 0, sizeof bz);
        if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
        bz.next_in = next;
        bz.avail_in = available;
        int rc = BZ_OK;
        for (;;) {
            if (bz.avail_in == 0 && !inputEnded) {
                const std::size_t got = std::fread(in, 1, kInputArea, input);
                if (got == 0) {
                    if (std::ferror(input)) rc = BZ_IO_ERROR;
                    inputEnded = true;
                }
                bz.next_in = in;
                bz.avail_in = static_cast<unsigned>(got);
                if (rc != BZ_OK) break;
            }
            bz.next_out = out;
            bz.avail_out = static_cast<unsigned>(kOutputArea);
            const unsigned inputBefore = bz.avail_in;
            rc = BZ2_bzDecompress(&bz);
            const std::size_t produced = kOutputArea - bz.avail_out;
            if (!writeAll(output, out, produced)) rc = BZ_IO_ERROR;
            if (rc != BZ_OK) break;
            // The library returns only for want of input or of room; a call
            // that used neither would repeat forever.
            if (produced == 0 && bz.avail_in == inputBefore && bz.avail_in > 0) {
                rc = BZ_DATA_ERROR;
                break;
            }
            // Room left for output but no input left to give: cut short.
            if (bz.avail_in == 0 && inputEnded && bz.avail_out > 0) {
                rc = BZ_UNEXPECTED_EOF;
                break;
            }
        }
        next = bz.next_in;
        available = bz.avail_in;
        BZ2_bzDecompressEnd(&bz);
        if (rc != BZ_STREAM_END) return false;

        // Bring what is left to the front and top it up enough to see
        // whether another stream starts there.
        std::memmove(in, next, available);
        next = in;
        if (available < kStreamSignatureSize && !inputEnded) {
            const std::size_t got = std::fread(in + available, 1, kInputArea - available, input);
            if (got == 0) {
                if (std::ferror(input)) return false;
                inputEnded = true;
            }
            available += static_cast<unsigned>(got);
        }
        if (!startsStream(in, available)) return true;
    }
}

}  // namespace

bool Bzip2Handler::probe(const char* path, std::int32_t fileSize) {
    if (fileSize < 3) return false;
    const std::size_t held = static_cast<std::size_t>(fileSize) < kSniffBufferSize
                                 ? static_cast<std::size_t>(fileSize)
                                 : kSniffBufferSize;
    char* head = reinterpret_cast<char*>(appState.sniffBuffer);
    if (std::memcmp(head, "BZh", 3) != 0) return false;

    // The SniffBuffer holds the whole first block (a block compresses to
    // well under 1 MiB), so the trial decode needs no file access.
    bz_stream bz;
    std::memset(&bz, 0, sizeof bz);
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
    char scratch[kTrialOutput];
    bz.next_in = head;
    bz.avail_in = static_cast<unsigned>(held);
    bz.next_out = scratch;
    bz.avail_out = sizeof scratch;
    const int rc = BZ2_bzDecompress(&bz);
    const bool inputShort = rc == BZ_OK && bz.avail_out > 0 && bz.avail_in == 0 &&
                            held == static_cast<std::size_t>(fileSize);
    BZ2_bzDecompressEnd(&bz);
    return (rc == BZ_OK || rc == BZ_STREAM_END) && !inputShort;
}

int Bzip2Handler::extract(const char* path, const char* destFolder) {
    char outputPath[MAX_PATH];
    if (!derivedOutputPath(outputPath, sizeof outputPath, destFolder, path, "bz2", "unbzip2")) return 0;

    std::FILE* input = openNarrow(path, "rb");
    if (input == nullptr) return 0;
    char* out = reinterpret_cast<char*>(appState.sniffBuffer);
    char* in = out + kOutputArea;
    const std::size_t held = std::fread(in, 1, kInputArea, input);
    if (!startsStream(in, static_cast<unsigned>(held))) {
        std::fclose(input);
        return 0;
    }
    std::FILE* output = openNarrow(outputPath, "wb");
    if (output == nullptr) {
        std::fclose(input);
        return 0;
    }
    bool ok = decodeStreams(input, output, in, out, static_cast<unsigned>(held));
    if (!closeOutput(output)) ok = false;
    std::fclose(input);
    return ok ? 1 : 0;
}
