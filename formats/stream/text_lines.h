// Line reading shared by the Base64, UU and yEnc handlers.
#pragma once

#include <cstddef>
#include <cstdio>

namespace text_decoding {

// Reads a text file line by line through a buffer of its own, by the
// foundation's line rules: LF, CR or CR LF ends a line (none of them kept),
// a zero byte ends it too and is dropped, and a line longer than the buffer
// less one byte arrives in pieces. The last line of a file without a final
// line break counts like any other. Lines are handed out in place, writable
// and NUL-terminated, valid until the next call.
class LineReader {
public:
    LineReader(std::FILE* file, char* buffer, std::size_t capacity);
    bool next(char** line, std::size_t* length);
    // The file's end has been reached: the last line handed out was the
    // last one (it ended the file, or a lone CR did).
    bool atEnd() const { return atEnd_; }

private:
    bool refill();

    std::FILE* file_;
    char* buffer_;
    std::size_t capacity_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    bool fileEnded_ = false;
    bool atEnd_ = false;
    bool skipLineFeed_ = false;  // a CR ended the last line; an LF after it belongs to it
};

}  // namespace text_decoding
