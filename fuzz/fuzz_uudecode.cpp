// Drives the UU and XX handlers on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "formats/stream/uudecode_handler.h"
#include "fuzz/fuzz_harness.h"

namespace {
// The file's name takes part in the probe and in naming the outputs; the
// input's length picks one, so each input behaves the same on every run.
const char* const kInputNames[] = {"input.uue", "input.UU", "input.xxe", "input"};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::initOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static UuDecodeHandler uu;
    static XxDecodeHandler xx;
    fuzzing::probeAndExtract(size % 4 == 2 ? static_cast<FormatHandler&>(xx) : uu, kInputNames[size % 4], data, size);
    return 0;
}
