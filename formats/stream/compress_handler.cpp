#include "formats/stream/compress_handler.h"

#include <cstdio>

#include "core/app_state.h"
#include "core/output_files.h"
#include "formats/stream/compress_stream.h"
#include "formats/stream/stream_output.h"
#include "platform/win_types.h"

bool CompressHandler::probe(const char* path, std::int32_t fileSize) {
    // A header naming a width outside 9..16 is not data we can decode.
    return fileSize >= 3 && isCompressHeader(appState.sniffBuffer, 3);
}

int CompressHandler::extract(const char* path, const char* destFolder) {
    char outputPath[MAX_PATH];
    if (!derivedOutputPath(outputPath, sizeof outputPath, destFolder, path, "Z", "uncompress")) return 0;
    CompressStream* stream = compressStreamOpen(path);
    if (stream == nullptr) return 0;
    std::FILE* output = openNarrow(outputPath, "wb");
    if (output == nullptr) {
        compressStreamClose(stream);
        return 0;
    }
    bool ok = true;
    for (;;) {
        const std::size_t got = compressStreamRead(appState.sniffBuffer, kSniffBufferSize, stream);
        if (got == 0) break;
        if (!writeAll(output, appState.sniffBuffer, got)) {
            ok = false;
            break;
        }
    }
    if (compressStreamFailed(stream)) ok = false;
    if (!closeOutput(output)) ok = false;
    compressStreamClose(stream);
    return ok ? 1 : 0;
}
