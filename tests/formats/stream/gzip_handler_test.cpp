// Fixtures: tests/fixtures/make-stream-fixtures.sh. Headers with chosen
// optional fields are written here by zlib's deflate and header writer, an
// encoder other than the gzip tool.
#include <zlib.h>

#include <string>

#include "formats/stream/gzip_handler.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::sameBytes;

// One gzip member of data; name and comment may be null.
std::string gzipMember(const std::string& data, const char* name, const char* comment = nullptr,
                       std::string extra = std::string(), bool headerCrc = false) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header header{};
    header.extra = extra.empty() ? Z_NULL : reinterpret_cast<Bytef*>(&extra[0]);
    header.extra_len = static_cast<uInt>(extra.size());
    header.name = reinterpret_cast<Bytef*>(const_cast<char*>(name));
    header.comment = reinterpret_cast<Bytef*>(const_cast<char*>(comment));
    header.hcrc = headerCrc;
    EXPECT_EQ(deflateSetHeader(&z, &header), Z_OK);
    std::string out(deflateBound(&z, data.size()) + 1024, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

class GzipTest : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath, const char* dest = "\\out") {
        return handler.extract(devicePath.c_str(), dest);
    }
    GzipHandler handler;
};
using GzipNames = GzipTest;
using GzipDecoding = GzipTest;

// Only the stored name's last component is used; names that leave nothing
// usable fall back to the derived name, and one too long for a path fails.
TEST_F(GzipNames, StoredNamesAreConfinedOrFallBackToTheDerivedName) {
    const struct { const char* archive; std::string storedName; const char* output; } cases[] = {
        {"a.gz", "../../etc/dir\\a:b?.txt", "a_b_.txt"}, {"b.gz", "/abs/name.txt", "name.txt"},
        {"empty.gz", "", "empty"}, {"folder.gz", "dir/", "folder"}, {"dots.gz", "sub/..", "dots"},
        {"bad.gz", "\x81\x20x", "bad"},  // a lead byte without a valid second byte has no UTF-16 form
        {"y.gz", std::string(300, 'n'), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        EXPECT_EQ(extract(place(c.archive, gzipMember(c.archive, c.storedName.c_str()))) != 0, c.output != nullptr);
        if (c.output) {
            EXPECT_EQ(output(c.output), c.archive);
        }
    }
    ASSERT_NE(extract(place("archive.gz", fixture("stored-name.gz"))), 0);  // made from readme.txt
    EXPECT_EQ(outputs().size(), 7u);
    EXPECT_EQ(testing_support::listFiles(root()).size(), 15u);  // 8 in, 7 out, nothing elsewhere
    // A name naming the archive itself would truncate it before it is read.
    const std::string self = gzipMember("payload", "self.gz");
    ASSERT_NE(extract(place("self.gz", self), "\\in"), 0);
    EXPECT_EQ(testing_support::readFile(host("\\in\\self.gz")), self);
    EXPECT_EQ(testing_support::readFile(host("\\in\\self")), "payload");
}

TEST_F(GzipNames, NameFollowsTheExtraFieldAndPrecedesCommentAndHeaderCrc) {
    const std::string data = testing_support::sampleData(5000, 3);
    const std::string member =
        gzipMember(data, "named.txt", "a comment, not the name", std::string("AP\x04\0wxyz", 8), true);
    ASSERT_NE(extract(place("fields.gz", member)), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"named.txt"});
    EXPECT_TRUE(sameBytes(output("named.txt"), data));
}

TEST_F(GzipDecoding, ConcatenatedMembersAndLargeInputsDecodeFully) {
    const std::string data = testing_support::sampleData(3 * 1048576 + 12345, 7);
    const std::string joined = fixture("no-name.gz") + gzipMember(data, nullptr) + fixture("binary-9.gz");
    ASSERT_NE(extract(place("joined.gz", joined)), 0);
    EXPECT_TRUE(sameBytes(output("joined"), fixture("sample.txt") + data + fixture("sample.bin")));
}

}  // namespace
