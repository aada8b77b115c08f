// Microsoft cabinet files and cabinet sets: stored, MSZIP and LZX folders
// (Quantum is refused). The first cabinet is recognised by its signature at
// the start of the file; the later cabinets of a set are loaded by the names
// each cabinet gives for the next one.
#pragma once

#include "core/format_handler.h"

class CabHandler : public FormatHandler {
public:
    CabHandler() : FormatHandler("CAB") {}

    bool matchesExtension(const char* ext) override;
    bool probe(const char* path, std::int32_t fileSize) override;
    // Fails when the first cabinet cannot be loaded, or when any member could
    // not be extracted; the members that were extracted stay.
    int extract(const char* path, const char* destFolder) override;
};
