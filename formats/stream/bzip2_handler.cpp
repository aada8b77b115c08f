#include "formats/stream/bzip2_handler.h"

#include <bzlib.h>

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/output_files.h"
#include "formats/stream/bzip2_parallel.h"
#include "formats/stream/stream_output.h"
#include "platform/win_types.h"

namespace {

constexpr std::size_t kTrialOutput = 20;

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
    bool ok = false;
    {
        // Trailing bytes that do not start a stream (zero padding, or
        // anything else) end the data without failing it, as the common
        // command-line decompressor does.
        Bzip2ParallelDecoder decoder(input, Bzip2ParallelDecoder::defaultWorkers());
        std::FILE* output = decoder.started() ? openNarrow(outputPath, "wb") : nullptr;
        if (output != nullptr) {
            char* buffer = reinterpret_cast<char*>(appState.sniffBuffer);
            std::size_t got;
            ok = true;
            do {
                got = decoder.read(buffer, kSniffBufferSize);
                if (!writeAll(output, buffer, got)) ok = false;
            } while (ok && got == kSniffBufferSize);
            if (decoder.failed()) ok = false;
            if (!closeOutput(output)) ok = false;
        }
    }
    std::fclose(input);
    return ok ? 1 : 0;
}
