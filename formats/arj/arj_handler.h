// ARJ archives, methods 0 to 4. The main header is searched for, so
// self-extracting archives with a program in front open too. Stored members
// and methods 1-3 go through the LZH member decoder, method 4 through its own
// decoder; every member is checked against its CRC-32.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/format_handler.h"

class MemberOutput;
#include "formats/arj/arj_header.h"

class ArjHandler : public FormatHandler {
public:
    ArjHandler() : FormatHandler("Arj") {}

    bool matchesExtension(const char* ext) override;
    bool probe(const char* path, std::int32_t fileSize) override;
    // 0 when no main header is found, or when any member could not be
    // extracted whole (the members that could stay on disk).
    int extract(const char* path, const char* destFolder) override;

private:
    bool extractMember(std::FILE* archive, const ArjHeader& header, MemberOutput& output);
    bool makeFolder(const ArjHeader& header, MemberOutput& output);

    ArjCrc32 crc;
};
