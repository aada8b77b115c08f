// Narrow text: 8-bit, NUL-terminated, in the device's ANSI code page (932),
// with a fixed double-byte rule: a byte 0x81-0x9F or 0xE0-0xFC starts a
// two-byte character whose second byte is never read on its own.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

// Entry 0 is 0, lead bytes 2, all others 1. Built once at start-up.
extern signed char leadTable[256];
void buildLeadTable();

inline bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Steps over one character. A lead byte followed by the terminating NUL steps
// onto the NUL, never past it.
const char* nextChar(const char* p);
char* nextChar(char* p);

// The last one-byte character c in s, stepping over double-byte characters;
// nullptr when there is none.
const char* lastCharOf(const char* s, char c);

// With buffer == nullptr: the number of UTF-16 units the whole string needs,
// its NUL included (0 when it cannot be converted). With a buffer: converts
// the whole string including the NUL and returns 1, or returns 0 (buffer
// holding an empty string) when the text cannot be converted or does not fit
// in capacity units.
int toWide(const char* narrow, WCHAR* buffer, std::size_t capacity);
// The same in the other direction; capacity is in bytes.
int toNarrow(const WCHAR* wide, char* buffer, std::size_t capacity);

// Copies source into buffer when it fits (NUL included); otherwise leaves an
// empty string and returns false. Never cuts a path into another path.
bool copyBounded(char* buffer, std::size_t capacity, const char* source);
