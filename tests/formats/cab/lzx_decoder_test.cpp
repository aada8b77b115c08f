// The LZX decoder driven frame by frame, on streams from the test encoder
// (tests/tools/lzx_encoder.h), on cabinets of that encoder that the peer
// extractors decode to the same bytes (tests/fixtures/make-lzx-fixtures.sh),
// and on hand-made hostile streams. Every input and frame buffer is a heap
// block of its exact size, so the sanitizer run catches any access past
// either.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "formats/cab/lzx_decoder.h"
#include "tests/test_support.h"
#include "tests/tools/lzx_encoder.h"

using lzx_test::BlockKind;
using lzx_test::EncodeOptions;
using lzx_test::Frame;
using testing_support::sameBytes;
using testing_support::sampleData;

namespace {

struct Decoded {
    int result = 0;           // of the first frame that failed, else 0
    std::size_t failedAt = 0;  // index of that frame
    std::string bytes;         // output of the frames before it
};

Decoded decodeFrames(LzxDecoder& decoder, const std::vector<Frame>& frames) {
    Decoded out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::vector<std::uint8_t> input(frames[i].data.begin(), frames[i].data.end());
        std::vector<std::uint8_t> frame(frames[i].outputSize);
        out.result = lzxDecode(decoder, input.data(), static_cast<std::uint32_t>(input.size()), frame.data(),
                               frames[i].outputSize);
        if (out.result != 0) {
            out.failedAt = i;
            return out;
        }
        out.bytes.append(frame.begin(), frame.end());
    }
    return out;
}

Decoded decodeFolder(LzxDecoder& decoder, int windowBits, const std::vector<Frame>& frames) {
    const int init = lzxInitialise(decoder, windowBits);
    if (init != 0) return {init, 0, {}};
    return decodeFrames(decoder, frames);
}

std::vector<Frame> encode(const std::string& data, int windowBits, std::vector<lzx_test::BlockPlan> blocks = {},
                          std::int32_t translationSize = 0) {
    EncodeOptions options;
    options.windowBits = windowBits;
    options.blocks = std::move(blocks);
    options.translationSize = translationSize;
    return lzx_test::encode(data, options);
}

// Bytes that compress, with a copy of their start placed just inside the
// window's reach of the copy: far matches, and once past the window's size,
// matches whose source lies before the window's start.
std::string farRepeats(std::uint32_t windowSize, unsigned seed) {
    const std::string head = sampleData(20000, seed);
    return head + sampleData(windowSize - 12000, seed + 1) + head;
}

TEST(LzxDecoder, EveryWindowSizeWithEveryBlockKind) {
    LzxDecoder decoder;
    EXPECT_EQ(lzxInitialise(decoder, 14), 1);
    EXPECT_EQ(lzxInitialise(decoder, 22), 1);
    for (int bits = kLzxMinWindowBits; bits <= kLzxMaxWindowBits; ++bits) {
        SCOPED_TRACE("window bits " + std::to_string(bits));
        const std::string data = farRepeats(1u << bits, static_cast<unsigned>(bits));
        // Odd uncompressed blocks (padded), blocks spanning frames, and tree
        // lengths sent as differences across blocks.
        const auto frames = encode(data, bits,
                                   {{BlockKind::Aligned, 45001},
                                    {BlockKind::Uncompressed, 3333},
                                    {BlockKind::Verbatim, 70000},
                                    {BlockKind::Uncompressed, 40000},
                                    {BlockKind::Aligned, 1 << 20}});
        const Decoded out = decodeFolder(decoder, bits, frames);
        ASSERT_EQ(out.result, 0) << "frame " << out.failedAt;
        EXPECT_TRUE(sameBytes(out.bytes, data));
    }
    lzxRelease(decoder);
}

