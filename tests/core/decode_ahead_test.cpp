// The hand-off between a decoding thread and its reader. Also built under
// ThreadSanitizer (TOVRIN_TSAN), where a slip in the hand-off is reported.
#include "core/decode_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::string stream(std::size_t size, std::size_t from = 0) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((from + i) % 251);
    return out;
}

// Gives stream(total) in pieces of at most `piece` bytes; counts its calls.
struct Source {
    std::size_t total, piece, given = 0, calls = 0, callsAfterEnd = 0;
    bool ended = false;
    std::size_t operator()(void* buffer, std::size_t count) {
        ++calls;
        callsAfterEnd += ended;
        const std::size_t n = std::min({count, piece, total - given});
        std::memcpy(buffer, stream(n, given).data(), n);
        given += n;
        ended = n == 0;
        return n;
    }
};

std::string readAll(DecodeAhead& ahead, std::size_t readSize) {
    std::string got, chunk(readSize, '\0');
    while (std::size_t n = ahead.read(&chunk[0], readSize)) got.append(chunk, 0, n);
    return got;
}

TEST(DecodeAhead, ReaderGetsEveryByteInOrderThenTheEnd) {
    const struct { std::size_t total, piece, bufferSize, buffers, readSize; } cases[] = {
        {0, 10, 16, 2, 5},               // nothing at all
        {64, 64, 16, 2, 7},              // a whole number of buffers
        {100000, 1, 4096, 2, 333},       // a source that trickles
        {100000, 5000, 1000, 3, 100000}, // one read for everything
        {300001, 65536, 65536, 4, 512},  // blocks, as the TAR walk reads
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        Source source{c.total, c.piece};
        DecodeAhead ahead(c.bufferSize, c.buffers);
        ASSERT_TRUE(ahead.start([&source](void* b, std::size_t n) { return source(b, n); }));
        EXPECT_EQ(readAll(ahead, c.readSize), stream(c.total));
        ahead.stop();
        EXPECT_EQ(source.callsAfterEnd, 0u);
        char byte;
        EXPECT_EQ(ahead.read(&byte, 1), 0u);
    }
}

TEST(DecodeAhead, StopEndsADecoderAheadOfItsReaderAndKeepsWhatItDecoded) {
    Source endless{SIZE_MAX, 4096};
    DecodeAhead ahead(4096, 3);
    ASSERT_TRUE(ahead.start([&endless](void* b, std::size_t n) { return endless(b, n); }));
    std::string first(100, '\0');
    ASSERT_EQ(ahead.read(&first[0], 100), 100u);
    ahead.stop();
    const std::size_t callsAtStop = endless.calls;
    // Bytes decoded before the stop follow in order, no more than the
    // buffers hold; the source is not called again.
    const std::string all = first + readAll(ahead, 1000);
    EXPECT_EQ(all, stream(all.size()));
    EXPECT_LE(all.size(), 3u * 4096);
    EXPECT_EQ(endless.calls, callsAtStop);
    // Started again, it serves a new source from its start.
    Source next{5000, 300};
    ASSERT_TRUE(ahead.start([&next](void* b, std::size_t n) { return next(b, n); }));
    EXPECT_EQ(readAll(ahead, 64), stream(5000));
}

}  // namespace
