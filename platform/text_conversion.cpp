#include "platform/text_conversion.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr UINT kShiftJisCodePage = 932;

// One pair of descriptors per thread: iconv_t carries conversion state and
// must not be shared, and opening one costs far more than a path conversion.
struct ShiftJisConverters {
    iconv_t toUtf16 = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUtf16 = reinterpret_cast<iconv_t>(-1);
    bool opened = false;

    ~ShiftJisConverters() {
        if (toUtf16 != reinterpret_cast<iconv_t>(-1)) iconv_close(toUtf16);
        if (fromUtf16 != reinterpret_cast<iconv_t>(-1)) iconv_close(fromUtf16);
    }

    bool ready() {
        if (!opened) {
            opened = true;
            toUtf16 = iconv_open("UTF-16LE", "CP932");
            fromUtf16 = iconv_open("CP932", "UTF-16LE");
        }
        return toUtf16 != reinterpret_cast<iconv_t>(-1) &&
               fromUtf16 != reinterpret_cast<iconv_t>(-1);
    }
};

thread_local ShiftJisConverters shiftJis;

bool isShiftJis(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == kShiftJisCodePage;
}

bool isSupported(UINT codePage) { return isShiftJis(codePage) || codePage == CP_UTF8; }

// Runs one complete conversion; false on any invalid, unmappable or
// incomplete sequence. The output grows until everything fits.
bool runIconv(iconv_t descriptor, const char* input, std::size_t inputLength,
              std::vector<char>& output, std::size_t initialCapacity) {
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    output.resize(initialCapacity + 16);
    // iconv takes char** for its input but never writes through it.
    char* in = const_cast<char*>(input);
    std::size_t inLeft = inputLength;
    std::size_t produced = 0;
    for (;;) {
        char* out = output.data() + produced;
        std::size_t outLeft = output.size() - produced;
        std::size_t result = iconv(descriptor, &in, &inLeft, &out, &outLeft);
        produced = static_cast<std::size_t>(out - output.data());
        if (result != static_cast<std::size_t>(-1)) {
            // glibc counts characters converted irreversibly; the device never
            // substitutes, so any such character is a failure.
            if (result != 0) return false;
            break;
        }
        if (errno != E2BIG) return false;
        output.resize(output.size() * 2);
    }
    // Flush any shift state (none for these encodings, but cheap to be sure).
    char* out = output.data() + produced;
    std::size_t outLeft = output.size() - produced;
    if (iconv(descriptor, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1))
        return false;
    produced = static_cast<std::size_t>(out - output.data());
    output.resize(produced);
    return true;
}

bool shiftJisToUtf16(const char* source, std::size_t length, std::u16string& out) {
    out.clear();
    bool ascii = true;
    for (std::size_t i = 0; i < length && ascii; ++i)
        ascii = static_cast<unsigned char>(source[i]) < 0x80;
    if (ascii) {
        // Code page 932 keeps all of ASCII, 0x5C and 0x7E included.
        out.assign(source, source + length);
        return true;
    }
    if (!shiftJis.ready()) return false;
    std::vector<char> bytes;
    if (!runIconv(shiftJis.toUtf16, source, length, bytes, length * 2)) return false;
    out.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return true;
}

bool utf16ToShiftJis(const WCHAR* source, std::size_t length, std::string& out) {
    out.clear();
    bool ascii = true;
    for (std::size_t i = 0; i < length && ascii; ++i) ascii = source[i] < 0x80;
    if (ascii) {
        out.reserve(length);
        for (std::size_t i = 0; i < length; ++i) out.push_back(static_cast<char>(source[i]));
        return true;
    }
    if (!shiftJis.ready()) return false;
    std::vector<char> littleEndian(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        littleEndian[2 * i] = static_cast<char>(source[i] & 0xFF);
        littleEndian[2 * i + 1] = static_cast<char>(source[i] >> 8);
    }
    std::vector<char> bytes;
    if (!runIconv(shiftJis.fromUtf16, littleEndian.data(), littleEndian.size(), bytes,
                  length * 2))
        return false;
    out.assign(bytes.begin(), bytes.end());
    // glibc maps a few characters one way only (U+00A5 yen to 0x5C, U+203E
    // overline to 0x7E). Turning a yen sign into a path separator would be a
    // silently changed - and dangerous - name, so the result must decode back
    // to exactly the text we were given.
    std::u16string back;
    if (!shiftJisToUtf16(out.data(), out.size(), back)) return false;
    return back.size() == length && std::memcmp(back.data(), source, length * 2) == 0;
}

}  // namespace