TEST(LzxDecoder, SmallerWindowReusesTheBufferAndLargerReplacesIt) {
    LzxDecoder decoder;
    const std::string big = farRepeats(1u << 17, 7);
    ASSERT_TRUE(sameBytes(decodeFolder(decoder, 17, encode(big, 17)).bytes, big));
    const std::uint8_t* buffer = decoder.window;

    // The 15-bit folder runs in the old 17-bit buffer, whose stale content
    // past 2^15 must not leak into matches that wrap around the window.
    const std::string small = farRepeats(1u << 15, 8);
    const Decoded second = decodeFolder(decoder, 15, encode(small, 15, {{BlockKind::Verbatim, 30000}}));
    ASSERT_EQ(second.result, 0);
    EXPECT_TRUE(sameBytes(second.bytes, small));
    EXPECT_EQ(decoder.window, buffer);
    EXPECT_EQ(decoder.windowAllocated, 1u << 17);

    const std::string larger = farRepeats(1u << 18, 9);
    EXPECT_TRUE(sameBytes(decodeFolder(decoder, 18, encode(larger, 18)).bytes, larger));
    EXPECT_EQ(decoder.windowAllocated, 1u << 18);
    lzxRelease(decoder);
    EXPECT_EQ(decoder.window, nullptr);
}

// x86-like bytes: call opcodes with operands pointing all over the place,
// including negative ones and ones beyond the translation size.
std::string callHeavy(std::size_t size, unsigned seed) {
    std::string data = sampleData(size, seed);
    for (std::size_t i = 0; i + 5 <= size; i += 13 + (i % 7)) {
        const std::int32_t operand = static_cast<std::int32_t>(i * 2654435761u) >> (i % 9);
        data[i] = static_cast<char>(0xE8);
        std::memcpy(&data[i + 1], &operand, 4);
    }
    return data;
}

TEST(LzxTranslation, CallsRoundTripWithAndWithoutTheHeader) {
    LzxDecoder decoder;
    const std::string data = callHeavy(150000, 3);
    for (std::int32_t size : {0, 1 << 20, 12000000}) {
        SCOPED_TRACE("translation size " + std::to_string(size));
        const auto frames = encode(data, 16, {{BlockKind::Verbatim, 50000}, {BlockKind::Uncompressed, 9999}}, size);
        const Decoded out = decodeFolder(decoder, 16, frames);
        ASSERT_EQ(out.result, 0);
        EXPECT_TRUE(sameBytes(out.bytes, data));
    }
    // The encoder really changed the operands it sent.
    EXPECT_NE(lzx_test::translateCalls(data, 1 << 20, kLzxFrameSize), data);
    lzxRelease(decoder);
}

std::string le32(std::int32_t v) {
    std::string s(4, '\0');
    std::memcpy(&s[0], &v, 4);
    return s;
}

// Streams whose header asks for translation but whose bytes were not
// translated by the encoder: the output shows exactly what the decoder did.
TEST(LzxTranslation, RewritesOnlyOperandsInRangeAndNeverTheLastTenBytes) {
    const std::int32_t size = 0x10000;
    // Frame 0 (32 bytes, positions 0..31): in range, negative, out of range
    // both ways, and a call at 22, inside the last ten bytes.
    std::string frame0 = "ab\xE8" + le32(0x100) + "\xE8" + le32(-5) + "\xE8" + le32(size) + "\xE8" + le32(-20);
    frame0 += std::string(22 - frame0.size(), 'x') + "\xE8" + le32(0x300) + "yyyyy";
    // Frame 1 (positions 32..63): the start position carries over.
    const std::string frame1 = "\xE8" + le32(0x40) + std::string(27, 'z');
    // Frame 2: six bytes are never scanned.
    const std::string frame2 = "\xE8" + le32(0x40) + "q";
    ASSERT_EQ(frame0.size(), 32u);

    EncodeOptions options;
    options.translationSize = size;
    options.pretranslate = false;
    options.frameSize = 32;
    options.blocks = {{BlockKind::Uncompressed, 1000}};
    const auto frames = lzx_test::encode(frame0 + frame1 + frame2, options);
    ASSERT_EQ(frames.size(), 3u);

    std::string expected = frame0 + frame1 + frame2;
    expected.replace(3, 4, le32(0x100 - 2));    // a - p
    expected.replace(8, 4, le32(-5 + size));    // a + size for -p <= a < 0
    expected.replace(32 + 1, 4, le32(0x40 - 32));
    LzxDecoder decoder;
    const Decoded out = decodeFolder(decoder, 15, frames);
    ASSERT_EQ(out.result, 0);
    EXPECT_TRUE(sameBytes(out.bytes, expected));
    lzxRelease(decoder);
}

