// Decodes the data of one LZH member (and, through the stored and arj
// methods, of one ARJ member) from an input stream into a sink. Every method
// is LZ77 over a ring buffer; they differ only in how literals, lengths and
// positions are coded, and each family lives in its own file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum class LzhMethod {
    Stored,
    Lzs,
    Lz5,
    Lh1,
    Lh2,
    Lh3,
    Lh4,
    Lh5,
    Lh6,
    Lh7,
    Arj,
};

// The method a five-character LZH method id ("-lh5-") selects; false for ids
// no decoder knows (folder entries "-lhd-" among them). "-lz4-" is stored.
bool lzhMethodForId(const char* id, LzhMethod* method);

// Where decoded bytes go. The LZH reader checks a CRC-16 on the way, the ARJ
// reader its CRC-32.
class LzhSink {
public:
    virtual ~LzhSink() = default;
    // False when the bytes could not be kept; decoding stops.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};

enum class LzhDecodeResult {
    Done,
    // The packed data ran out (or the input ended) before the member was whole.
    InputEnded,
    // The data asked for something no encoder writes: a distance beyond the
    // ring, a symbol outside its alphabet, a table too large for its alphabet.
    CorruptData,
    WriteFailed,
    OutOfMemory,
};

// Decodes one member from input, positioned at its first data byte, taking at
// most packedSize bytes from it; a compressed member yields exactly
// unpackedSize bytes when it is well formed and never more. Stored copies
// packedSize bytes (to the end of input when packedSize is 0xFFFFFFFF)
// whatever unpackedSize says. The caller positions input after the member.
LzhDecodeResult decodeLzhMember(LzhMethod method, std::FILE* input, std::uint32_t packedSize,
                                LzhSink& output, std::uint32_t unpackedSize);
