#include "formats/stream/compress_stream.h"

#include <cstdint>
#include <cstdio>
#include <new>

#include "core/output_files.h"
#include "formats/stream/lzw_decoder.h"

struct CompressStream {
    std::FILE* file = nullptr;
    LzwDecoder* decoder = nullptr;
};

namespace {

constexpr std::size_t kHeaderSize = 3;
constexpr unsigned char kWidthBits = 0x1F;
constexpr unsigned char kBlockModeBit = 0x80;

long readFromFile(void* source, std::uint8_t* buffer, std::size_t capacity) {
    auto* file = static_cast<std::FILE*>(source);
    const std::size_t got = std::fread(buffer, 1, capacity, file);
    if (got == 0 && std::ferror(file)) return -1;
    return static_cast<long>(got);
}

}  // namespace

bool isCompressHeader(const unsigned char* head, std::size_t size) {
    if (size < kHeaderSize || head[0] != 0x1F || head[1] != 0x9D) return false;
    const int maxWidth = head[2] & kWidthBits;
    return maxWidth >= kLzwFirstWidth && maxWidth <= kLzwLargestWidth;
}

CompressStream* compressStreamOpen(const char* path) {
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return nullptr;
    unsigned char header[kHeaderSize];
    if (std::fread(header, 1, kHeaderSize, file) != kHeaderSize ||
        !isCompressHeader(header, kHeaderSize)) {
        std::fclose(file);
        return nullptr;
    }
    CompressStream* stream = new (std::nothrow) CompressStream;
    if (stream == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    stream->file = file;
    stream->decoder = lzwDecoderCreate(header[2] & kWidthBits, (header[2] & kBlockModeBit) != 0,
                                       readFromFile, file);
    if (stream->decoder == nullptr) {
        compressStreamClose(stream);
        return nullptr;
    }
    return stream;
}

std::size_t compressStreamRead(void* buffer, std::size_t count, CompressStream* stream) {
    if (stream == nullptr || stream->decoder == nullptr || buffer == nullptr) return 0;
    return lzwDecode(stream->decoder, static_cast<std::uint8_t*>(buffer), count);
}

bool compressStreamFailed(const CompressStream* stream) {
    return stream != nullptr && stream->decoder != nullptr && lzwDecoderFailed(stream->decoder);
}

void compressStreamClose(CompressStream* stream) {
    if (stream == nullptr) return;
    lzwDecoderDestroy(stream->decoder);
    if (stream->file != nullptr) std::fclose(stream->file);
    delete stream;
}
