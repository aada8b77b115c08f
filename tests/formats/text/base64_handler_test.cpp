// Fixtures: tests/fixtures/make-text-fixtures.sh (uuencode -m, mpack;
// through the program in tests/fixtures/text/manifest.tsv). Messages with
// chosen header shapes are written here.
#include <string>

#include "formats/stream/base64_handler.h"
#include "tests/formats/text/text_sandbox.h"

namespace {

using text_testing::sameBytes;

class Base64Test : public text_testing::TextSandbox {
protected:
    Base64Handler handler;
    const std::string sample = textFixture("sample.bin");
    const std::string sampleLines = dataLines("begin-base64.b64", "====");
};
using Base64Decoding = Base64Test;
using Base64Names = Base64Test;

TEST_F(Base64Decoding, HeaderShapesAndBodyEndings) {
    const std::string encoding = "Content-Transfer-Encoding: base64\n";
    const std::string message =
        "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
        // a name in a folded line, the encoding in upper case
        "Content-Type: application/octet-stream;\n\tname=\"folded.bin\"\nContent-Transfer-Encoding: BASE64\n\n" +
        sampleLines + "--b\n" +
        // a header ending in ';' continues without indentation
        "Content-Type: a/b;\nname=\"semi.bin\"\n" + encoding + "\nc2VtaQ==\n--b\n" +
        // no empty line between the header block and the body; "=" ending
        "Content-Disposition: attachment; filename=\"tight.bin\"\n" + encoding + "YWJjZGU=\n--b\n" +
        // an unpadded tail, on a last line without a line break
        "Content-Type: x; name=\"last.bin\"\n" + encoding + "\nYWJjZGVmZw";
    ASSERT_EQ(probeAndExtract(handler, "m.MIM", message), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"folded.bin", "last.bin", "semi.bin", "tight.bin"}));
    EXPECT_TRUE(sameBytes(output("folded.bin"), sample));
    EXPECT_EQ(output("semi.bin"), "semi");
    EXPECT_EQ(output("tight.bin"), "abcde");
    EXPECT_EQ(output("last.bin"), "abcdefg");
}

TEST_F(Base64Names, DerivedRepeatedAndConfinedNames) {
    const std::string unnamed = "--b\nContent-Transfer-Encoding: base64\n\n";
    // Two unnamed parts: the second replaces the first under the derived name.
    ASSERT_EQ(probeAndExtract(handler, "x.mime", unnamed + "Zmlyc3Q=\n" + unnamed + "c2Vjb25k\n"), 1);
    ASSERT_EQ(probeAndExtract(handler, "y.b64", unnamed + "d2h5\n"), 1);
    // A name from a header block without Base64 is not lent to the next part.
    ASSERT_EQ(probeAndExtract(handler, "z.mim", "--b\nContent-Type: text/plain; name=\"notes.txt\"\n\nplain\n" +
                                                    unnamed + "emVk\n"),
              1);
    std::string named;
    for (const char* name : {"../../up.bin", "/abs/root.bin", "dir\\sub\\deep.bin", "C:\\drive.bin", "..", "a/"}) {
        named += std::string("begin-base64 644 ") + name + "\nbmFtZWQ=\n====\n";
    }
    ASSERT_EQ(probeAndExtract(handler, "n.b64", named + "Content-Type: x; name=\"../mime.bin\"\n" + unnamed.substr(4) +
                                                    "bWltZQ==\n"),
              1);
    // ".." and "a/" leave nothing to name a file by: the derived name.
    EXPECT_EQ(testing_support::listFiles(host("\\out")),
              (std::vector<std::string>{"deep.bin", "drive.bin", "mime.bin", "n", "root.bin", "up.bin", "x.mime.b64dec",
                                        "y", "z.mim.b64dec"}));
    EXPECT_EQ(testing_support::listFiles(root()).size(), 13u);  // 4 in, 9 out, nothing elsewhere
    EXPECT_EQ(output("x.mime.b64dec"), "second");
    EXPECT_EQ(output("y"), "why");
    EXPECT_EQ(output("z.mim.b64dec"), "zed");
    EXPECT_EQ(output("n"), "named");
    EXPECT_EQ(output("mime.bin"), "mime");
}

}  // namespace