TEST(LzxTranslation, StopsAfterTheFirst32768Frames) {
    // Frames of 16 bytes, each starting with a call whose operand points at
    // position 0x80000: every frame up to number 32,767 is rewritten, the
    // next is not.
    std::string data;
    for (int i = 0; i < 32770; ++i) data += "\xE8" + le32(0x80000) + "abcdefghijk";
    EncodeOptions options;
    options.translationSize = 0x100000;
    options.pretranslate = false;
    options.frameSize = 16;
    options.blocks = {{BlockKind::Verbatim, 1 << 20}};
    const auto frames = lzx_test::encode(data, options);
    LzxDecoder decoder;
    const Decoded out = decodeFolder(decoder, 16, frames);
    ASSERT_EQ(out.result, 0);
    ASSERT_EQ(out.bytes.size(), data.size());
    for (std::uint32_t frame : {0u, 1u, 32767u, 32768u, 32769u}) {
        std::int32_t operand;
        std::memcpy(&operand, &out.bytes[frame * 16 + 1], 4);
        EXPECT_EQ(operand, frame < 32768 ? 0x80000 - static_cast<std::int32_t>(frame * 16) : 0x80000)
            << "frame " << frame;
    }
    lzxRelease(decoder);
}

// A stream that ends early, a declared frame longer than what was coded, a
// frame cut inside a match: each fails instead of passing on stale bytes.
TEST(LzxCorrupt, ShortOrOverlongFramesFail) {
    const std::string data = farRepeats(1u << 15, 21).substr(0, 30000);
    const auto frames = encode(data, 15, {{BlockKind::Verbatim, 20000}, {BlockKind::Uncompressed, 5001}});
    ASSERT_EQ(frames.size(), 1u);
    LzxDecoder decoder;

    for (std::size_t keep = 0; keep + 2 < frames[0].data.size(); keep += 97) {
        const Decoded out = decodeFolder(decoder, 15, {{frames[0].data.substr(0, keep), frames[0].outputSize}});
        EXPECT_EQ(out.result, 2) << "input cut to " << keep;
    }
    Frame longer = frames[0];
    longer.outputSize += 1;
    EXPECT_EQ(decodeFolder(decoder, 15, {longer}).result, 2);

    // Cutting the frame short ends its last run inside a match, or inside
    // an uncompressed block: either fails or yields the original's start.
    for (std::uint32_t cut : {1u, 2u, 3u, 77u, 4099u, 19999u, 20001u}) {
        Frame shorter = frames[0];
        shorter.outputSize = static_cast<std::uint32_t>(data.size()) - cut;
        const Decoded out = decodeFolder(decoder, 15, {shorter});
        if (out.result == 0) {
            EXPECT_TRUE(sameBytes(out.bytes, data.substr(0, shorter.outputSize)));
        } else {
            EXPECT_EQ(out.result, 2);
        }
    }
    Frame oversized = frames[0];
    oversized.outputSize = kLzxFrameSize + 1;
    EXPECT_EQ(decodeFolder(decoder, 15, {oversized}).result, 1);
    lzxRelease(decoder);
}

// The start of a hand-made frame: no translation, then a block header.
void blockHeader(lzx_test::LzxBitWriter& w, std::uint32_t type, std::uint32_t length) {
    w.put(0, 1);
    w.put(type, 3);
    w.put(length >> 8, 16);
    w.put(length & 0xFF, 8);
}

TEST(LzxCorrupt, HandMadeStreamsFailCleanly) {
    LzxDecoder decoder;
    auto run = [&](const std::string& input, std::uint32_t outputSize) {
        return decodeFolder(decoder, 16, {{input, outputSize}}).result;
    };
    for (std::uint32_t type : {0u, 4u, 7u}) {
        std::string s;
        lzx_test::LzxBitWriter w(&s);
        blockHeader(w, type, 100);
        w.align(false);
        EXPECT_EQ(run(s, 100), 2) << "block type " << type;
    }
    {
        // A pretree of two 1-bit codes (0 and 18), then zero runs of 51:
        // the sixth would pass symbol 255 of the first part of the main tree.
        std::string s;
        lzx_test::LzxBitWriter w(&s);
        blockHeader(w, 1, 100);
        for (int i = 0; i < 20; ++i) w.put(i == 0 || i == 18 ? 1 : 0, 4);
        for (int i = 0; i < 6; ++i) w.put(1 << 5 | 31, 6);
        w.align(false);
        EXPECT_EQ(run(s + std::string(64, '\0'), 100), 2);
    }
    {
        // An uncompressed block of 1,000 bytes with 10 of them present.
        std::string s;
        lzx_test::LzxBitWriter w(&s);
        blockHeader(w, 3, 1000);
        w.align(true);
        EXPECT_EQ(run(s + le32(1) + le32(1) + le32(1) + std::string(10, 'u'), 1000), 2);
    }
    // Frames of 20,000 bytes in a 32 KiB window: the second would pass its end.
    EncodeOptions options;
    options.windowBits = 15;
    options.frameSize = 20000;
    const Decoded out = decodeFolder(decoder, 15, lzx_test::encode(sampleData(40000, 4), options));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.failedAt, 1u);
    lzxRelease(decoder);
}

