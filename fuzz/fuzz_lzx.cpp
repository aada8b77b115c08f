// Drives the LZX decoder directly, frame by frame, on arbitrary bytes.
//
// Input layout: one byte whose value mod 7 picks window bits 15..21, then
// frames, each as a 16-bit little-endian output size (mod 32,769, so 0 and
// the largest frame both occur), a 16-bit little-endian input length (cut
// to what is left) and that many input bytes. A failed frame ends the
// folder. The decoder is one static state, as in the program: its window is
// reused (never cleared) from input to input, which changes output bytes
// but no index, so every input still behaves the same for memory safety.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/cab/lzx_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static LzxDecoder decoder;
    if (size < 1) return 0;
    if (lzxInitialise(decoder, kLzxMinWindowBits + data[0] % 7) != LzxResult::Ok) std::abort();
    std::size_t at = 1;
    while (at + 4 <= size) {
        const std::uint32_t outputSize = (data[at] | data[at + 1] << 8) % (kLzxFrameSize + 1);
        std::size_t inputLength = data[at + 2] | data[at + 3] << 8;
        at += 4;
        if (inputLength > size - at) inputLength = size - at;
        // Exact-size copies: the sanitizers see any access past either buffer.
        std::vector<std::uint8_t> input(data + at, data + at + inputLength);
        std::vector<std::uint8_t> frame(outputSize == 0 ? 1 : outputSize);
        at += inputLength;
        const LzxResult result = lzxDecode(decoder, input.data(), static_cast<std::uint32_t>(inputLength), frame.data(),
                                     outputSize);
        if (result != LzxResult::Ok) break;
    }
    return 0;
}
