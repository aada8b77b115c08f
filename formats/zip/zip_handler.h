// ZIP archives (stored and deflated items, traditional encryption, data in
// front such as a self-extractor's stub), read through the ZIP reader layer.
#pragma once

#include "core/format_handler.h"

class ZipHandler : public FormatHandler {
public:
    ZipHandler() : FormatHandler("ZIP") {}

    bool matchesExtension(const char* ext) override;
    // A local file header anywhere in the sniffed head of the file.
    bool probe(const char* path, std::int32_t fileSize) override;
    // Every item in central-directory order; 0 when the archive cannot be
    // opened or any item fails (the others are still extracted).
    int extract(const char* path, const char* destFolder) override;
};
