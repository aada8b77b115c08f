// Drives the LZH member decoder directly: the first byte picks the method,
// the next two the unpacked size (so that every member stays small enough to
// keep the fuzzer fast), the rest is the packed data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/lzh/lzh_member_decoder.h"
#include "fuzz/fuzz_harness.h"

namespace {

const LzhMethod kMethods[] = {LzhMethod::Stored, LzhMethod::Lzs, LzhMethod::Lz5, LzhMethod::Lh1,
                              LzhMethod::Lh2,    LzhMethod::Lh3, LzhMethod::Lh4, LzhMethod::Lh5,
                              LzhMethod::Lh6,    LzhMethod::Lh7, LzhMethod::Arj};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const LzhMethod method = kMethods[data[0] % (sizeof kMethods / sizeof kMethods[0])];
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(data[1] | (data[2] << 8)) * 16u;
    const std::size_t packedSize = size - 3;
    std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data + 3), packedSize, "rb");
    if (input == nullptr) return 0;
    fuzzing::CountingSink sink;
    const LzhDecodeResult result =
        decodeLzhMember(method, input, static_cast<std::uint32_t>(packedSize), sink, unpackedSize);
    std::fclose(input);
    // A compressed member never grows past its stated size, and a whole one
    // reaches it exactly.
    if (method != LzhMethod::Stored) {
        if (sink.total > unpackedSize) std::abort();
        if (result == LzhDecodeResult::Done && sink.total != unpackedSize) std::abort();
    } else if (sink.total > packedSize) {
        std::abort();
    }
    return 0;
}
