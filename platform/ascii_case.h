// Case-blind comparison of ASCII letters, for narrow text and UTF-16 alike:
// 'A'-'Z' and 'a'-'z' fold together, every other unit (Latin-1, double-byte
// bytes) compares exactly. Extensions, window-class names, mail header
// fields and platform names all compare this way.
#pragma once

#include <string>

template <class Char>
constexpr Char asciiLower(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Same length and equal after folding; false when either is null.
template <class Char>
bool equalsIgnoreCase(const Char* a, const Char* b) {
    if (!a || !b) return false;
    for (;; ++a, ++b) {
        if (asciiLower(*a) != asciiLower(*b)) return false;
        if (*a == Char(0)) return true;
    }
}

template <class Char>
bool equalsIgnoreCase(const std::basic_string<Char>& a, const Char* b) {
    const std::basic_string<Char> other(b ? b : std::basic_string<Char>());
    if (a.size() != other.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(other[i])) return false;
    return true;
}

template <class Char>
bool startsWithIgnoreCase(const Char* text, const Char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (asciiLower(*text) != asciiLower(*prefix)) return false;
    return true;
}

// The first place in text where word starts, or null.
template <class Char>
const Char* findIgnoreCase(const Char* text, const Char* word) {
    for (; *text; ++text)
        if (startsWithIgnoreCase(text, word)) return text;
    return nullptr;
}
