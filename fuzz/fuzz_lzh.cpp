// Drives the LZH archive handler on arbitrary bytes.
#include "formats/lzh/lzh_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(LzhHandler, "input.lzh")
