#include "app/command_line.h"

namespace {

// The scan looks at no more than this many characters after the '('.
constexpr std::size_t kParameterScanLimit = 1023;

WCHAR lowerCase(WCHAR c) {
    if (c >= u'A' && c <= u'Z') return static_cast<WCHAR>(c - u'A' + u'a');
    // Latin-1 capitals, as the device's character lowering folds them.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WCHAR>(c + 0x20);
    return c;
}

const WCHAR* findIgnoreCase(const WCHAR* text, const WCHAR* needle) {
    if (!*needle) return text;
    for (const WCHAR* start = text; *start; ++start) {
        const WCHAR* t = start;
        const WCHAR* n = needle;
        while (*t && *n && lowerCase(*t) == lowerCase(*n)) {
            ++t;
            ++n;
        }
        if (!*n) return start;
    }
    return nullptr;
}

}  // namespace

bool containsIgnoreCase(const WCHAR* text, const WCHAR* needle) {
    return findIgnoreCase(text, needle) != nullptr;
}

ParameterResult parameterValue(const WCHAR* commandLine, const WCHAR* key, WCHAR* value,
                               std::size_t capacity) {
    if (capacity) value[0] = 0;
    WCHAR search[16];
    std::size_t keyLength = 0;
    while (key[keyLength] && keyLength < sizeof search / sizeof search[0] - 2) {
        search[keyLength] = key[keyLength];
        ++keyLength;
    }
    search[keyLength] = u'(';
    search[keyLength + 1] = 0;

    const WCHAR* found = findIgnoreCase(commandLine, search);
    if (!found) return ParameterResult::Missing;
    const WCHAR* text = found + keyLength + 1;

    int depth = 1;
    std::size_t length = 0;
    for (; text[length] && length < kParameterScanLimit; ++length) {
        if (text[length] == u'(') {
            ++depth;
        } else if (text[length] == u')') {
            if (--depth == 0) break;
        }
    }
    // A value without its closing parenthesis is not a value: taking the
    // rest of the line would turn a typo into some other path.
    if (depth != 0) return ParameterResult::Missing;
    if (length + 1 > capacity) return ParameterResult::TooLong;
    for (std::size_t i = 0; i < length; ++i) value[i] = text[i];
    value[length] = 0;
    return ParameterResult::Found;
}
