// Drives the single-file gzip handler on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "formats/stream/gzip_handler.h"
#include "fuzz/fuzz_harness.h"

namespace {
// The file's name decides the output name: "gz" in any case is cut off,
// anything else gets a suffix. The input's length picks one, so every
// naming branch stays in play while each input still behaves the same on
// every run.
const char* const kInputNames[] = {"input.gz", "input.GZ", "input.tgz", "input"};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static GzipHandler handler;
    fuzzing::probeAndExtract(handler, kInputNames[size % 4], data, size);
    return 0;
}
