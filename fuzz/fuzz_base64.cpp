// Drives the Base64 handler on arbitrary bytes.
#include "formats/stream/base64_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(Base64Handler, "input.b64", "input.MIME", "input.mim", "input.b64dec")
