// Text conversion: Shift-JIS (code page 932, Windows variant) for narrow
// text, UTF-8 for the host, and the Win32 buffer contract.
#include <gtest/gtest.h>

#include <string>

#include "platform/text_conversion.h"

namespace {

std::u16string toWide(UINT codePage, const std::string& narrow) {
    WCHAR wide[512];
    int n = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()), wide, 512);
    return n ? std::u16string(wide, static_cast<std::size_t>(n)) : u"<failed>";
}
std::string toNarrow(const std::u16string& wide) {
    char narrow[512];
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow, 512, nullptr, nullptr);
    return n ? std::string(narrow, static_cast<std::size_t>(n)) : "<failed>";
}

}  // namespace

TEST(TextConversion, ShiftJisRoundTripsBothWays) {
    std::string ascii, kana;
    std::u16string asciiWide, kanaWide;
    for (int b = 1; b < 0x80; ++b) ascii += static_cast<char>(b), asciiWide += static_cast<char16_t>(b);
    for (int b = 0xA1; b <= 0xDF; ++b) kana += static_cast<char>(b), kanaWide += static_cast<char16_t>(0xFF61 + b - 0xA1);
    const std::pair<std::string, std::u16string> cases[] = {
        {ascii, asciiWide},  // 0x5C stays a backslash and 0x7E a tilde: paths depend on it
        {kana, kanaWide},    // half-width katakana are single bytes
        // 0x83 0x5C is katakana SO; the 0x5C after it is a real backslash.
        {"\x83\x5C\x5C\x83\x5C", u"\u30BD\\\u30BD"},
        {"\x95\x5C\x94\x5C", u"\u8868\u80FD"},
        {"\x93\xFA\x96\x7B\x8C\xEA\x87\x40", u"\u65E5\u672C\u8A9E\u2460"},  // NEC row 13 too
        {"\x81\x60", u"\uFF5E"},                                             // the Windows tilde
    };
    for (const auto& [narrow, wide] : cases) {
        EXPECT_EQ(toWide(CP_ACP, narrow), wide);
        EXPECT_EQ(toNarrow(wide), narrow);
    }
    EXPECT_EQ(toWide(CP_OEMCP, "a\\b~c"), u"a\\b~c");
}

TEST(TextConversion, WhatHasNoFormFailsInsteadOfChanging) {
    for (std::string narrow : {"a\x81", "\x81\x20", "\xA0", "ok\xFF"}) {
        SetLastError(0);
        EXPECT_EQ(toWide(CP_ACP, narrow), u"<failed>") << narrow;
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    }
    // glibc maps the yen sign and the overline one way to 0x5C and 0x7E; a
    // yen sign in a name must not come out as a path separator.
    for (std::u16string wide : {u"a\u00A5b", u"\u203E", u"\u301C", u"\u20AC", u"x\U0001F600", u"\xD800"}) {
        SetLastError(0);
        EXPECT_EQ(toNarrow(wide), "<failed>");
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    }
}

TEST(TextConversion, Utf8IsStrict) {
    EXPECT_EQ(toWide(CP_UTF8, "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"), u"a\u00E9\u65E5\U0001F600");
    std::u16string wide;
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97", "\x80",
                            "\xC3\x28"})
        EXPECT_FALSE(utf8ToUtf16(bad, wide)) << bad;
    std::string utf8;
    for (std::u16string unpaired : {u"\xD83D", u"\xDE00", u"\xDE00\xD83D"}) EXPECT_FALSE(utf16ToUtf8(unpaired, utf8));
    EXPECT_TRUE(utf16ToUtf8(u"\U0001F600", utf8));
    EXPECT_EQ(utf8, "\xF0\x9F\x98\x80");
}