// Cabinets of the test encoder that 7zz and bsdtar extract to the original
// bytes (tests/fixtures/make-lzx-fixtures.sh).
struct CabFolderData {
    int windowBits = 0;
    std::vector<Frame> frames;
    std::vector<std::pair<std::string, std::uint32_t>> members;  // name, length
};

std::uint32_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s.at(at + i));
    return v;
}

CabFolderData readOneFolderCabinet(const std::string& cab) {
    CabFolderData out;
    const std::uint32_t files = le(cab, 28, 2);
    const std::uint32_t dataOffset = le(cab, 36, 4);
    const std::uint32_t blocks = le(cab, 40, 2);
    out.windowBits = static_cast<int>(le(cab, 42, 2) >> 8 & 0x1F);
    std::size_t at = 44;
    for (std::uint32_t i = 0; i < files; ++i) {
        const std::uint32_t length = le(cab, at, 4);
        const std::size_t nameEnd = cab.find('\0', at + 16);
        out.members.emplace_back(cab.substr(at + 16, nameEnd - at - 16), length);
        at = nameEnd + 1;
    }
    at = dataOffset;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const std::uint32_t packed = le(cab, at + 4, 2);
        out.frames.push_back({cab.substr(at + 8, packed), le(cab, at + 6, 2)});
        at += 8 + packed;
    }
    return out;
}

TEST(LzxFixtures, PeerCheckedCabinetsDecodeToTheOriginals) {
    const char* const cabinets[] = {"w15-mixed.cab", "w16-e8.cab", "w18-aligned.cab", "w21-e8-mixed.cab",
                                    "w17-literals.cab"};
    LzxDecoder decoder;
    for (const char* name : cabinets) {
        SCOPED_TRACE(name);
        const std::string cab = testing_support::readFile(testing_support::fixturePath(std::string("lzx/") + name));
        const CabFolderData folder = readOneFolderCabinet(cab);
        const Decoded out = decodeFolder(decoder, folder.windowBits, folder.frames);
        ASSERT_EQ(out.result, 0) << "frame " << out.failedAt;
        std::size_t offset = 0;
        for (const auto& member : folder.members) {
            const std::string original = testing_support::readFile(testing_support::fixturePath("lzx/" + member.first));
            EXPECT_TRUE(sameBytes(out.bytes.substr(offset, member.second), original)) << member.first;
            offset += member.second;
        }
        EXPECT_EQ(offset, out.bytes.size());
    }
    lzxRelease(decoder);
}

}  // namespace

namespace {

class LzxProgram : public testing_support::DeviceSandbox {};

TEST_F(LzxProgram, ExtractsPeerCheckedCabinetsByteExactly) {
    for (const char* name : {"w21-e8-mixed.cab", "w15-mixed.cab"}) {
        SCOPED_TRACE(name);
        const std::string cab = testing_support::readFile(testing_support::fixturePath(std::string("lzx/") + name));
        testing_support::makeDirectories(host("\\in"));
        testing_support::writeFile(host("\\in\\x.cab"), cab);
        testing_support::runShell("rm -rf '" + host("\\out") + "'");
        ASSERT_EQ(testing_support::runProgram({"#F(\\in\\x.cab)#P(\\out)"}).exitStatus, 0);
        std::vector<std::string> expected;
        for (const auto& member : readOneFolderCabinet(cab).members) {
            expected.push_back(member.first);
            EXPECT_TRUE(sameBytes(testing_support::readFile(host("\\out\\" + member.first)),
                                  testing_support::readFile(testing_support::fixturePath("lzx/" + member.first))))
                << member.first;
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(testing_support::listFiles(host("\\out")), expected);
    }
}

}  // namespace
