// Drives the single-file gzip handler on arbitrary bytes. The file's name
// decides the output name: "gz" in any case is cut off, anything else gets
// a suffix.
#include "formats/stream/gzip_handler.h"
#include "fuzz/fuzz_harness.h"

TOVRIN_HANDLER_FUZZ_TARGET(GzipHandler, "input.gz", "input.GZ", "input.tgz", "input")
