// The LZX decoder driven frame by frame: on the frames of the peer-checked
// cabinets of tests/fixtures/make-lzx-fixtures.sh (their extraction through
// the program is in tests/fixtures/lzx/manifest.tsv), and on streams written
// bit by bit here for the call translation's edges and for cut input (fuzz/ covers hostile streams).
// Every input and frame buffer is a heap block of its exact size, so the
// sanitizer run catches any access past either.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/cab/lzx_decoder.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/test_support.h"

namespace {

using cab_testing::Block;
using testing_support::sameBytes;

struct Decoded {
    LzxResult result = LzxResult::Ok;  // of the first frame that failed
    std::size_t failedAt = 0;
    std::string bytes;  // output of the frames before it
};

Decoded decodeFolder(LzxDecoder& decoder, int windowBits, const std::vector<Block>& frames) {
    Decoded out;
    out.result = lzxInitialise(decoder, windowBits);
    for (std::size_t i = 0; i < frames.size() && out.result == LzxResult::Ok; ++i) {
        std::vector<std::uint8_t> input(frames[i].data.begin(), frames[i].data.end());
        std::vector<std::uint8_t> frame(frames[i].uncompressedSize);
        out.result = lzxDecode(decoder, input.data(), static_cast<std::uint32_t>(input.size()), frame.data(),
                               frames[i].uncompressedSize);
        out.failedAt = i;
        if (out.result == LzxResult::Ok) out.bytes.append(frame.begin(), frame.end());
    }
    return out;
}

std::string fixture(const std::string& name) {
    return testing_support::readFile(testing_support::fixturePath("lzx/" + name));
}

std::string le32(std::int32_t v) {
    std::string s(4, '\0');
    std::memcpy(&s[0], &v, 4);
    return s;
}

// An uncompressed block holding data, cut into frames of frameSize. Its
// header's bits fill 16-bit little-endian words from their top bit; the
// block's bytes start on the next word (a whole one when already on one)
// after R0-R2.
std::vector<Block> uncompressedFrames(const std::string& data, std::uint32_t frameSize, std::int32_t translation) {
    std::uint64_t bits = translation != 0;
    if (translation != 0) bits = bits << 32 | static_cast<std::uint32_t>(translation);
    const int count = translation != 0 ? 60 : 28;
    bits = (bits << 27 | 3u << 24 | data.size()) << 4;  // block type 3, its size, padding to 64 or 32 bits
    std::string start;
    for (int at = count - 12; at >= 0; at -= 16)
        start += {static_cast<char>(bits >> at), static_cast<char>(bits >> (at + 8))};
    start += std::string("\1\0\0\0\1\0\0\0\1\0\0\0", 12);
    std::vector<Block> frames;
    for (std::size_t at = 0; at < data.size(); at += frameSize, start.clear()) {
        const std::string piece = data.substr(at, frameSize);
        frames.push_back({start + piece, static_cast<std::uint16_t>(piece.size())});
    }
    return frames;
}

TEST(LzxDecoder, FixtureFoldersInOneReusedDecoder) {
    LzxDecoder decoder;
    EXPECT_EQ(lzxInitialise(decoder, 14), LzxResult::DataFormat);
    EXPECT_EQ(lzxInitialise(decoder, 22), LzxResult::DataFormat);
    // A smaller window runs in the larger buffer, whose stale content must
    // not leak into matches that wrap around the window.
    for (const char* name : {"w16-e8.cab", "w15-mixed.cab", "w21-e8-mixed.cab", "w17-literals.cab",
                             "w18-aligned.cab", "w19-long.cab"}) {
        SCOPED_TRACE(name);
        const cab_testing::Folder folder = cab_testing::readFolder(fixture(name), fixture);
        const Decoded out = decodeFolder(decoder, folder.compressionType >> 8 & 0x1F, folder.blocks);
        ASSERT_EQ(out.result, LzxResult::Ok) << "frame " << out.failedAt;
        std::string expected;
        for (const auto& m : folder.members) expected += m.data;
        EXPECT_TRUE(sameBytes(out.bytes, expected));
    }
    lzxRelease(decoder);
}

// Streams whose header asks for translation but whose bytes were never
// translated: the output shows exactly what the decoder did.
TEST(LzxTranslation, RewritesOnlyOperandsInRangeAndNeverTheLastTenBytes) {
    const std::int32_t size = 0x10000;
    // Frame 0 (positions 0..31): in range, negative, out of range both ways,
    // and a call at 22, inside the last ten bytes.
    std::string frame0 = "ab\xE8" + le32(0x100) + "\xE8" + le32(-5) + "\xE8" + le32(size) + "\xE8" + le32(-20);
    frame0 += std::string(22 - frame0.size(), 'x') + "\xE8" + le32(0x300) + "yyyyy";
    const std::string frame1 = "\xE8" + le32(0x40) + std::string(27, 'z');  // the position carries over
    const std::string frame2 = "\xE8" + le32(0x40) + "q";                    // six bytes are never scanned
    ASSERT_EQ(frame0.size(), 32u);
    std::string expected = frame0 + frame1 + frame2;
    expected.replace(3, 4, le32(0x100 - 2));  // a - p
    expected.replace(8, 4, le32(-5 + size));  // a + size for -p <= a < 0
    expected.replace(32 + 1, 4, le32(0x40 - 32));
    LzxDecoder decoder;
    const Decoded out = decodeFolder(decoder, 15, uncompressedFrames(frame0 + frame1 + frame2, 32, size));
    ASSERT_EQ(out.result, LzxResult::Ok);
    EXPECT_TRUE(sameBytes(out.bytes, expected));

    // Frames of 16 bytes, each starting with a call to 0x80000: every frame
    // up to number 32,767 is rewritten, the next ones are not.
    std::string data;
    for (int i = 0; i < 32770; ++i) data += "\xE8" + le32(0x80000) + "abcdefghijk";
    const Decoded many = decodeFolder(decoder, 16, uncompressedFrames(data, 16, 0x100000));
    ASSERT_EQ(many.result, LzxResult::Ok);
    for (std::uint32_t frame : {0u, 1u, 32767u, 32768u, 32769u}) {
        std::int32_t operand;
        std::memcpy(&operand, &many.bytes.at(frame * 16 + 1), 4);
        EXPECT_EQ(operand, frame < 32768 ? 0x80000 - static_cast<std::int32_t>(frame * 16) : 0x80000) << frame;
    }
    lzxRelease(decoder);
}

TEST(LzxCorrupt, CutFramesAndWindowOverrunsFail) {
    LzxDecoder decoder;
    // The fixture's second and last frame, cut short.
    const std::vector<Block> frames = cab_testing::readFolder(fixture("w15-mixed.cab"), fixture).blocks;
    ASSERT_EQ(frames.size(), 2u);
    const Block last = frames[1];
    for (std::size_t keep = 0; keep <= last.data.size(); keep += keep + 2 < last.data.size() ? 97 : 1000000) {
        const Decoded out = decodeFolder(decoder, 15, {frames[0], {last.data.substr(0, keep), last.uncompressedSize}});
        EXPECT_EQ(out.result, LzxResult::IllegalData) << "input cut to " << keep;
        EXPECT_EQ(out.failedAt, 1u);
    }
    // Frames of 20,000 bytes in a 32 KiB window: the second would pass its end.
    const Decoded out = decodeFolder(decoder, 15, uncompressedFrames(std::string(40000, 'w'), 20000, 0));
    EXPECT_EQ(out.result, LzxResult::DataFormat);
    EXPECT_EQ(out.failedAt, 1u);
    lzxRelease(decoder);
}

}  // namespace
