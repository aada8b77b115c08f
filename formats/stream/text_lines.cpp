#include "formats/stream/text_lines.h"

#include <cstring>

namespace text_decoding {

namespace {

struct LineBreaks {
    bool at[256] = {};
    LineBreaks() { at['\n'] = at['\r'] = at['\0'] = true; }
};
const LineBreaks kLineBreaks;

}  // namespace

LineReader::LineReader(std::FILE* file, char* buffer, std::size_t capacity)
    : file_(file), buffer_(buffer), capacity_(capacity) {}

bool LineReader::refill() {
    if (start_ > 0) {
        std::memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (fileEnded_) return false;
    // One byte always stays free for the NUL behind a line.
    const std::size_t room = capacity_ - 1 - end_;
    const std::size_t got = std::fread(buffer_ + end_, 1, room, file_);
    if (got < room) fileEnded_ = true;
    end_ += got;
    return got > 0;
}

bool LineReader::next(char** line, std::size_t* length) {
    if (atEnd_) return false;
    std::size_t scan = start_;
    for (;;) {
        std::size_t i = scan;
        while (i < end_ && !kLineBreaks.at[static_cast<unsigned char>(buffer_[i])]) ++i;
        if (i < end_) {
            const char ending = buffer_[i];
            buffer_[i] = '\0';
            *line = buffer_ + start_;
            *length = i - start_;
            start_ = i + 1;
            if (ending == '\r') {
                // The byte after a CR is looked at at once, as the
                // foundation's readLine does: it may end the file.
                if (start_ < end_) {
                    if (buffer_[start_] == '\n') ++start_;
                } else if (fileEnded_) {
                    atEnd_ = true;
                } else {
                    const int following = std::getc(file_);
                    if (following == EOF) {
                        fileEnded_ = true;
                        atEnd_ = true;
                    } else if (following != '\n') {
                        std::ungetc(following, file_);
                    }
                }
            }
            return true;
        }
        if (end_ - start_ >= capacity_ - 1) {
            // A line longer than the buffer: this piece now, the rest next.
            buffer_[end_] = '\0';
            *line = buffer_ + start_;
            *length = end_ - start_;
            start_ = end_;
            return true;
        }
        const std::size_t scanned = end_ - start_;
        if (!refill()) {
            atEnd_ = true;
            if (start_ == end_) return false;
            buffer_[end_] = '\0';
            *line = buffer_ + start_;
            *length = end_ - start_;
            start_ = end_;
            return true;
        }
        scan = start_ + scanned;
    }
}

}  // namespace text_decoding
