#include "formats/cab/mszip_decoder.h"

#include <cstring>
#include <new>

namespace {

constexpr int kMaxCodeLength = 15;
constexpr int kLiteralRootBits = 10;
constexpr int kDistanceRootBits = 8;
constexpr int kCodeLengthRootBits = 7;
constexpr int kLiteralSymbols = 288;
constexpr int kDistanceSymbols = 32;
constexpr int kCodeLengthSymbols = 19;
constexpr std::uint32_t kWindowMask = kMszipFrameSize - 1;

// Room for the root table plus one sub-table of the largest possible size
// for every symbol (each code longer than the root bits opens at most one).
constexpr int kLiteralTableSize = (1 << kLiteralRootBits) + kLiteralSymbols * (1 << (kMaxCodeLength - kLiteralRootBits));
constexpr int kDistanceTableSize =
    (1 << kDistanceRootBits) + kDistanceSymbols * (1 << (kMaxCodeLength - kDistanceRootBits));
constexpr int kCodeLengthTableSize = 1 << kCodeLengthRootBits;

enum : std::uint8_t { kInvalid = 0, kSymbol = 1, kLink = 2 };

// One lookup entry. kSymbol: value is the symbol and length the whole code
// length. kLink: value is the sub-table's index in the same array and length
// the number of bits that index it.
struct Entry {
    std::uint16_t value;
    std::uint8_t length;
    std::uint8_t kind;
};

const std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const std::uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                         33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const std::uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

enum class Completeness { Required, Optional };

// Builds a two-level table over the canonical code that lengths describe.
// False for an over-subscribed set, and for an incomplete one unless
// incomplete sets are allowed or the set is a single code of length 1. A set
// of zeros gives a table in which every entry is invalid.
bool buildTable(const std::uint8_t* lengths, int count, Entry* table, int tableSize, int rootBits,
                Completeness completeness) {
    int perLength[kMaxCodeLength + 1] = {};
    for (int i = 0; i < count; ++i) {
        if (lengths[i] > kMaxCodeLength) return false;
        ++perLength[lengths[i]];
    }
    const int rootSize = 1 << rootBits;
    std::memset(table, 0, sizeof(Entry) * static_cast<std::size_t>(rootSize));
    if (perLength[0] == count) return true;

    int left = 1;
    int longest = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        left = (left << 1) - perLength[length];
        if (left < 0) return false;
        if (perLength[length]) longest = length;
    }
    if (left > 0 && completeness == Completeness::Required &&
        !(count - perLength[0] == 1 && perLength[1] == 1)) {
        return false;
    }

    // Canonical codes: shorter codes first, and within one length in symbol
    // order (unused symbols, length 0, take no code).
    int nextCode[kMaxCodeLength + 1] = {};
    for (int length = 1, code = 0; length <= kMaxCodeLength; ++length) {
        code = (code + (length > 1 ? perLength[length - 1] : 0)) << 1;
        nextCode[length] = code;
    }

    const int subBits = longest > rootBits ? longest - rootBits : 0;
    int nextFree = rootSize;
    for (int symbol = 0; symbol < count; ++symbol) {
        const int length = lengths[symbol];
        if (length == 0) continue;
        const int code = nextCode[length]++;
        int reversed = 0;
        for (int bit = 0; bit < length; ++bit) reversed |= ((code >> bit) & 1) << (length - 1 - bit);
        if (length <= rootBits) {
            for (int index = reversed; index < rootSize; index += 1 << length) {
                table[index] = Entry{static_cast<std::uint16_t>(symbol), static_cast<std::uint8_t>(length), kSymbol};
            }
            continue;
        }
        Entry& root = table[reversed & (rootSize - 1)];
        if (root.kind != kLink) {
            if (nextFree + (1 << subBits) > tableSize) return false;
            std::memset(table + nextFree, 0, sizeof(Entry) * (static_cast<std::size_t>(1) << subBits));
            root = Entry{static_cast<std::uint16_t>(nextFree), static_cast<std::uint8_t>(subBits), kLink};
            nextFree += 1 << subBits;
        }
        Entry* sub = table + root.value;
        for (int index = reversed >> rootBits; index < (1 << subBits); index += 1 << (length - rootBits)) {
            sub[index] = Entry{static_cast<std::uint16_t>(symbol), static_cast<std::uint8_t>(length), kSymbol};
        }
    }
    return true;
}

