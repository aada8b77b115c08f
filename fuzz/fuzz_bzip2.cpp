// Drives the single-file bzip2 handler on arbitrary bytes. "bz2" in any case
// is cut off the output name, anything else gets a suffix.
#include "formats/stream/bzip2_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(Bzip2Handler, "input.bz2", "input.BZ2", "input.tbz")
