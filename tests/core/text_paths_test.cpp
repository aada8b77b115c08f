// Narrow text stepping, member paths, output names and line reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/format_handler.h"
#include "core/member_output.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "tests/test_support.h"

using testing_support::DeviceSandbox;

namespace {

class NarrowPaths : public DeviceSandbox {};

std::string joined(const char* dest, const char* name, std::size_t capacity = 260) {
    char buffer[1024];
    if (!joinMemberPath(buffer, capacity, dest, name)) return "<refused>";
    return buffer;
}

}  // namespace

TEST(NarrowText, ExtensionOfStepsOverDoubleByteCharacters) {
    buildLeadTable();
    EXPECT_STREQ(extensionOf("a.tar.gz"), "gz");
    EXPECT_STREQ(extensionOf("dir.x\\file"), "");
    EXPECT_STREQ(extensionOf("\\.cshrc"), "cshrc");
    EXPECT_STREQ(extensionOf("dir.x/file"), "");
    // 0x83 0x5C is one character: its second byte is no separator, so the
    // dot before it still starts the extension.
    EXPECT_STREQ(extensionOf("a.\x83\x5C"), "\x83\x5C");
    // A lead byte at the very end must not step past the NUL.
    EXPECT_STREQ(extensionOf("a.b\x83"), "b\x83");
}

TEST(NarrowText, EqualsIgnoreCaseFoldsAsciiOnly) {
    EXPECT_TRUE(equalsIgnoreCase("TGZ", "tgz"));
    EXPECT_TRUE(equalsIgnoreCase("", ""));
    EXPECT_FALSE(equalsIgnoreCase("gz", "gzip"));
    EXPECT_FALSE(equalsIgnoreCase("", "a"));
    EXPECT_FALSE(equalsIgnoreCase("\xC0", "\xE0"));  // no folding beyond ASCII
}

TEST(NarrowText, LastCharOfIgnoresSecondBytes) {
    const char* path = "a\\\x83\x5C" "b";
    const char* last = lastCharOf(path, '\\');
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last, path + 1);
    EXPECT_EQ(lastCharOf("abc", '\\'), nullptr);
}

TEST(NarrowText, ConversionsRefuseWhatDoesNotFit) {
    WCHAR wide[4];
    EXPECT_EQ(toWide("abc", nullptr, 0), 4);
    EXPECT_EQ(toWide("abc", wide, 4), 1);
    EXPECT_EQ(toWide("abcd", wide, 4), 0);
    EXPECT_EQ(wide[0], 0);
    char narrow[3];
    EXPECT_EQ(toNarrow(u"\x30BD", narrow, 3), 1);  // katakana SO: 83 5C
    EXPECT_STREQ(narrow, "\x83\x5C");
    EXPECT_EQ(toNarrow(u"\x30BD" u"a", narrow, 3), 0);
    // A character with no Shift-JIS form is not silently replaced.
    char big[16];
    EXPECT_EQ(toNarrow(u"\xD83D\xDE00", big, sizeof big), 0);
}

TEST(MemberPaths, ConfineNamesToTheDestination) {
    EXPECT_EQ(joined("\\out", "a\\b.txt"), "\\out\\a\\b.txt");
    EXPECT_EQ(joined("\\out", "a/b.txt"), "\\out\\a\\b.txt");
    EXPECT_EQ(joined("\\out", "../x"), "\\out\\x");
    EXPECT_EQ(joined("\\out", "/abs/x"), "\\out\\abs\\x");
    EXPECT_EQ(joined("\\out", "\\\\server\\x"), "\\out\\server\\x");
    EXPECT_EQ(joined("\\out", "a/../../x"), "\\out\\x");
    EXPECT_EQ(joined("\\out", "a/b/../c"), "\\out\\a\\c");
    EXPECT_EQ(joined("\\out", "C:\\windows\\x"), "\\out\\windows\\x");
    EXPECT_EQ(joined("\\out", "./a/./b"), "\\out\\a\\b");
    EXPECT_EQ(joined("\\out", "dir/"), "\\out\\dir\\");
    EXPECT_EQ(joined("", "x"), "\\x");
    std::string chain;
    for (int i = 0; i < 40; ++i) chain += "../";
    EXPECT_EQ(joined("\\out", (chain + "etc/passwd").c_str()), "\\out\\etc\\passwd");
}

