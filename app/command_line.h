// The keyed command line: #F(archive) #P(folder) #S(password).
#pragma once

#include <cstddef>

#include "platform/win_types.h"

enum class ParameterResult {
    Found,    // value holds the text (possibly empty: "#S()")
    Missing,  // no such key, or its value has no closing parenthesis
    TooLong,  // the value does not fit the caller's buffer
};

// Finds key followed by '(' in commandLine ignoring case and takes the text up
// to the ')' that balances it (nested parentheses are kept, so #F(a(1).zip)
// gives a(1).zip). value always ends up NUL-terminated (empty unless Found).
ParameterResult parameterValue(const WCHAR* commandLine, const WCHAR* key, WCHAR* value,
                               std::size_t capacity);

// Case-insensitive search for needle in text.
bool containsIgnoreCase(const WCHAR* text, const WCHAR* needle);
