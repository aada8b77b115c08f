#include "formats/zip/zip_crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace {

// The folding path must agree with zlib for every length, alignment and
// running value, including the lengths around its 64-byte blocks and its
// 256-byte threshold, and when one piece continues another.
TEST(ZipCrc32, AgreesWithZlibForEveryLengthAlignmentAndRunningValue) {
    std::vector<std::uint8_t> data(70000);
    std::uint32_t seed = 1;
    for (std::uint8_t& byte : data) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    for (std::size_t length = 0; length < 1200; length += (length < 400 ? 1 : 7)) {
        for (std::size_t offset = 0; offset < 3; ++offset) {
            const std::uint32_t start = offset == 0 ? 0 : 0x9E3779B9u * static_cast<std::uint32_t>(length + offset);
            ASSERT_EQ(zipCrc32(start, data.data() + offset, length),
                      static_cast<std::uint32_t>(crc32(start, data.data() + offset, static_cast<uInt>(length))))
                << length << " at " << offset;
        }
    }
    const std::uint32_t whole = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(zipCrc32(0, data.data(), data.size()), whole);
    EXPECT_EQ(zipCrc32(zipCrc32(0, data.data(), 4097), data.data() + 4097, data.size() - 4097), whole);
}

}  // namespace
