// Fixtures: tests/fixtures/make-text-fixtures.sh (uuencode, uuenview -u and
// -x, single and multi-part; their decoding through the program is in
// tests/fixtures/text/manifest.tsv). Damaged and hostile files are written
// here around the fixtures' data lines.
#include <sys/stat.h>

#include <string>

#include "formats/stream/base64_handler.h"
#include "formats/stream/uudecode_handler.h"
#include "formats/stream/yenc_handler.h"
#include "tests/formats/text/text_sandbox.h"

namespace {

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
    ASSERT_EQ(probeAndExtract(handler, "r.uu", uuFile("..")), 1);
    EXPECT_EQ(testing_support::listFiles(host("\\out")), (std::vector<std::string>{"passwd", "r", "x"}));
    EXPECT_EQ(testing_support::listFiles(root()).size(), 6u);  // 3 in, 3 out, nothing elsewhere
    EXPECT_EQ(output("x"), "abc");
    EXPECT_TRUE(sameBytes(output("passwd"), sample));
}

// The three text decoders: which names and first bytes each claims.
TEST_F(UuProbe, EachDecoderWantsItsExtensionAndAStartInTheFirstMebibyte) {
    Base64Handler base64;
    YencHandler yenc;
    const std::string uu = textFixture("uuencode.uue"), b64 = textFixture("begin-base64.b64");
    std::string preamble;
    for (int i = 0; i < 99; ++i) preamble += "preamble\n";
    const struct { FormatHandler& handler; const char* name; std::string text; bool claimed; } cases[] = {
        {handler, "x.uUe", uu, true}, {handler, "x.UUEX", uu, true}, {handler, "x.u", uu, false},
        {handler, "x.xxe", uu, false}, {handler, "x", uu, false}, {handler, "x.uue", "preamble\r" + uu, true},
        {handler, "x.uue", "BEGIN 644 a\n" + sampleLines, false}, {handler, "x.uue", "begin 644 a\n", false},
        {handler, "x.uue", std::string("\0\n", 2) + uu, false},
        {handler, "x.uue", std::string(kSniffBufferSize, '\n') + uu, false}, {base64, "a.B64", b64, true},
        {base64, "a.MIME", b64, true}, {base64, "a.b64x", b64, false}, {base64, "a", b64, false},
        {base64, "early.b64", preamble + b64, true}, {base64, "late.b64", "one more\n" + preamble + b64, false},
        {yenc, "x", "=ybegin line=128  size=1  name=a\n", true}, {yenc, "x", "text\r\n=ybegin name=a.bin\n", true},
        {yenc, "x", "=ybegin line=128 size=1\nname=a\n", false}, {yenc, "x", "=ybegin name=a", false},
        {yenc, "x", "x=ybegin name=abcdef\n", false},
        {yenc, "x", std::string("\0\n=ybegin name=abcdef\n", 23), false},
    };
    for (const auto& c : cases) {
        place(c.name, c.text);
        EXPECT_EQ(probeAs(c.handler, c.name, c.text), c.claimed) << c.name << ": " << c.text.substr(0, 40);
    }
    EXPECT_TRUE(yenc.matchesExtension("NTX"));
    EXPECT_FALSE(yenc.matchesExtension("yenc"));
}

// An output that cannot be created (read-only, or a name too long) fails the
// file, but the parts after it still decode (UU data has one part a file).
TEST_F(UuFailures, AnOutputThatCannotBeCreatedFailsButLaterPartsDecode) {
    Base64Handler base64;
    YencHandler yenc;
    auto yencBlock = [&](const std::string& name) {
        return "=ybegin line=128 size=3000 name=" + name + "\n" + dataLines("uuenview.ntx", "=yend") +
               "=yend size=3000 crc32=40747cec\n";
    };
    const struct { FormatHandler& handler; const char* name; std::string text; std::string after; } cases[] = {
        {handler, "f.uue", uuFile("locked"), ""},
        {base64, "f.b64", "begin-base64 644 locked\nbG9zdA==\nbegin-base64 644 " + std::string(300, 'n') +
                              "\nbG9uZw==\nbegin-base64 644 after\na2VwdA==\n", "kept"},
        {yenc, "f.ntx", yencBlock("locked") + yencBlock(std::string(300, 'n')) + yencBlock("after"), sample},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::runShell("rm -rf '" + root() + "/out'/*");
        testing_support::writeFile(host("\\out\\locked"), "keep me");
        ASSERT_EQ(chmod(host("\\out\\locked").c_str(), 0444), 0);
        EXPECT_EQ(probeAndExtract(c.handler, c.name, c.text), 0);
        EXPECT_EQ(outputs().size(), c.after.empty() ? 1u : 2u);
        EXPECT_EQ(output("locked"), "keep me");
        EXPECT_TRUE(sameBytes(output("after"), c.after));
    }
}

TEST_F(UuFailures, MissingBeginEndOrOutputFailsAndKeepsWhatWasDecoded) {
    EXPECT_EQ(handler.extract(place("none.uue", sampleLines).c_str(), "\\out"), 0);
    EXPECT_EQ(handler.extract(place("last.uue", "text\nbegin 644 last.bin").c_str(), "\\out"), 0);
    // "begin-base64" is not the start of UU data.
    EXPECT_EQ(handler.extract(place("b64.uue", textFixture("begin-base64.b64")).c_str(), "\\out"), 0);
    EXPECT_TRUE(outputs().empty());

    // The output would truncate the input it is read from.
    EXPECT_EQ(handler.extract(place("self.uue", uuFile("self.uue")).c_str(), "\\in"), 0);
    EXPECT_EQ(testing_support::readFile(host("\\in\\self.uue")), uuFile("self.uue"));
}

}  // namespace