struct FixedTables {
    Entry literals[kLiteralTableSize];
    Entry distances[kDistanceTableSize];
    FixedTables() {
        std::uint8_t lengths[kLiteralSymbols];
        for (int i = 0; i < 144; ++i) lengths[i] = 8;
        for (int i = 144; i < 256; ++i) lengths[i] = 9;
        for (int i = 256; i < 280; ++i) lengths[i] = 7;
        for (int i = 280; i < 288; ++i) lengths[i] = 8;
        buildTable(lengths, kLiteralSymbols, literals, kLiteralTableSize, kLiteralRootBits, Completeness::Required);
        for (int i = 0; i < 30; ++i) lengths[i] = 5;
        buildTable(lengths, 30, distances, kDistanceTableSize, kDistanceRootBits, Completeness::Optional);
    }
};

const FixedTables& fixedTables() {
    static const FixedTables tables;
    return tables;
}

class FrameInflater {
public:
    FrameInflater(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                  std::uint32_t outputLength)
        : input_(input), inputLength_(inputLength), end_(inputLength + 2), frame_(frame), outputLength_(outputLength) {}

    int run() {
        if (inputLength_ < 2 || input_[0] != 'C' || input_[1] != 'K') return 2;
        position_ = 2;
        for (;;) {
            std::uint32_t header;
            if (!bits(3, &header)) return 2;
            bool ok;
            switch (header >> 1) {
            case 0: ok = storedBlock(); break;
            case 1: ok = codes(fixedTables().literals, fixedTables().distances); break;
            case 2: ok = dynamicBlock(); break;
            default: ok = false; break;
            }
            if (!ok) return 2;
            if (header & 1) break;
        }
        // A frame that stops short would pass on what an earlier frame left.
        return output_ == outputLength_ ? 0 : 2;
    }

private:
    void refill() {
        if (position_ + 8 <= end_) {
            std::uint64_t word;
            std::memcpy(&word, input_ + position_, 8);
            word = littleEndian(word);
            bitBuffer_ |= word << bitCount_;
            position_ += (63 - bitCount_) >> 3;
            bitCount_ |= 56;
            return;
        }
        while (bitCount_ <= 56 && position_ < end_) {
            bitBuffer_ |= static_cast<std::uint64_t>(input_[position_++]) << bitCount_;
            bitCount_ += 8;
        }
    }

    static std::uint64_t littleEndian(std::uint64_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_bswap64(word);
#else
        return word;
#endif
    }

    bool bits(unsigned count, std::uint32_t* value) {
        if (bitCount_ < count) refill();
        if (bitCount_ < count) return false;
        *value = static_cast<std::uint32_t>(bitBuffer_ & ((std::uint64_t{1} << count) - 1));
        bitBuffer_ >>= count;
        bitCount_ -= count;
        return true;
    }

    // The next symbol of the code in table; false for an invalid code or
    // one that would need bits beyond the input.
    bool symbol(const Entry* table, int rootBits, std::uint32_t* value) {
        if (bitCount_ < kMaxCodeLength) refill();
        Entry entry = table[bitBuffer_ & ((1u << rootBits) - 1)];
        if (entry.kind == kLink) {
            entry = table[entry.value + ((bitBuffer_ >> rootBits) & ((1u << entry.length) - 1))];
        }
        if (entry.kind != kSymbol || entry.length > bitCount_) return false;
        bitBuffer_ >>= entry.length;
        bitCount_ -= entry.length;
        *value = entry.value;
        return true;
    }

    bool storedBlock() {
        // Back to the byte boundary, handing back the whole bytes the bit
        // buffer holds.
        bitCount_ -= bitCount_ & 7;
        position_ -= bitCount_ >> 3;
        bitBuffer_ = 0;
        bitCount_ = 0;
        if (position_ + 4 > inputLength_) return false;
        const std::uint32_t length = input_[position_] | (input_[position_ + 1] << 8);
        const std::uint32_t complement = input_[position_ + 2] | (input_[position_ + 3] << 8);
        position_ += 4;
        if (length != (~complement & 0xFFFFu)) return false;
        if (position_ + length > inputLength_ || output_ + length > outputLength_) return false;
        std::memcpy(frame_ + output_, input_ + position_, length);
        position_ += length;
        output_ += length;
        return true;
    }

