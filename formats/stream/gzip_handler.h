// A single gzip-compressed file (RFC 1952), decoded by zlib into one output
// file. Named by the header's stored name when it has a usable one, else
// from the archive's name (x.gz -> x, other -> name.ungzip). Reached only by
// content: compressed tarballs go to the TAR family first.
#pragma once

#include "core/format_handler.h"

class GzipHandler : public FormatHandler {
public:
    GzipHandler() : FormatHandler("Gzip") {}

    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
};
