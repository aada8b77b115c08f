#include <gtest/gtest.h>

#include <string>

#include "platform/text_conversion.h"

namespace {

std::u16string toWide(UINT codePage, const std::string& narrow) {
    int needed = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()),
                                     nullptr, 0);
    if (needed == 0) return u"<failed>";
    std::u16string wide(static_cast<std::size_t>(needed), u'\0');
    int written = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()),
                                      &wide[0], needed);
    EXPECT_EQ(written, needed);
    return wide;
}

std::string toNarrow(UINT codePage, const std::u16string& wide) {
    int needed = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    if (needed == 0) return "<failed>";
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    int written = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                      &narrow[0], needed, nullptr, nullptr);
    EXPECT_EQ(written, needed);
    return narrow;
}

void expectNarrowFails(const std::string& narrow) {
    SetLastError(0);
    WCHAR buffer[16];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()),
                                  buffer, 16),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()),
                                  nullptr, 0),
              0);
}

void expectWideFails(const std::u16string& wide) {
    SetLastError(0);
    char buffer[16];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), buffer,
                                  16, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace

TEST(ShiftJisText, AsciiIncludingBackslashAndTildeIsUnchangedBothWays) {
    std::string ascii;
    std::u16string expected;
    for (int byte = 1; byte < 0x80; ++byte) {
        ascii.push_back(static_cast<char>(byte));
        expected.push_back(static_cast<char16_t>(byte));
    }
    // A code page variant that read 0x5C as a yen sign would break every path.
    EXPECT_EQ(toWide(CP_ACP, ascii), expected);
    EXPECT_EQ(toNarrow(CP_ACP, expected), ascii);
    EXPECT_EQ(toWide(CP_OEMCP, "a\\b~c"), u"a\\b~c");
}

TEST(ShiftJisText, SecondByte5CBelongsToItsDoubleByteCharacter) {
    // 0x83 0x5C is katakana SO; the 0x5C after it is a real backslash.
    EXPECT_EQ(toWide(CP_ACP, "\x83\x5C\x5C\x83\x5C"), u"\u30BD\\\u30BD");
    EXPECT_EQ(toNarrow(CP_ACP, u"\u30BD\\\u30BD"), "\x83\x5C\x5C\x83\x5C");
    // Kanji with 0x5C second bytes as well (0x95 0x5C, 0x94 0x5C).
    EXPECT_EQ(toNarrow(CP_ACP, toWide(CP_ACP, "\x95\x5C\x94\x5C")), "\x95\x5C\x94\x5C");
}

TEST(ShiftJisText, HalfWidthKatakanaAreSingleBytes) {
    std::string narrow;
    std::u16string expected;
    for (int byte = 0xA1; byte <= 0xDF; ++byte) {
        narrow.push_back(static_cast<char>(byte));
        expected.push_back(static_cast<char16_t>(0xFF61 + (byte - 0xA1)));
    }
    EXPECT_EQ(toWide(CP_ACP, narrow), expected);
    EXPECT_EQ(toNarrow(CP_ACP, expected), narrow);
}

TEST(ShiftJisText, KanjiAndWindowsExtensionsRoundTrip) {
    // "日本語" and the circled digit one of the NEC row 13.
    EXPECT_EQ(toWide(CP_ACP, "\x93\xFA\x96\x7B\x8C\xEA\x87\x40"), u"\u65E5\u672C\u8A9E\u2460");
    EXPECT_EQ(toNarrow(CP_ACP, u"\u65E5\u672C\u8A9E\u2460"), "\x93\xFA\x96\x7B\x8C\xEA\x87\x40");
    // The Windows variant maps 0x81 0x60 to the full-width tilde.
    EXPECT_EQ(toWide(CP_ACP, "\x81\x60"), u"\uFF5E");
}

