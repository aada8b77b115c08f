#include "formats/tar/bzip2_pull_stream.h"

#include <cstdio>
#include <memory>
#include <new>

#include "core/output_files.h"
#include "formats/stream/bzip2_parallel.h"

struct Bzip2PullStream {
    std::FILE* file = nullptr;
    std::unique_ptr<Bzip2ParallelDecoder> decoder;
};

Bzip2PullStream* bzip2PullOpen(const char* path) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return nullptr;
    Bzip2PullStream* stream = new (std::nothrow) Bzip2PullStream;
    if (stream == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    stream->file = file;
    stream->decoder.reset(new (std::nothrow) Bzip2ParallelDecoder(file, Bzip2ParallelDecoder::defaultWorkers()));
    if (!stream->decoder || !stream->decoder->started()) {
        bzip2PullClose(stream);
        return nullptr;
    }
    return stream;
}

std::size_t bzip2PullRead(void* buffer, std::size_t count, Bzip2PullStream* stream) {
    return stream->decoder->read(buffer, count);
}

bool bzip2PullFailed(const Bzip2PullStream* stream) { return stream->decoder->failed(); }

void bzip2PullClose(Bzip2PullStream* stream) {
    if (stream == nullptr) return;
    stream->decoder.reset();  // its workers stop before the file closes
    std::fclose(stream->file);
    delete stream;
}
