// Narrow text stepping, member paths and line reading. Bytes
// 83 5C are katakana SO in Shift-JIS: a character whose second byte is `\`.
#include <cstdio>
#include <cstring>

#include "core/format_handler.h"
#include "core/member_output.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "tests/test_support.h"

using testing_support::DeviceSandbox;

namespace {

class NarrowPaths : public DeviceSandbox {};

struct Pair {
    const char* in;
    const char* out;
};

}  // namespace

TEST(NarrowText, StepsOverDoubleByteCharacters) {
    buildLeadTable();
    for (const Pair& c : {Pair{"a.tar.gz", "gz"}, {"dir.x\\file", ""}, {"\\.cshrc", "cshrc"}, {"dir.x/file", ""},
                          {"a.\x83\x5C", "\x83\x5C"}, {"a.b\x83", "b\x83"}}) {
        EXPECT_STREQ(extensionOf(c.in), c.out) << c.in;
    }
    const char* path = "a\\\x83\x5C" "b";
    EXPECT_EQ(lastCharOf(path, '\\'), path + 1);
    EXPECT_EQ(lastCharOf("abc", '\\'), nullptr);
    EXPECT_TRUE(equalsIgnoreCase("TGZ", "tgz"));
    EXPECT_FALSE(equalsIgnoreCase("gz", "gzip"));
    EXPECT_FALSE(equalsIgnoreCase("\xC0", "\xE0"));  // no folding beyond ASCII
    EXPECT_TRUE(equalsIgnoreCase(u"PocketPC", u"POCKETpc"));
}

TEST(NarrowText, ConversionsRefuseWhatDoesNotFit) {
    WCHAR wide[4];
    EXPECT_EQ(toWide("abc", nullptr, 0), 4);
    EXPECT_EQ(toWide("abc", wide, 4), 1);
    EXPECT_EQ(toWide("abcd", wide, 4), 0);
    EXPECT_EQ(wide[0], 0);
    char narrow[3];
    EXPECT_EQ(toNarrow(u"\x30BD", narrow, 3), 1);
    EXPECT_STREQ(narrow, "\x83\x5C");
    EXPECT_EQ(toNarrow(u"\x30BD" u"a", narrow, 3), 0);
    char big[16];
    EXPECT_EQ(toNarrow(u"\xD83D\xDE00", big, sizeof big), 0);  // no Shift-JIS form: not replaced
}

TEST(MemberPaths, ConfineNamesToTheDestination) {
    std::string chain;
    for (int i = 0; i < 40; ++i) chain += "../";
    const std::string fits(254, 'f');  // "\out\" and 254 bytes: 259, the most a path holds
    const std::string deep = chain + "etc/passwd", tooLong = fits + "g", longName(300, 'n');
    for (const Pair& c : {Pair{"a\\b.txt", "\\out\\a\\b.txt"}, {"a/b.txt", "\\out\\a\\b.txt"}, {"../x", "\\out\\x"},
                          {"/abs/x", "\\out\\abs\\x"}, {"\\\\server\\x", "\\out\\server\\x"},
                          {"a/../../x", "\\out\\x"}, {"a/b/../c", "\\out\\a\\c"}, {"C:\\windows\\x", "\\out\\windows\\x"},
                          {"./a/./b", "\\out\\a\\b"}, {"dir/", "\\out\\dir\\"}, {deep.c_str(), "\\out\\etc\\passwd"},
                          {"\x83\x5C\\x", "\\out\\\x83\x5C\\x"}, {"a\\\x83\x5C\\..\\x", "\\out\\a\\x"},
                          {"\x83\x5C\x83\x5C\\..\\..\\x", "\\out\\x"}, {"", nullptr}, {"../..", nullptr},
                          {"a/..", nullptr}, {"///", nullptr}, {longName.c_str(), nullptr}, {tooLong.c_str(), nullptr}}) {
        char buffer[1024];
        const bool joined = joinMemberPath(buffer, 260, "\\out", c.in);
        EXPECT_EQ(joined ? std::string(buffer) : "<refused>", c.out ? c.out : "<refused>") << c.in;
    }
    char buffer[260];
    ASSERT_TRUE(joinMemberPath(buffer, sizeof buffer, "\\out", fits.c_str()));
    EXPECT_EQ(std::strlen(buffer), 259u);
    ASSERT_TRUE(joinMemberPath(buffer, sizeof buffer, "", "x"));
    EXPECT_STREQ(buffer, "\\x");
}

