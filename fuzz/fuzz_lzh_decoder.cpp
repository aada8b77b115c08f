// Drives the LZH member decoder directly: the first byte picks the method,
// the next two the unpacked size (so that every member stays small enough to
// keep the fuzzer fast), the rest is the packed data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/lzh/lzh_member_decoder.h"

namespace {

const LzhMethod kMethods[] = {LzhMethod::Stored, LzhMethod::Lzs, LzhMethod::Lz5, LzhMethod::Lh1,
                              LzhMethod::Lh2,    LzhMethod::Lh3, LzhMethod::Lh4, LzhMethod::Lh5,
                              LzhMethod::Lh6,    LzhMethod::Lh7, LzhMethod::Arj};

class CountingSink : public LzhSink {
public:
    bool write(const std::uint8_t* data, std::size_t size) override {
        for (std::size_t i = 0; i < size; ++i) sum += data[i];
        total += size;
        return true;
    }
    std::uint64_t total = 0;
    unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const LzhMethod method = kMethods[data[0] % (sizeof kMethods / sizeof kMethods[0])];
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(data[1] | (data[2] << 8)) * 16u;
    const std::size_t packedSize = size - 3;
    std::FILE* input = std::tmpfile();
    if (input == nullptr) return 0;
    std::fwrite(data + 3, 1, packedSize, input);
    std::rewind(input);
    CountingSink sink;
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