TEST(MemberPaths, RefuseEmptyAndOverlongNames) {
    EXPECT_EQ(joined("\\out", ""), "<refused>");
    EXPECT_EQ(joined("\\out", "../.."), "<refused>");
    EXPECT_EQ(joined("\\out", "a/.."), "<refused>");
    EXPECT_EQ(joined("\\out", "///"), "<refused>");
    std::string longName(300, 'n');
    EXPECT_EQ(joined("\\out", longName.c_str()), "<refused>");
    // Exactly at the limit: 259 bytes fit, 260 do not.
    std::string fits(259 - 5, 'f');
    EXPECT_EQ(joined("\\out", fits.c_str()).size(), 259u);
    EXPECT_EQ(joined("\\out", (fits + "g").c_str()), "<refused>");
}

TEST(MemberPaths, DoubleByteSecondBytesAreNotSeparators) {
    // 0x83 0x5C (katakana SO) ends in the byte of `\`; ".." after it must
    // remove the whole component, not half a character.
    EXPECT_EQ(joined("\\out", "\x83\x5C\\x"), "\\out\\\x83\x5C\\x");
    EXPECT_EQ(joined("\\out", "a\\\x83\x5C\\..\\x"), "\\out\\a\\x");
    EXPECT_EQ(joined("\\out", "\x83\x5C\x83\x5C\\..\\..\\x"), "\\out\\x");
}

TEST(MemberPaths, LastComponentOnlyAndMadeSafe) {
    char buffer[260];
    ASSERT_TRUE(joinLastComponent(buffer, sizeof buffer, "\\out", "../../etc/pass:wd"));
    EXPECT_STREQ(buffer, "\\out\\pass_wd");
    ASSERT_TRUE(joinLastComponent(buffer, sizeof buffer, "\\out", "dir\\\x83\x5C.txt"));
    EXPECT_STREQ(buffer, "\\out\\\x83\x5C.txt");
    EXPECT_FALSE(joinLastComponent(buffer, sizeof buffer, "\\out", "dir/"));
    EXPECT_FALSE(joinLastComponent(buffer, sizeof buffer, "\\out", ".."));
    EXPECT_FALSE(joinLastComponent(buffer, sizeof buffer, "\\out", ""));
}

TEST(OutputNames, DerivedFromTheArchiveName) {
    char buffer[260];
    EXPECT_STREQ(outputNameFor(buffer, sizeof buffer, "\\dir\\x.tar.gz", nullptr), "x.tar");
    EXPECT_STREQ(outputNameFor(buffer, sizeof buffer, "\\dir\\x.tar.gz", "ungzip"), "x.tar.gz.ungzip");
    EXPECT_STREQ(outputNameFor(buffer, sizeof buffer, "\\dir\\README", nullptr), "README");
    EXPECT_STREQ(outputNameFor(buffer, sizeof buffer, "/host/dir/data.Z", nullptr), "data");
    EXPECT_STREQ(outputNameFor(buffer, sizeof buffer, "d.x\\\x83\x5C" "a", nullptr), "\x83\x5C" "a");
    char small[8];
    EXPECT_EQ(outputNameFor(small, sizeof small, "\\dir\\longname", "ungzip"), nullptr);
    EXPECT_STREQ(small, "");
}

TEST_F(NarrowPaths, SanitizePathCreatesFoldersAndReplacesBadBytes) {
    std::string dest = "\\dest";
    std::string path = dest + "\\a/b:c.txt";
    char buffer[260];
    std::strcpy(buffer, path.c_str());
    sanitizePath(buffer);
    EXPECT_STREQ(buffer, "\\dest\\a\\b_c.txt");
    EXPECT_TRUE(testing_support::isDirectory(host("\\dest\\a")));
    EXPECT_FALSE(testing_support::fileExists(host("\\dest\\a\\b_c.txt")));

    std::strcpy(buffer, "\\dest\\t\tx\xFF\xB1.txt");
    sanitizePath(buffer);
    EXPECT_STREQ(buffer, "\\dest\\t_x_\xB1.txt");
}