    bool dynamicBlock() {
        std::uint32_t literalCount, distanceCount, codeLengthCount;
        if (!bits(5, &literalCount) || !bits(5, &distanceCount) || !bits(4, &codeLengthCount)) return false;
        literalCount += 257;
        distanceCount += 1;
        codeLengthCount += 4;

        std::uint8_t codeLengthLengths[kCodeLengthSymbols] = {};
        for (std::uint32_t i = 0; i < codeLengthCount; ++i) {
            std::uint32_t length;
            if (!bits(3, &length)) return false;
            codeLengthLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(length);
        }
        if (!buildTable(codeLengthLengths, kCodeLengthSymbols, codeLengthTable_, kCodeLengthTableSize,
                        kCodeLengthRootBits, Completeness::Required)) {
            return false;
        }

        std::uint8_t lengths[kLiteralSymbols + kDistanceSymbols];
        const std::uint32_t total = literalCount + distanceCount;
        std::uint32_t filled = 0;
        std::uint8_t previous = 0;
        while (filled < total) {
            std::uint32_t code;
            if (!symbol(codeLengthTable_, kCodeLengthRootBits, &code)) return false;
            if (code < 16) {
                previous = static_cast<std::uint8_t>(code);
                lengths[filled++] = previous;
                continue;
            }
            std::uint32_t repeat;
            std::uint8_t value = 0;
            if (code == 16) {
                if (!bits(2, &repeat)) return false;
                repeat += 3;
                value = previous;
            } else if (code == 17) {
                if (!bits(3, &repeat)) return false;
                repeat += 3;
            } else {
                if (!bits(7, &repeat)) return false;
                repeat += 11;
            }
            if (filled + repeat > total) return false;
            std::memset(lengths + filled, value, repeat);
            filled += repeat;
            previous = value;
        }
        if (!buildTable(lengths, static_cast<int>(literalCount), literalTable_, kLiteralTableSize, kLiteralRootBits,
                        Completeness::Required) ||
            !buildTable(lengths + literalCount, static_cast<int>(distanceCount), distanceTable_, kDistanceTableSize,
                        kDistanceRootBits, Completeness::Optional)) {
            return false;
        }
        return codes(literalTable_, distanceTable_);
    }

    bool codes(const Entry* literals, const Entry* distances) {
        for (;;) {
            std::uint32_t value;
            if (!symbol(literals, kLiteralRootBits, &value)) return false;
            if (value < 256) {
                if (output_ >= outputLength_) return false;
                frame_[output_++] = static_cast<std::uint8_t>(value);
                continue;
            }
            if (value == 256) return true;
            value -= 257;
            if (value >= 29) return false;
            std::uint32_t extra;
            if (!bits(kLengthExtra[value], &extra)) return false;
            const std::uint32_t length = kLengthBase[value] + extra;
            std::uint32_t code;
            if (!symbol(distances, kDistanceRootBits, &code) || code >= 30) return false;
            if (!bits(kDistanceExtra[code], &extra)) return false;
            const std::uint32_t distance = kDistanceBase[code] + extra;
            if (output_ + length > outputLength_) return false;
            if (distance <= output_ && distance >= length) {
                std::memcpy(frame_ + output_, frame_ + output_ - distance, length);
                output_ += length;
            } else {
                // Overlapping copies repeat the pattern; sources before the
                // frame's start wrap to the previous frame's tail.
                std::uint32_t from = (output_ - distance) & kWindowMask;
                for (std::uint32_t i = 0; i < length; ++i) {
                    frame_[output_++] = frame_[from];
                    from = (from + 1) & kWindowMask;
                }
            }
        }
    }

    const std::uint8_t* input_;
    std::uint32_t inputLength_;
    std::uint32_t end_;
    std::uint8_t* frame_;
    std::uint32_t outputLength_;
    std::uint32_t position_ = 0;
    std::uint64_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
    std::uint32_t output_ = 0;
    Entry literalTable_[kLiteralTableSize];
    Entry distanceTable_[kDistanceTableSize];
    Entry codeLengthTable_[kCodeLengthTableSize];
};

}  // namespace

int mszipDecode(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                std::uint32_t outputLength) {
    if (outputLength > kMszipFrameSize) return 1;
    // The tables are large; one inflater serves every call (the program is
    // single-threaded, and nothing of it survives a frame).
    alignas(FrameInflater) static unsigned char storage[sizeof(FrameInflater)];
    FrameInflater* inflater = new (storage) FrameInflater(input, inputLength, frame, outputLength);
    return inflater->run();
}
