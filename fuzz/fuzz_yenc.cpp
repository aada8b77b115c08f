// Drives the yEnc handler on arbitrary bytes.
#include "formats/stream/yenc_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(YencHandler, "input.ntx", "input.NTX", "input.yenc", "input")
