#include "formats/cab/mszip_decoder.h"

#include <zlib.h>

namespace {

// The two zero bytes that follow every gathered input may be taken as the
// end of the final block's bits.
constexpr std::uint32_t kTrailingZeros = 2;

// Initialised on first use, then reset per frame: a reset keeps zlib's
// window allocation, so a frame costs no allocation.
z_stream* inflater() {
    static z_stream stream;
    static bool ready = false;
    if (!ready) ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    return ready ? &stream : nullptr;
}

}  // namespace

MszipResult mszipDecode(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                        std::uint32_t outputLength) {
    if (outputLength > kMszipFrameSize) return MszipResult::FrameTooLarge;
    if (inputLength < 2 || input[0] != 'C' || input[1] != 'K') return MszipResult::CorruptData;
    z_stream* stream = inflater();
    if (stream == nullptr) return MszipResult::NoMemory;
    // The dictionary is copied into zlib's own window, so the frame buffer
    // can take the output at once.
    if (inflateReset(stream) != Z_OK || inflateSetDictionary(stream, frame, kMszipFrameSize) != Z_OK) {
        return MszipResult::CorruptData;
    }
    stream->next_in = const_cast<Bytef*>(input + 2);
    stream->avail_in = inputLength - 2 + kTrailingZeros;
    stream->next_out = frame;
    stream->avail_out = outputLength;
    const int status = inflate(stream, Z_FINISH);
    // Exactly outputLength bytes, and the final block ended with them.
    if (status != Z_STREAM_END || stream->avail_out != 0) return MszipResult::CorruptData;
    return MszipResult::Ok;
}
