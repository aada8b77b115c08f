// Drives the ZIP handler on arbitrary bytes, with and without a password so
// that the encrypted paths are reached too.
#include <cstring>

#include "core/app_state.h"
#include "formats/zip/zip_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ZipHandler handler;
    // The input's length picks the password, so each input behaves the same.
    std::strcpy(appState.password, size % 2 ? "secret" : "");
    fuzzing::probeAndExtract(handler, "input.zip", data, size);
    return 0;
}
