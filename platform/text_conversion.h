// Conversion between the device's narrow code pages and UTF-16.
//
// The ANSI and OEM code pages are both code page 932 (Shift-JIS, the
// Windows-31J variant). CP_UTF8 is supported as well. A character that has no
// form in the target code page makes the whole conversion fail with
// ERROR_NO_UNICODE_TRANSLATION: callers treat that as unusable text, never as
// a silently changed one.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;

// Same contract as the device call: sourceLength -1 converts up to and
// including the terminating NUL; destinationCapacity 0 asks for the number of
// units needed. Returns the number of units written (or needed), 0 on failure
// (ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION,
// ERROR_INVALID_PARAMETER).
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        WCHAR* destination, int destinationCapacity);

// defaultChar and usedDefaultChar are accepted for the device's signature and
// ignored: an unmappable character fails the conversion.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* source, int sourceLength,
                        char* destination, int destinationCapacity, const char* defaultChar,
                        BOOL* usedDefaultChar);

// Host-side helpers for the entry point and the platform itself. Each returns
// false when the input is not valid in its encoding.
bool utf8ToUtf16(std::string_view utf8, std::u16string& out);
bool utf16ToUtf8(std::u16string_view utf16, std::string& out);

// Member names from archives never fail to convert. A name is read in the
// encoding it claims: CP_UTF8, or the OEM code page (932) for any other value.
// A name that is not valid UTF-8 although it claims to be (or that holds
// U+FFFD) is read as code page 932 instead. In code page 932 a byte, or a
// two-byte character, that has no form there (no mapping, or one that does
// not convert back to the same bytes) becomes U+FFFD followed by two
// upper-case hex digits per byte. A decode never yields U+FFFD, so the
// result is the same on every run and two different names never give the
// same text. Typed text (paths, passwords) keeps the strict conversions above.
std::u16string memberNameToUtf16(const char* name, UINT claimedCodePage = CP_OEMCP);
