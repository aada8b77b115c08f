// A single bzip2-compressed file, decoded by libbz2 into one output file
// named from the archive's name (x.bz2 -> x, other -> name.unbzip2).
// Concatenated streams (parallel compressors, `cat a.bz2 b.bz2`) decode one
// after another into the same file. Reached only by content.
#pragma once

#include "core/format_handler.h"

class Bzip2Handler : public FormatHandler {
public:
    Bzip2Handler() : FormatHandler("Bzip2") {}

    // "BZh" and a trial decode of the first 20 bytes, so that a file whose
    // first block is damaged is not taken for bzip2.
    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
};
