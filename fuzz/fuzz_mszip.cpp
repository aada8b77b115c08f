// Drives the MSZIP frame decoder directly: the first two bytes give the
// declared frame size (up to 32,768, a little beyond to reach the refusal),
// the rest is the frame's input. The frame buffer starts zeroed for every
// input, so a run repeats exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/cab/mszip_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 38912 + 2) return 0;
    static std::uint8_t frame[kMszipFrameSize];
    std::memset(frame, 0, sizeof frame);
    const std::uint32_t outputLength = 1 + ((data[0] | data[1] << 8) % (kMszipFrameSize + 16));
    // Exactly the input and its two zero bytes, so that any read beyond
    // them is caught.
    std::vector<std::uint8_t> input(data + 2, data + size);
    input.push_back(0);
    input.push_back(0);
    mszipDecode(input.data(), static_cast<std::uint32_t>(size - 2), frame, outputLength);
    return 0;
}
