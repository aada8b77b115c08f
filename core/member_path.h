// The one place that turns a stored member name into a path below the
// destination folder. Every handler goes through it.
#pragma once

#include <cstddef>

// Joins destFolder and the stored name into buffer so that the result can
// only name something below destFolder: separators `\` and `/` are both
// honoured, a drive prefix ("C:") and leading separators are dropped, "." and
// empty components vanish, ".." removes the component before it and never
// climbs above destFolder. With doubleByte, double-byte characters are kept
// whole (their second byte is never a separator); without, every byte stands
// alone (UTF-8). A name that ends in a separator keeps one trailing `\`.
// Returns false (buffer empty) when nothing usable remains or the result does
// not fit in capacity bytes.
bool joinMemberPath(char* buffer, std::size_t capacity, const char* destFolder,
                    const char* storedName, bool doubleByte = true);

// For single-stream outputs whose name comes from the data (a gzip header's
// name): only the last component of storedName is used. False when it is
// empty, "." or "..", or the result does not fit.
bool joinLastComponent(char* buffer, std::size_t capacity, const char* destFolder,
                       const char* storedName);

// destFolder, `\` and name: the output path of a derived name. False when it
// does not fit.
bool joinOutputPath(char* buffer, std::size_t capacity, const char* destFolder, const char* name);

// True when both paths spell the same file as far as the text shows (ASCII
// letter case and separator kind ignored): an output must never truncate the
// input it is read from, and a set of cabinets must not loop.
bool namesSameFile(const char* a, const char* b);
