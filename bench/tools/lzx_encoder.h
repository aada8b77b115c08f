// A small LZX encoder for the LZX fixtures and bench inputs: no packer we
// may use writes LZX cabinets, so they are made here and checked against
// the peer extractors (tests/fixtures/make-lzx-fixtures.sh).
//
// It is written for clarity and control, not ratio: greedy matching over
// hash chains, trees built per block from the block's own counts, and a
// block plan chosen by the caller, so that every block type, odd-length
// uncompressed blocks, tree deltas across blocks, pretree runs, repeated
// offsets and the call translation can be produced on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lzx_test {

enum class BlockKind : int { Verbatim = 1, Aligned = 2, Uncompressed = 3 };

struct BlockPlan {
    BlockKind kind;
    std::uint32_t length;  // uncompressed bytes, 1 .. 2^24 - 1
};

struct EncodeOptions {
    int windowBits = 16;
    // Writes the translation header with this size; 0 writes the header bit 0.
    std::int32_t translationSize = 0;
    // Cycled over the input, the last block cut to what is left; empty means
    // verbatim blocks of 1 MiB.
    std::vector<BlockPlan> blocks;
    // Bytes of output per frame (the last frame takes the rest). Cabinets
    // need 32,768; the decoder takes any size from 1 up.
    std::uint32_t frameSize = 32768;
    bool useMatches = true;
    int chainDepth = 24;
    // Off: the translation header is written but the input is taken as
    // already translated, so a decoder's own translation shows in its output.
    bool pretranslate = true;
};

// 16-bit little-endian words, each filled from its most significant bit:
// the bit order of the decoder's input, for hand-made streams.
class LzxBitWriter {
public:
    explicit LzxBitWriter(std::string* out) : out_(out) {}
    void put(std::uint32_t value, int n);
    // Pads to the next word boundary; with force, a whole word when already on one.
    void align(bool force);
    void setOutput(std::string* out) { out_ = out; }

private:
    void emit();
    std::string* out_;
    std::uint16_t word_ = 0;
    int used_ = 0;
};

struct Frame {
    std::string data;          // the frame's compressed bytes
    std::uint32_t outputSize;  // the bytes it decodes to
};

std::vector<Frame> encode(const std::string& input, const EncodeOptions& options);

// The call translation the decoder undoes, applied to a whole folder's
// output cut into frames of frameSize (exposed so that tests can state what
// a translated stream holds).
std::string translateCalls(const std::string& input, std::int32_t translationSize, std::uint32_t frameSize);

}  // namespace lzx_test
