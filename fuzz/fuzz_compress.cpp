// Drives the .Z handler on arbitrary bytes, then reads the same file through
// the LZW decoding stream with many read sizes: the stream hands out
// whatever the caller asks for, so every read size must give the same bytes,
// the last ones included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/stream/compress_handler.h"
#include "formats/stream/compress_stream.h"
#include "fuzz/fuzz_harness.h"

namespace {

// "Z" (exact or not) is cut off the output name, anything else gets a suffix.
const char* const kInputNames[] = {"input.Z", "input.z", "input.bin"};

// A few hundred bytes of codes can expand to many megabytes; comparing the
// first part of such an output keeps each input fast while every ordinary
// stream is compared whole.
constexpr std::size_t kCompareLimit = 4u << 20;

// Compared with reads of 1 MiB (what the handler uses). Every pass opens a
// fresh decoder, whose tables dominate the cost of a small input, so the
// list stays short; the mixed schedule covers the sizes in between.
constexpr int kReferenceReadSize = 1 << 20;
constexpr int kOtherReadSizes[] = {1, 7, 65536, 0};

// Read sizes for one pass. A fixed size, or (fixedSize == 0) a schedule that
// walks the input backwards and turns each byte into a size from 1 to 9436,
// so the fuzzer also mixes small and large reads within one pass.
struct ReadPlan {
    int fixedSize;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t step = 0;

    int next() {
        if (fixedSize != 0) return fixedSize;
        std::uint8_t byte = data[size - 1 - (step++ % size)];
        return 1 + byte * 37;
    }
};

struct PassResult {
    bool opened = false;
    bool failed = false;  // the stream met corrupt or cut input
};

// Opened false (output empty) when the stream cannot be opened.
PassResult readWhole(const char* path, ReadPlan plan, std::vector<std::uint8_t>& output) {
    output.clear();
    PassResult result;
    auto* stream = compressStreamOpen(path);
    if (stream == nullptr) return result;
    result.opened = true;
    static std::vector<std::uint8_t> buffer(kReferenceReadSize + 1);
    while (output.size() < kCompareLimit) {
        int wanted = plan.next();
        // A guard byte behind the request catches a read that places more
        // than it was asked for.
        buffer[static_cast<std::size_t>(wanted)] = 0xA5;
        auto placed = static_cast<long long>(
            compressStreamRead(buffer.data(), static_cast<std::size_t>(wanted), stream));
        if (placed < 0 || placed > wanted || buffer[static_cast<std::size_t>(wanted)] != 0xA5) {
            std::fprintf(stderr, "read of %d bytes returned %lld\n", wanted, placed);
            std::abort();
        }
        if (placed == 0) break;
        output.insert(output.end(), buffer.begin(), buffer.begin() + placed);
    }
    // A pass cut short by the limit may not have reached the fault yet.
    result.failed = output.size() < kCompareLimit && compressStreamFailed(stream);
    compressStreamClose(stream);
    if (output.size() > kCompareLimit) output.resize(kCompareLimit);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CompressHandler handler;
    const char* name = kInputNames[size % 3];
    fuzzing::probeAndExtract(handler, name, data, size);

    const char* path = fuzzing::writeInput(name, data, size);
    static std::vector<std::uint8_t> reference;
    static std::vector<std::uint8_t> other;
    PassResult expected = readWhole(path, ReadPlan{kReferenceReadSize, data, size}, reference);

    for (int fixedSize : kOtherReadSizes) {
        if (fixedSize == 0 && size == 0) continue;  // the mixed schedule needs input bytes
        PassResult got = readWhole(path, ReadPlan{fixedSize, data, size}, other);
        if (got.opened != expected.opened || got.failed != expected.failed || other != reference) {
            std::fprintf(stderr,
                         "reads of %d bytes (0: mixed) gave %zu bytes (failed %d), "
                         "reads of 1 MiB gave %zu (failed %d)\n",
                         fixedSize, other.size(), got.failed, reference.size(), expected.failed);
            std::abort();
        }
    }
    fuzzing::checkConfinementAndClean(name);
    return 0;
}
