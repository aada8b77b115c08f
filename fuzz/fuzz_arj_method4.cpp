// Drives the ARJ method-4 decoder directly: the first two bytes give the
// unpacked size in units of 16 bytes (so that every member stays small
// enough to keep the fuzzer fast), the rest is the packed data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/arj/arj_method4_decoder.h"
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(data[0] | (data[1] << 8)) * 16u;
    const std::size_t packedSize = size - 2;
    std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data + 2), packedSize, "rb");
    if (input == nullptr) return 0;
    fuzzing::CountingSink sink;
    const LzhDecodeResult result =
        decodeArjMethod4(input, static_cast<std::uint32_t>(packedSize), sink, unpackedSize);
    // The decoder takes nothing past the member's packed bytes.
    if (std::ftell(input) > static_cast<long>(packedSize)) std::abort();
    std::fclose(input);
    // A member never grows past its stated size, and a whole one reaches it.
    if (sink.total > unpackedSize) std::abort();
    if (result == LzhDecodeResult::Done && sink.total != unpackedSize) std::abort();
    return 0;
}
