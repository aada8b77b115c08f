// A single Unix compress (.Z) file, decoded through the CompressStream into
// one output file named from the archive's name (x.Z or x.z -> x, other ->
// name.uncompress). Reached only by content.
#pragma once

#include "core/format_handler.h"

class CompressHandler : public FormatHandler {
public:
    CompressHandler() : FormatHandler("Compress") {}

    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
};
