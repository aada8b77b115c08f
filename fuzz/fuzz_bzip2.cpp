// Drives the single-file bzip2 handler on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "formats/stream/bzip2_handler.h"
#include "fuzz/fuzz_harness.h"

namespace {
// "bz2" in any case is cut off the output name, anything else gets a suffix;
// the input's length picks the name so both branches stay in play.
const char* const kInputNames[] = {"input.bz2", "input.BZ2", "input.tbz"};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bzip2Handler handler;
    fuzzing::probeAndExtract(handler, kInputNames[size % 3], data, size);
    return 0;
}