TEST_F(NarrowPaths, ShiftJisNamesReachTheDiskAsUtf8) {
    char buffer[260];
    // 0x83 0x5C is katakana SO; it must create no folder at its second byte.
    std::strcpy(buffer, "\\\x83\x5C\\\x93\x57\x8A\x4A.txt");
    sanitizePath(buffer);
    EXPECT_STREQ(buffer, "\\\x83\x5C\\\x93\x57\x8A\x4A.txt");
    std::FILE* file = openNarrow(buffer, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("x", file);
    std::fclose(file);
    EXPECT_EQ(testing_support::readFile(root() + "/\u30bd/\u5c55\u958b.txt"), "x");
    EXPECT_EQ(testing_support::listFiles(root() + "/\u30bd").size(), 1u);
}

TEST_F(NarrowPaths, ReadLineEndings) {
    std::string hostPath = host("\\lines.txt");
    char buffer[16];
    auto open = [&](const std::string& content) {
        testing_support::writeFile(hostPath, content);
        return std::fopen(hostPath.c_str(), "rb");
    };

    std::FILE* file = open(std::string("a\rb\n"));
    EXPECT_STREQ(readLine(buffer, sizeof buffer, file), "a");
    EXPECT_STREQ(readLine(buffer, sizeof buffer, file), "b");
    EXPECT_EQ(readLine(buffer, sizeof buffer, file), nullptr);
    std::fclose(file);

    file = open(std::string("a\r"));
    EXPECT_EQ(readLine(buffer, sizeof buffer, file), nullptr);
    EXPECT_STREQ(buffer, "a");
    std::fclose(file);

    file = open(std::string("ab\r\ncd\0e\nlast", 13));
    EXPECT_STREQ(readLine(buffer, sizeof buffer, file), "ab");
    EXPECT_STREQ(readLine(buffer, sizeof buffer, file), "cd");  // a zero byte ends the line
    EXPECT_STREQ(readLine(buffer, sizeof buffer, file), "e");
    EXPECT_EQ(readLine(buffer, sizeof buffer, file), nullptr);
    EXPECT_STREQ(buffer, "last");
    std::fclose(file);

    // A line longer than the buffer comes back in pieces.
    file = open(std::string("0123456789\n"));
    EXPECT_STREQ(readLine(buffer, 5, file), "0123");
    EXPECT_STREQ(readLine(buffer, 5, file), "4567");
    EXPECT_STREQ(readLine(buffer, 5, file), "89");
    std::fclose(file);
}

// Member names that do not decode in code page 932 are written all the same,
// the bytes made visible; no two stored names give the same file name.
TEST_F(NarrowPaths, UndecodableMemberNamesAreWrittenUnderDistinctVisibleNames) {
    struct Case {
        const char* stored;
        std::string onDisk;
    };
    const Case cases[] = {
        {"\xA4\xA2.txt", "\xEF\xBD\xA4\xEF\xBD\xA2.txt"},                       // EUC-JP: half-width kana
        {"\xFF\xFE", "\xEF\xBF\xBD" "FF" "\xEF\xBF\xBD" "FE"},                   // nothing decodes
        {"\xFF\xFD", "\xEF\xBF\xBD" "FF" "\xEF\xBF\xBD" "FD"},                   // differs in one byte only
        {"a\x81/b", "a\xEF\xBF\xBD" "81" "\xEF\xBF\xBD" "2F" "b"},               // a bad pair never splits
        {"\xED\x40", "\xEF\xBF\xBD" "ED" "\xEF\xBF\xBD" "40"},                   // decodes but not back
    };
    testing_support::makeDirectories(host("\\out"));
    MemberOutput output("\\out", MemberNames::Sanitized);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_EQ(output.open(c.stored), MemberStart::Opened);
        ASSERT_TRUE(output.write(c.stored, std::strlen(c.stored)));
        ASSERT_TRUE(output.close(nullptr, nullptr, 0));
        EXPECT_EQ(testing_support::readFile(host("\\out\\") + c.onDisk), c.stored);
    }
    EXPECT_EQ(testing_support::listFiles(host("\\out")).size(), std::size(cases));
}
