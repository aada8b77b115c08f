#include "formats/cab/lzx_huffman.h"

namespace {

constexpr std::uint16_t kUnset = kLzxUnsetEntry;

std::uint16_t wholeCode(int symbol, int length) {
    return static_cast<std::uint16_t>(symbol | length << kLzxEntryLengthShift);
}

}  // namespace

bool lzxBuildTable(const std::uint8_t* lengths, int symbols, int tableBits, std::uint16_t* table) {
    const std::uint32_t directSize = 1u << tableBits;
    std::uint32_t count[kLzxMaxCodeLength + 1] = {};
    for (int s = 0; s < symbols; ++s) {
        if (lengths[s] > kLzxMaxCodeLength) return false;
        ++count[lengths[s]];
    }
    if (count[0] == static_cast<std::uint32_t>(symbols)) {
        for (std::uint32_t i = 0; i < directSize; ++i) table[i] = wholeCode(0, 0);
        return true;
    }

    // The code must fill its space exactly: every bit pattern then resolves,
    // and a walk can never meet an unset node.
    std::int64_t left = 1;
    for (int len = 1; len <= kLzxMaxCodeLength; ++len) {
        left = left * 2 - count[len];
        if (left < 0) return false;
    }
    if (left != 0) return false;

    std::uint32_t nextCode[kLzxMaxCodeLength + 1] = {};
    std::uint32_t code = 0;
    for (int len = 1; len <= kLzxMaxCodeLength; ++len) {
        code = (code + count[len - 1] * (len > 1 ? 1u : 0u)) << 1;
        nextCode[len] = code;
    }

    for (std::uint32_t i = 0; i < directSize; ++i) table[i] = kUnset;
    const std::uint32_t nodeCapacity = static_cast<std::uint32_t>(symbols);
    std::uint32_t nodesUsed = 0;
    for (int s = 0; s < symbols; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        const std::uint32_t c = nextCode[len]++;
        if (len <= tableBits) {
            const std::uint32_t start = c << (tableBits - len);
            const std::uint32_t span = 1u << (tableBits - len);
            const std::uint16_t entry = wholeCode(s, len);
            for (std::uint32_t i = 0; i < span; ++i) table[start + i] = entry;
            continue;
        }
        std::uint16_t* entry = &table[c >> (len - tableBits)];
        for (int bit = len - tableBits - 1; bit >= 0; --bit) {
            if (*entry == kUnset) {
                if (nodesUsed >= nodeCapacity) return false;
                *entry = wholeCode(static_cast<int>(nodesUsed), kLzxNodeLength);
                table[directSize + 2 * nodesUsed] = kUnset;
                table[directSize + 2 * nodesUsed + 1] = kUnset;
                ++nodesUsed;
            } else if ((*entry >> kLzxEntryLengthShift) != kLzxNodeLength) {
                return false;  // a shorter code already owns this prefix
            }
            entry = &table[directSize + 2 * (*entry & kLzxEntryValueMask) + ((c >> bit) & 1u)];
        }
        if (*entry != kUnset) return false;
        *entry = wholeCode(s, len);
    }
    return true;
}