bool utf8ToUtf16(std::string_view utf8, std::u16string& out) {
    out.clear();
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* end = p + utf8.size();
    while (p < end) {
        unsigned char lead = *p;
        if (lead < 0x80) {
            out.push_back(lead);
            ++p;
            continue;
        }
        int trail;
        char32_t code;
        char32_t minimum;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3, code = lead & 0x07, minimum = 0x10000;
        } else {
            return false;  // continuation byte, overlong two-byte lead, or beyond U+10FFFF
        }
        if (end - p <= trail) return false;
        for (int i = 1; i <= trail; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        // Overlong forms and encoded surrogates would let two byte strings
        // name the same file.
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        p += trail + 1;
    }
    return true;
}

bool utf16ToUtf8(std::u16string_view utf16, std::string& out) {
    out.clear();
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return true;
}

namespace {

// The device calls' result contract: with no capacity the units needed,
// otherwise the units written, or 0 and ERROR_INSUFFICIENT_BUFFER when they
// do not fit.
template <typename Unit>
int deliverConverted(const std::basic_string<Unit>& converted, Unit* destination,
                     int destinationCapacity) {
    if (converted.size() > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    int needed = static_cast<int>(converted.size());
    if (destinationCapacity == 0) return needed;
    if (needed > destinationCapacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(destination, converted.data(), converted.size() * sizeof(Unit));
    return needed;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        WCHAR* destination, int destinationCapacity) {
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationCapacity < 0 ||
        (destinationCapacity > 0 && !destination) || !isSupported(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length =
        sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    std::u16string converted;
    bool ok = codePage == CP_UTF8 ? utf8ToUtf16(std::string_view(source, length), converted)
                                  : shiftJisToUtf16(source, length, converted);
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return deliverConverted(converted, destination, destinationCapacity);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* source, int sourceLength,
                        char* destination, int destinationCapacity, const char* defaultChar,
                        BOOL* usedDefaultChar) {
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationCapacity < 0 ||
        (destinationCapacity > 0 && !destination) || !isSupported(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length =
        sourceLength == -1 ? wideLength(source) + 1 : static_cast<std::size_t>(sourceLength);
    std::string converted;
    bool ok = codePage == CP_UTF8 ? utf16ToUtf8(std::u16string_view(source, length), converted)
                                  : utf16ToShiftJis(source, length, converted);
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return deliverConverted(converted, destination, destinationCapacity);
}

namespace {

// Bytes that decode to text which converts back to exactly those bytes.
bool decodesExactly(const char* bytes, std::size_t length, std::u16string& text) {
    std::string back;
    return shiftJisToUtf16(bytes, length, text) && utf16ToShiftJis(text.data(), text.size(), back) &&
           back.size() == length && std::memcmp(back.data(), bytes, length) == 0;
}

}  // namespace

std::u16string memberNameToUtf16(const char* name, UINT claimedCodePage) {
    std::u16string out;
    if (claimedCodePage == CP_UTF8 && utf8ToUtf16(name, out) && out.find(u'\uFFFD') == std::u16string::npos) {
        return out;
    }
    const char* narrow = name;  // code page 932 from here on
    const std::size_t length = std::strlen(narrow);
    if (decodesExactly(narrow, length, out)) return out;
    // Character by character. A lead byte takes the byte after it along when
    // that byte can be a second byte (0x5C among them, so a double-byte
    // character never yields a separator); otherwise the lead byte stands
    // alone and the byte after it (a dot, a separator) keeps its meaning.
    out.clear();
    static const char kHex[] = "0123456789ABCDEF";
    std::u16string unit;
    for (std::size_t i = 0; i < length;) {
        const auto byte = static_cast<unsigned char>(narrow[i]);
        const auto next = static_cast<unsigned char>(i + 1 < length ? narrow[i + 1] : 0);
        const bool lead = ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) &&
                          ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC));
        const std::size_t size = lead ? 2 : 1;
        if (decodesExactly(narrow + i, size, unit)) {
            out += unit;
        } else {
            for (std::size_t k = 0; k < size; ++k) {
                const auto escaped = static_cast<unsigned char>(narrow[i + k]);
                out += u'\uFFFD';
                out += static_cast<char16_t>(kHex[escaped >> 4]);
                out += static_cast<char16_t>(kHex[escaped & 15]);
            }
        }
        i += size;
    }
    return out;
}
