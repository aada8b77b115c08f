#include "formats/tar/bzip2_pull_stream.h"

#include <bzlib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/output_files.h"

namespace {

constexpr std::size_t kInputSize = 128 * 1024;
// "BZh" and the level: enough to tell whether another stream follows.
constexpr std::size_t kSignatureSize = 4;

bool startsStream(const char* data, std::size_t size) {
    return size >= kSignatureSize && data[0] == 'B' && data[1] == 'Z' && data[2] == 'h' &&
           data[3] >= '1' && data[3] <= '9';
}

}  // namespace

struct Bzip2PullStream {
    std::FILE* file = nullptr;
    bz_stream bz{};
    bool decoderActive = false;
    bool inputEnded = false;
    bool ended = false;
    bool failed = false;
    char input[kInputSize];

    // Reads more input behind the held bytes (moved to the front first).
    void topUp() {
        if (inputEnded) return;
        std::memmove(input, bz.next_in, bz.avail_in);
        const std::size_t got = std::fread(input + bz.avail_in, 1, kInputSize - bz.avail_in, file);
        if (got == 0) {
            inputEnded = true;
            if (std::ferror(file)) failed = true;
        }
        bz.next_in = input;
        bz.avail_in += static_cast<unsigned>(got);
    }

    bool startDecoder() {
        char* next = bz.next_in;
        const unsigned available = bz.avail_in;
        std::memset(&bz, 0, sizeof bz);
        bz.next_in = next;
        bz.avail_in = available;
        decoderActive = BZ2_bzDecompressInit(&bz, 0, 0) == BZ_OK;
        return decoderActive;
    }

    void stopDecoder() {
        if (decoderActive) BZ2_bzDecompressEnd(&bz);
        decoderActive = false;
    }

    // After a stream's end: another one follows, or the data has ended.
    void nextStream() {
        stopDecoder();
        if (bz.avail_in < kSignatureSize) topUp();
        if (!startsStream(bz.next_in, bz.avail_in)) {
            ended = true;
        } else if (!startDecoder()) {
            failed = true;
        }
    }
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
    stream->bz.next_in = stream->input;
    stream->topUp();
    if (!startsStream(stream->bz.next_in, stream->bz.avail_in) || !stream->startDecoder()) {
        bzip2PullClose(stream);
        return nullptr;
    }
    return stream;
}

std::size_t bzip2PullRead(void* buffer, std::size_t count, Bzip2PullStream* stream) {
    char* out = static_cast<char*>(buffer);
    std::size_t produced = 0;
    while (produced < count && !stream->ended && !stream->failed) {
        if (stream->bz.avail_in == 0) stream->topUp();
        if (stream->failed) break;
        const std::size_t want = count - produced;
        const unsigned room = want > UINT_MAX ? UINT_MAX : static_cast<unsigned>(want);
        stream->bz.next_out = out + produced;
        stream->bz.avail_out = room;
        const unsigned inputBefore = stream->bz.avail_in;
        const int rc = BZ2_bzDecompress(&stream->bz);
        const unsigned made = room - stream->bz.avail_out;
        produced += made;
        if (rc == BZ_STREAM_END) {
            stream->nextStream();
        } else if (rc != BZ_OK) {
            stream->failed = true;
        } else if (made == 0 && stream->bz.avail_in == inputBefore) {
            // No progress: either the input ran out inside the stream, or
            // the library can use none of what it holds.
            if (stream->bz.avail_in > 0 || stream->inputEnded) stream->failed = true;
        }
    }
    return produced;
}

bool bzip2PullFailed(const Bzip2PullStream* stream) { return stream->failed; }

void bzip2PullClose(Bzip2PullStream* stream) {
    if (stream == nullptr) return;
    stream->stopDecoder();
    if (stream->file) std::fclose(stream->file);
    delete stream;
}