TEST(MemberPaths, LastComponentOnlyAndMadeSafe) {
    for (const Pair& c : {Pair{"../../etc/pass:wd", "\\out\\pass_wd"}, {"dir\\\x83\x5C.txt", "\\out\\\x83\x5C.txt"},
                          {"dir/", nullptr}, {"..", nullptr}, {"", nullptr}}) {
        char buffer[260];
        const bool joined = joinLastComponent(buffer, sizeof buffer, "\\out", c.in);
        EXPECT_EQ(joined ? std::string(buffer) : "<refused>", c.out ? c.out : "<refused>") << c.in;
    }
}

TEST_F(NarrowPaths, SanitizePathMakesFoldersAndSafeNamesThatReachTheDiskAsUtf8) {
    char buffer[260];
    std::strcpy(buffer, "\\dest\\a/b:c.txt");
    EXPECT_STREQ(sanitizePath(buffer), "\\dest\\a\\b_c.txt");
    EXPECT_TRUE(testing_support::isDirectory(host("\\dest\\a")));
    EXPECT_FALSE(testing_support::fileExists(host("\\dest\\a\\b_c.txt")));
    std::strcpy(buffer, "\\dest\\t\tx\xFF\xB1.txt");
    EXPECT_STREQ(sanitizePath(buffer), "\\dest\\t_x_\xB1.txt");
    // No folder is made at the second byte of 83 5C.
    std::strcpy(buffer, "\\\x83\x5C\\\x93\x57\x8A\x4A.txt");
    EXPECT_STREQ(sanitizePath(buffer), "\\\x83\x5C\\\x93\x57\x8A\x4A.txt");
    std::FILE* file = openNarrow(buffer, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("x", file);
    std::fclose(file);
    EXPECT_EQ(testing_support::listFiles(root() + "/\u30bd"), std::vector<std::string>{"\u5c55\u958b.txt"});
}

TEST_F(NarrowPaths, ReadLineEndings) {
    struct Case {
        std::string content;
        int size;
        std::vector<const char*> lines;  // the last one is what the final, null read left
    };
    const Case cases[] = {
        {"a\rb\n", 16, {"a", "b", ""}},
        {"a\r", 16, {"a"}},
        {std::string("ab\r\ncd\0e\nlast", 13), 16, {"ab", "cd", "e", "last"}},  // a zero byte ends the line
        {"0123456789\n", 5, {"0123", "4567", "89", ""}},                         // pieces of a long line
    };
    for (const Case& c : cases) {
        testing_support::writeFile(host("\\lines.txt"), c.content);
        std::FILE* file = std::fopen(host("\\lines.txt").c_str(), "rb");
        char buffer[16];
        for (std::size_t i = 0; i + 1 < c.lines.size(); ++i) EXPECT_STREQ(readLine(buffer, c.size, file), c.lines[i]);
        EXPECT_EQ(readLine(buffer, c.size, file), nullptr);
        EXPECT_STREQ(buffer, c.lines.back());
        std::fclose(file);
    }
}

// Member names that do not decode in code page 932 are written all the same,
// the bytes made visible; no two stored names give the same file name.
TEST_F(NarrowPaths, UndecodableMemberNamesAreWrittenUnderDistinctVisibleNames) {
    const Pair cases[] = {
        {"\xA4\xA2.txt", "\xEF\xBD\xA4\xEF\xBD\xA2.txt"},          // EUC-JP: half-width kana
        {"\xFF\xFE", "\xEF\xBF\xBD" "FF" "\xEF\xBF\xBD" "FE"},      // nothing decodes
        {"\xFF\xFD", "\xEF\xBF\xBD" "FF" "\xEF\xBF\xBD" "FD"},      // differs in one byte only
        {"a\x81/b", "a\xEF\xBF\xBD" "81/b"},                      // a lone lead byte keeps the separator
        {"a\x85\\b", "a\xEF\xBF\xBD" "85" "\xEF\xBF\xBD" "5C" "b"}, // a bad pair never splits
        {"\xED\x40", "\xEF\xBF\xBD" "ED" "\xEF\xBF\xBD" "40"},      // decodes but not back
    };
    testing_support::makeDirectories(host("\\out"));
    MemberOutput output("\\out", MemberNames::Sanitized);
    for (const Pair& c : cases) {
        ASSERT_EQ(output.open(c.in), MemberStart::Opened) << c.in;
        ASSERT_TRUE(output.write(c.in, std::strlen(c.in)));
        ASSERT_TRUE(output.close(nullptr, nullptr, 0));
        EXPECT_EQ(testing_support::readFile(host("\\out\\") + c.out), c.in);
    }
    EXPECT_EQ(outputs().size(), std::size(cases));
}
