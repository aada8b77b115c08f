// yEnc-encoded text: every block from an "=ybegin ... name=" line to its
// "=yend" line becomes one output file below the destination, named by the
// block (folders in the name are created, `..` cannot climb out). The parts
// of a multi-part post that follow one another in the file are joined into
// one file. Sizes and CRC-32 values given by the "=ybegin", "=ypart" and
// "=yend" lines are checked. Claims the extension ntx; by content, any file
// with an "=ybegin" line in its first MiB.
#pragma once

#include "core/format_handler.h"

class YencHandler : public FormatHandler {
public:
    YencHandler() : FormatHandler("yDecode") {}

    bool matchesExtension(const char* ext) override;
    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
};
