// Drives the cabinet handler on arbitrary bytes. The input is the first
// cabinet; a next-cabinet name that points back at it exercises the chain
// guard, any other name a missing cabinet.
#include "formats/cab/cab_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(CabHandler, "input.cab")
