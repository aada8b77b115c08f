// lh3: the older static-Huffman block format. 286 character/length symbols
// (the last followed by 8 extra length bits), each length sent as a flag and
// four bits; positions in 128 groups of 64, coded either with lengths sent in
// the block or with the fixed table B.
#include <cstring>

#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {

constexpr int kLh3CharSymbols = 286;
constexpr unsigned kLh3Escape = 285;
constexpr int kLh3PosSymbols = 128;
// The value of a one-symbol alphabet is sent in as many bits as its
// alphabet needs: 9 for the 286 characters, 7 for the 128 position groups.
constexpr int kSingleCharBits = 9;
constexpr int kSinglePosBits = 7;

// Three leading lengths of 1 cannot start a valid code: they announce an
// alphabet of one symbol, sent next.
bool announcesSingleSymbol(const std::uint8_t* length, int readSoFar) {
    return readSoFar == 3 && length[0] == 1 && length[1] == 1 && length[2] == 1;
}

void readCharLengths(DecoderState& s) {
    std::uint8_t* length = s.charCode.length;
    for (int i = 0; i < kLh3CharSymbols; ++i) {
        length[i] = static_cast<std::uint8_t>(s.bits.get(1) ? s.bits.get(4) + 1 : 0);
        if (announcesSingleSymbol(length, i + 1)) {
            const unsigned only = s.bits.get(kSingleCharBits);
            std::memset(length, 0, kLh3CharSymbols);
            fillTable(s.charCode.lookup, kCharTableBits, only);
            return;
        }
    }
    buildCanonicalTable(s.charCode, kLh3CharSymbols, kCharTableBits, s.charCode.lookup);
}

void readPosLengths(DecoderState& s) {
    std::uint8_t* length = s.posCode.length;
    for (int i = 0; i < kLh3PosSymbols; ++i) {
        length[i] = static_cast<std::uint8_t>(s.bits.get(4));
        if (announcesSingleSymbol(length, i + 1)) {
            const unsigned only = s.bits.get(kSinglePosBits);
            std::memset(length, 0, kLh3PosSymbols);
            fillTable(s.posCode.lookup, kPosTableBits, only);
            return;
        }
    }
    buildCanonicalTable(s.posCode, kLh3PosSymbols, kPosTableBits, s.posCode.lookup);
}

}  // namespace

// A start length, then the symbols at which the length grows by one (a
// repeated symbol grows it twice).
void setFixedLengths(std::uint8_t* length, int symbolCount, int startLength,
                     const std::uint8_t* growth, int growthCount) {
    int current = startLength;
    int g = 0;
    for (int i = 0; i < symbolCount; ++i) {
        while (g < growthCount && growth[g] == i) {
            ++current;
            ++g;
        }
        length[i] = static_cast<std::uint8_t>(current);
    }
}

void startLh3(DecoderState& s) {
    s.blockSize = 0;
}

unsigned lh3DecodeChar(DecoderState& s) {
    if (s.blockSize == 0) {
        s.blockSize = static_cast<std::uint16_t>(s.bits.get(16));
        readCharLengths(s);
        if (s.bits.get(1)) {
            readPosLengths(s);
        } else {
            static const std::uint8_t kTableB[] = {1, 1, 3, 6, 13, 31, 78};
            setFixedLengths(s.posCode.length, kLh3PosSymbols, 2, kTableB, sizeof kTableB);
            buildCanonicalTable(s.posCode, kLh3PosSymbols, kPosTableBits, s.posCode.lookup);
        }
    }
    --s.blockSize;
    unsigned c = decodeCharCode(s, kLh3CharSymbols);
    if (c == kLh3Escape) c += s.bits.get(8);
    return c;
}

unsigned lh3DecodePosition(DecoderState& s) {
    const unsigned group = decodePosCode(s, kLh3PosSymbols);
    return group * 64 + s.bits.get(6);
}

}  // namespace lzh
