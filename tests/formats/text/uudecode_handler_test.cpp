// Fixtures: tests/fixtures/make-text-fixtures.sh (uuencode, uuenview -u and
// -x, single and multi-part; their decoding through the program is in
// tests/fixtures/text/manifest.tsv). Damaged and hostile files are written
// here around the fixtures' data lines.
#include <sys/stat.h>

#include <string>

#include "formats/stream/uudecode_handler.h"
#include "tests/formats/text/text_sandbox.h"

namespace {

using text_testing::isPrefixOf;
using text_testing::sameBytes;

class UuTest : public text_testing::TextSandbox {
protected:
    std::string uuFile(const std::string& name) const { return "begin 644 " + name + "\n" + sampleLines + "end\n"; }
    UuDecodeHandler handler;
    const std::string sample = textFixture("sample.bin");
    const std::string sampleLines = dataLines("uuencode.uue", "end");  // '`' line included
};
using UuDecoding = UuTest;
using UuProbe = UuTest;
using UuFailures = UuTest;

// In XX, '+' counts 0 and the 'e' of "end" is a data character (42): the
// data ends at the "end" line only, with or without a zero-count line
// before it, and never by decoding "end".
TEST_F(UuDecoding, XxDataEndsAtTheEndLineOnly) {
    XxDecodeHandler xx;
    const std::string lines = dataLines("uuenview.xxe", "+");
    ASSERT_EQ(probeAndExtract(xx, "a.xxe", "begin 644 a.bin\n" + lines + "+\nend\n"), 1);
    ASSERT_EQ(probeAndExtract(xx, "b.XX", "begin 644 b.bin\n" + lines + "end\nhA3i\n"), 1);
    ASSERT_EQ(probeAndExtract(xx, "c.xxe", "begin 644 ../c.bin\n" + lines + "+\n\ngarbage\n" + lines + "end"), 1);
    EXPECT_EQ(probeAndExtract(xx, "d.xxe", "begin 644 d.bin\n" + lines), 0);  // no "end"
    EXPECT_EQ(outputs(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "d.bin"}));
    for (const char* name : {"a.bin", "b.bin", "d.bin"}) EXPECT_TRUE(sameBytes(output(name), sample)) << name;
    EXPECT_TRUE(sameBytes(output("c.bin"), sample + sample));
    for (const char* name : {"x.uue", "x.xe", "x.xxx"}) EXPECT_FALSE(probeAs(xx, name, "begin 644 a\n" + lines)) << name;
}

TEST_F(UuDecoding, ShortLinesCountTheirMissingCharactersAsZero) {
    // The second line promises 45 bytes but carries 8 characters; the
    // longer line before it must not lend it its bytes.
    ASSERT_EQ(probeAndExtract(handler, "s.uue", "begin 644 short\n" + sampleLines.substr(0, 62) + "M86)C9&5F\n`\nend"), 1);
    EXPECT_TRUE(sameBytes(output("short"), sample.substr(0, 45) + "abcdef" + std::string(39, '\0')));
}

TEST_F(UuDecoding, BeginLineNamesAreConfinedAndEmptyOnesDerived) {
    ASSERT_EQ(probeAndExtract(handler, "x.uue", "begin 644\n#86)C\n`\nend\n"), 1);
    ASSERT_EQ(probeAndExtract(handler, "p.uue", uuFile("../../etc/passwd")), 1);
    ASSERT_EQ(probeAndExtract(handler, "q.uue", uuFile("\\abs\\dir\\q.txt")), 1);
    ASSERT_EQ(probeAndExtract(handler, "r.uu", uuFile("..")), 1);
    EXPECT_EQ(testing_support::listFiles(host("\\out")), (std::vector<std::string>{"passwd", "q.txt", "r", "x"}));
    EXPECT_EQ(testing_support::listFiles(root()).size(), 8u);  // 4 in, 4 out, nothing elsewhere
    EXPECT_EQ(output("x"), "abc");
    EXPECT_TRUE(sameBytes(output("passwd"), sample));
}

TEST_F(UuProbe, ExtensionLettersAndABeginLineInTheFirstMebibyte) {
    const std::string text = textFixture("uuencode.uue");
    for (const char* name : {"x.uue", "x.UU", "x.uUe", "x.UUEX"}) EXPECT_TRUE(probeAs(handler, name, text)) << name;
    for (const char* name : {"x.u", "x.txt", "x.xxe", "x.uux", "x"}) EXPECT_FALSE(probeAs(handler, name, text)) << name;
    EXPECT_TRUE(probeAs(handler, "x.uue", "preamble\r" + text));
    EXPECT_FALSE(probeAs(handler, "x.uue", "BEGIN 644 a\n" + sampleLines));
    EXPECT_FALSE(probeAs(handler, "x.uue", std::string("\0\n", 2) + text));
    EXPECT_FALSE(probeAs(handler, "x.uue", "begin 644 a\n"));  // 12 bytes
    EXPECT_FALSE(probeAs(handler, "x.uue", std::string(kSniffBufferSize, '\n') + text));
    EXPECT_FALSE(handler.matchesExtension("uue"));
}

TEST_F(UuFailures, MissingBeginEndOrOutputFailsAndKeepsWhatWasDecoded) {
    const std::string whole = uuFile("cut.bin");
    const std::string cut = whole.substr(0, whole.find('\n', whole.size() / 2) + 1);
    EXPECT_EQ(handler.extract(place("none.uue", sampleLines).c_str(), "\\out"), 0);
    EXPECT_EQ(handler.extract(place("last.uue", "text\nbegin 644 last.bin").c_str(), "\\out"), 0);
    // "begin-base64" is not the start of UU data.
    EXPECT_EQ(handler.extract(place("b64.uue", textFixture("begin-base64.b64")).c_str(), "\\out"), 0);
    EXPECT_EQ(handler.extract(place("cut.uue", cut).c_str(), "\\out"), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"cut.bin"});
    EXPECT_GT(output("cut.bin").size(), 1000u);
    EXPECT_TRUE(isPrefixOf(output("cut.bin"), sample));

    testing_support::writeFile(host("\\out\\ro"), "keep me");
    ASSERT_EQ(chmod(host("\\out\\ro").c_str(), 0444), 0);
    EXPECT_EQ(handler.extract(place("ro.uue", uuFile("ro")).c_str(), "\\out"), 0);
    EXPECT_EQ(output("ro"), "keep me");
    // The output would truncate the input it is read from.
    EXPECT_EQ(handler.extract(place("self.uue", uuFile("self.uue")).c_str(), "\\in"), 0);
    EXPECT_EQ(testing_support::readFile(host("\\in\\self.uue")), uuFile("self.uue"));
}

}  // namespace
