// Drives the .Z handler on arbitrary bytes, then reads the same file through
// the LZW decoding stream in reads of 1 MiB and in reads whose sizes (1 to
// 9436 bytes) come from the input itself: the stream hands out whatever the
// caller asks for, so both must give the same bytes and the same verdict.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/stream/compress_handler.h"
#include "formats/stream/compress_stream.h"
#include "fuzz/fuzz_harness.h"

namespace {

// A few hundred bytes of codes can expand to many megabytes; comparing the
// first part of such an output keeps each input fast.
constexpr std::size_t kCompareLimit = 4u << 20;
constexpr std::size_t kLargeRead = 1 << 20;

// Reads the whole stream (up to the limit); mixed: sizes from the input.
// Returns -1 when it cannot be opened, else whether it failed.
int readWhole(const char* path, const std::uint8_t* data, std::size_t size, bool mixed,
              std::vector<std::uint8_t>& output) {
    output.clear();
    CompressStream* stream = compressStreamOpen(path);
    if (stream == nullptr) return -1;
    static std::vector<std::uint8_t> buffer(kLargeRead + 1);
    for (std::size_t step = 0; output.size() < kCompareLimit; ++step) {
        const std::size_t wanted = mixed ? 1 + data[size - 1 - step % size] * 37u : kLargeRead;
        buffer[wanted] = 0xA5;  // a guard: a read must not place more than asked for
        const std::size_t placed = compressStreamRead(buffer.data(), wanted, stream);
        if (placed > wanted || buffer[wanted] != 0xA5) std::abort();
        if (placed == 0) break;
        output.insert(output.end(), buffer.begin(), buffer.begin() + static_cast<long>(placed));
    }
    // A pass cut short by the limit may not have reached the fault yet.
    const int failed = output.size() < kCompareLimit && compressStreamFailed(stream);
    compressStreamClose(stream);
    if (output.size() > kCompareLimit) output.resize(kCompareLimit);
    return failed;
}

}  // namespace

TOVRIN_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CompressHandler handler;
    // "Z" (exact or not) is cut off the output name, anything else gets a suffix.
    static const char* const names[] = {"input.Z", "input.z", "input.bin"};
    const char* name = names[size % 3];
    fuzzing::probeAndExtract(handler, name, data, size);
    if (size > 0) {
        const char* path = fuzzing::writeInput(name, data, size);
        static std::vector<std::uint8_t> reference, other;
        if (readWhole(path, data, size, false, reference) != readWhole(path, data, size, true, other) ||
            other != reference) {
            std::fprintf(stderr, "mixed reads gave %zu bytes, reads of 1 MiB %zu\n", other.size(), reference.size());
            std::abort();
        }
    }
    fuzzing::checkConfinementAndClean(name);
    return 0;
}
