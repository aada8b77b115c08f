// LZH (LHA/LHarc) archives: header levels 0, 1 and 2 with their extended
// headers. The first header is searched for, so self-extracting archives
// with a program in front open too. Member data goes through the LZH member
// decoder and is checked against the member's CRC-16.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/format_handler.h"

class MemberOutput;

// CRC-16 with the polynomial 0xA001 (reflected 0x8005), as LZH headers and
// member data use it.
class LzhCrc16 {
public:
    LzhCrc16();
    std::uint16_t update(std::uint16_t crc, const std::uint8_t* data, std::size_t size) const;

private:
    // table[k][v]: the CRC of byte v followed by k zero bytes, so that eight
    // bytes fold in with eight independent lookups.
    std::uint16_t table[8][256];
};

class LzhHandler : public FormatHandler {
public:
    LzhHandler() : FormatHandler("Lzh") {}

    bool matchesExtension(const char* ext) override;
    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;

    // Names and folder parts longer than this are refused.
    static constexpr std::size_t kNameCapacity = 260;

    // One member header as read from the archive.
    struct Header {
        int level;
        char method[6];
        std::uint32_t packedSize;
        std::uint32_t unpackedSize;
        std::uint32_t timeStamp;  // DOS date and time (levels 0, 1) or Unix time (2)
        std::uint16_t attribute;
        std::uint16_t dataCrc;
        // Folder part and name joined, `\` as separator; empty with
        // pathTooLong when a part did not fit.
        char path[2 * kNameCapacity + 2];
        bool pathTooLong;
    };
    enum class HeaderResult { Member, EndOfArchive, Damaged };

    // Reads one header from the stream's position; on Member the stream
    // stands at the member's first data byte. buffer holds at least
    // kHeaderBufferSize bytes.
    HeaderResult readHeader(std::FILE* archive, std::uint8_t* buffer, Header& header) const;
    static constexpr std::size_t kHeaderBufferSize = 65536 + 64;

private:
    // Offset of the first header among the first `length` bytes of head, or -1.
    long findFirstHeader(std::FILE* archive, const std::uint8_t* head, std::size_t length,
                         std::uint8_t* buffer) const;
    bool extractMember(std::FILE* archive, const Header& header, MemberOutput& output);

    LzhCrc16 crc;
};
