// Drives the cabinet handler on arbitrary bytes. The input is the first
// cabinet; a next-cabinet name that points back at it exercises the chain
// guard, any other name a missing cabinet.
#include <cstddef>
#include <cstdint>

#include "formats/cab/cab_handler.h"
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CabHandler handler;
    fuzzing::probeAndExtract(handler, "input.cab", data, size);
    return 0;
}
