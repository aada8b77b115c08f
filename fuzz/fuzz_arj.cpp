// Drives the ARJ archive handler on arbitrary bytes.
#include "formats/arj/arj_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(ArjHandler, "input.arj")