TEST(ShiftJisText, InvalidNarrowSequencesFail) {
    expectNarrowFails("a\x81");      // lead byte cut off by the length
    expectNarrowFails("\x81\x20");   // second byte out of range
    expectNarrowFails("\xA0");       // unassigned single byte
    expectNarrowFails("\xFD");
    expectNarrowFails("ok\xFF");
}

TEST(ShiftJisText, UnmappableWideCharactersFailInsteadOfChanging) {
    // glibc maps the yen sign and the overline one way to 0x5C and 0x7E; a
    // yen sign in a name must not come out as a path separator.
    expectWideFails(u"a\u00A5b");
    expectWideFails(u"\u203E");
    expectWideFails(u"\u301C");          // wave dash, only its full-width twin exists
    expectWideFails(u"\u20AC");          // euro sign
    expectWideFails(u"x\U0001F600");     // outside the code page
    expectWideFails(std::u16string(1, static_cast<char16_t>(0xD800)));  // lone surrogate
}

TEST(TextConversionContract, MinusOneLengthIncludesTheTerminator) {
    const char* narrow = "\x83\x5C" "a";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0), 3);
    WCHAR wide[3];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 3), 3);
    EXPECT_EQ(std::u16string(wide, 3), std::u16string(u"\u30BDa\0", 3));

    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BDa", -1, nullptr, 0, nullptr, nullptr), 4);
    char back[4];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BDa", -1, back, 4, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(back, 4), std::string("\x83\x5C" "a\0", 4));
}

TEST(TextConversionContract, ExplicitLengthAddsNoTerminatorAndKeepsEmbeddedNul) {
    WCHAR wide[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\0c", 4, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide, 5), std::u16string(u"ab\0c#", 5));
}

TEST(TextConversionContract, TooSmallBufferFailsWithoutOverrun) {
    WCHAR wide[4] = {u'#', u'#', u'#', u'#'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wide[3], u'#');

    char narrow[4] = {'#', '#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u30BD\u30BD", -1, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(narrow[3], '#');
}

TEST(Utf8Text, SupplementaryCharactersBecomeSurrogatePairs) {
    EXPECT_EQ(toWide(CP_UTF8, "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"), u"a\u00E9\u65E5\U0001F600");
    EXPECT_EQ(toNarrow(CP_UTF8, u"a\u00E9\u65E5\U0001F600"), "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST(Utf8Text, MalformedUtf8IsRejected) {
    std::u16string out;
    EXPECT_FALSE(utf8ToUtf16("\xC0\xAF", out));            // overlong '/'
    EXPECT_FALSE(utf8ToUtf16("\xE0\x80\xAF", out));        // overlong '/'
    EXPECT_FALSE(utf8ToUtf16("\xED\xA0\x80", out));        // encoded surrogate
    EXPECT_FALSE(utf8ToUtf16("\xF4\x90\x80\x80", out));    // above U+10FFFF
    EXPECT_FALSE(utf8ToUtf16("\xE6\x97", out));            // truncated
    EXPECT_FALSE(utf8ToUtf16("\x80", out));                // stray continuation
    EXPECT_FALSE(utf8ToUtf16("\xC3\x28", out));            // bad continuation
    EXPECT_TRUE(utf8ToUtf16("\xEF\xBF\xBF", out));
    EXPECT_EQ(out, u"\uFFFF");
    WCHAR wide[4];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC0\xAF", 2, wide, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(Utf8Text, UnpairedSurrogatesAreRejected) {
    std::string out;
    EXPECT_FALSE(utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD83D)), out));
    EXPECT_FALSE(utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xDE00)), out));
    std::u16string reversed = {static_cast<char16_t>(0xDE00), static_cast<char16_t>(0xD83D)};
    EXPECT_FALSE(utf16ToUtf8(reversed, out));
    EXPECT_TRUE(utf16ToUtf8(u"\U0001F600", out));
    EXPECT_EQ(out, "\xF0\x9F\x98\x80");
}
