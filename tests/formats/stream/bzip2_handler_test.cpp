// Fixtures: tests/fixtures/make-stream-fixtures.sh. Multi-block streams are
// packed here by libbz2's compressor at level 1 (100k blocks); the expected
// bytes of a damaged stream are what libbz2 decodes in one call before it
// stops, the plain decode that the parallel one must match.
#include <bzlib.h>

#include <cstdio>
#include <random>
#include <string>

#include "formats/stream/bzip2_handler.h"
#include "formats/stream/bzip2_parallel.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::sameBytes;

std::string pack(const std::string& data) {
    std::string out(data.size() + data.size() / 50 + 1024, '\0');
    unsigned size = static_cast<unsigned>(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()),
                                       static_cast<unsigned>(data.size()), 1, 0, 0), BZ_OK);
    return out.substr(0, size);
}

// One stream decoded in one call: everything libbz2 gives before it stops.
std::string plainDecode(const std::string& stream) {
    bz_stream bz{};
    BZ2_bzDecompressInit(&bz, 0, 0);
    std::string out(4 << 20, '\0');
    bz.next_in = const_cast<char*>(stream.data());
    bz.avail_in = static_cast<unsigned>(stream.size());
    bz.next_out = &out[0];
    bz.avail_out = static_cast<unsigned>(out.size());
    BZ2_bzDecompress(&bz);
    out.resize(out.size() - bz.avail_out);
    BZ2_bzDecompressEnd(&bz);
    return out;
}

// Random bytes drawn from a set chosen so that every block's table of used
// byte values holds the words 0x3141 0x5926 0x5359 back to back: the block
// signature, in the middle of each block's own header.
std::string dataWithFalseSignatures(std::size_t size) {
    std::string alphabet;
    const unsigned ranges[16] = {0x8000, 0x3141, 0x5926, 0x5359, 0x8000, 0x8000, 0x8000, 0x8000,
                                 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000};
    for (int r = 0; r < 16; ++r) {
        for (int b = 0; b < 16; ++b) {
            if (ranges[r] & (0x8000u >> b)) alphabet.push_back(static_cast<char>(16 * r + b));
        }
    }
    std::mt19937 random(5);
    std::string data(size, '\0');
    for (char& c : data) c = alphabet[random() % alphabet.size()];
    return data;
}

class Bzip2Test : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath) { return handler.extract(devicePath.c_str(), "\\out"); }
    Bzip2Handler handler;
};
using Bzip2Decoding = Bzip2Test;

TEST_F(Bzip2Decoding, BlocksDecodedInParallelGiveThePlainDecodeBytesAndResult) {
    const std::string data = testing_support::sampleData(450000, 9);
    const std::string tricky = dataWithFalseSignatures(250000);
    const std::string multi = pack(data), falseSigns = pack(tricky);
    const std::string text = fixture("text-1.bz2"), sample = fixture("sample.txt");
    std::string badFirstCrc = multi, badStreamCrc = multi, badMiddle = multi, badSecond = fixture("binary-9.bz2");
    badFirstCrc[10] ^= 1;
    badStreamCrc[multi.size() - 2] ^= 1;
    badMiddle[multi.size() / 2] ^= 0x10;
    badSecond[60] ^= '\xFF';
    const std::string multiCut = multi.substr(0, multi.size() * 3 / 5), falseCut = falseSigns.substr(0, 70000);
    struct Case { const char* name; std::string stream; std::string expected; bool ok; };
    const Case cases[] = {
        {"multi", multi, data, true},
        {"false-signatures", falseSigns, tricky, true},
        // As parallel compressors write them; then zero padding, text, and a
        // "BZ" too short to start a stream: the common decompressor ignores these.
        {"streams", multi + text + falseSigns + multi + std::string(700, '\0'), data + sample + tricky + data, true},
        {"junk", text + "trailing text", sample, true},
        {"bz", text + "BZ", sample, true},
        {"multi-cut", multiCut, plainDecode(multiCut), false},
        {"false-cut", text + falseCut, sample + plainDecode(falseCut), false},
        {"first-crc", badFirstCrc, plainDecode(badFirstCrc), false},
        {"stream-crc", badStreamCrc, data, false},
        {"middle", badMiddle, plainDecode(badMiddle), false},
        {"second", text + badSecond, sample + plainDecode(badSecond), false},
        {"second-garbage", text + "BZh9 is no block", sample, false},
        {"end-record-cut", text.substr(0, text.size() - 3), sample, false},
        {"end-signature-cut", text.substr(0, text.size() - 9), sample, false},
    };
    EXPECT_GT(plainDecode(multiCut).size(), 199000u);  // cut in the 3rd of 5 blocks
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = place(std::string(c.name) + ".bz2", c.stream);
        EXPECT_EQ(extract(path), c.ok ? 1 : 0);
        EXPECT_TRUE(sameBytes(output(c.name), c.expected));
        // Any number of workers, any read size.
        for (unsigned workers : {0u, 1u, 3u}) {
            std::FILE* file = std::fopen(host(path).c_str(), "rb");
            ASSERT_NE(file, nullptr);
            Bzip2ParallelDecoder decoder(file, workers);
            std::string all, buffer(workers == 1 ? 4093 : 1 << 20, '\0');
            while (std::size_t got = decoder.read(&buffer[0], buffer.size())) all.append(buffer, 0, got);
            EXPECT_EQ(decoder.failed(), !c.ok) << workers;
            EXPECT_TRUE(sameBytes(all, c.expected)) << workers;
            std::fclose(file);
        }
    }
}

}  // namespace
