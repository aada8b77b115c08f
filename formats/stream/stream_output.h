// Output naming and writing shared by the gzip, bzip2 and compress handlers,
// which each turn one compressed file into one output file.
#pragma once

#include <cstddef>
#include <cstdio>

// The output path of a stream whose name is derived from the archive's:
// destFolder, `\` and the archive's base name without its extension when
// that extension is plainExtension in any case (x.GZ -> x), otherwise the
// base name followed by "." and suffix (data -> data.ungzip). A base name
// that is nothing but the extension (".gz") takes the suffix form too. False
// (buffer empty) when the path does not fit in capacity bytes.
bool derivedOutputPath(char* buffer, std::size_t capacity, const char* destFolder,
                       const char* archivePath, const char* plainExtension, const char* suffix);

// Writes count bytes; false on a short write.
bool writeAll(std::FILE* output, const void* data, std::size_t count);

// Closes output; false when its buffered bytes could not be written.
bool closeOutput(std::FILE* output);

enum class NamedPath { Usable, Unusable, TooLong };

// The output path of a name taken from the text, kept to its last component
// (folders named in the text are not created, `..` and absolute names cannot
// leave destFolder). Unusable: nothing of the name is left, or it has no
// UTF-16 form. TooLong: the path would exceed the device's path limit.
NamedPath lastComponentPath(char* buffer, std::size_t capacity, const char* destFolder,
                            const char* name);
