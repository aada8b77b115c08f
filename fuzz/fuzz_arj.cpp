// Drives the ARJ archive handler on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "formats/arj/arj_handler.h"
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ArjHandler handler;
    fuzzing::probeAndExtract(handler, "input.arj", data, size);
    return 0;
}
