// Drives the UU and XX handlers on arbitrary bytes; the input's length picks
// the file name (it takes part in the probe and in naming the outputs).
#include "formats/stream/uudecode_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static UuDecodeHandler uu;
    static XxDecodeHandler xx;
    const char* const names[] = {"input.uue", "input.UU", "input.xxe", "input"};
    fuzzing::probeAndExtract(size % 4 == 2 ? static_cast<FormatHandler&>(xx) : uu, names[size % 4], data, size);
    return 0;
}
