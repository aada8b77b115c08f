#include "formats/zip/zip_result.h"

ZipResult lastZipResult = ZRES_OK;

namespace {

struct ResultText {
    ZipResult code;
    const char* text;
};

// The texts are the reader layer's own, kept as they have always read.
const ResultText kResultTexts[] = {
    {ZRES_OK, "Success"},
    {ZRES_NO_DUPLICATE, "Culdn't duplicate handle"},
    {ZRES_NO_FILE, "Couldn't create/open file"},
    {ZRES_NO_MEMORY, "Failed to allocate memory"},
    {ZRES_WRITE, "Error writing to file"},
    {ZRES_NOT_FOUND, "File not found in the zipfile"},
    {ZRES_MORE, "Still more data to unzip"},
    {ZRES_CORRUPT, "Zipfile is corrupt or not a zipfile"},
    {ZRES_READ, "Error reading file"},
    {ZRES_UNSUPPORTED, "Compression method or encryption not supported"},
    {ZRES_PASSWORD, "Correct password required"},
    {ZRES_ARGS, "Caller: faulty arguments"},
    {ZRES_NOT_MEMORY_ARCHIVE, "Caller: can only get memory of a memory zipfile"},
    {ZRES_MEMORY_SIZE, "Caller: not enough space allocated for memory zipfile"},
    {ZRES_FAILED, "Caller: there was a previous error"},
    {ZRES_ENDED, "Caller: additions to the zip have already been ended"},
    {ZRES_WRONG_SIZE, "Zip-bug: the anticipated size turned out wrong"},
    {ZRES_PARTIAL, "Caller: the file had already been partially unzipped"},
    {ZRES_MODE, "Caller: mixing creation and opening of zip"},
    {ZRES_NOT_INITIALISED, "Zip-bug: internal initialisation not completed"},
    {ZRES_SEEK, "Zip-bug: trying to seek the unseekable"},
    {ZRES_NO_CHANGE, "Zip-bug: tried to change mind, but not allowed"},
    {ZRES_FLATE, "Zip-bug: an internal error during flation"},
};

}  // namespace

std::size_t zipResultText(ZipResult code, WCHAR* buffer, std::size_t capacity) {
    if (code == ZRES_RECENT) code = lastZipResult;
    const char* text = "unknown zip result code";
    for (const ResultText& entry : kResultTexts) {
        if (entry.code == code) {
            text = entry.text;
            break;
        }
    }
    std::size_t length = 0;
    while (text[length]) ++length;
    if (buffer && capacity > 0) {
        std::size_t copied = 0;
        for (; copied + 1 < capacity && copied < length; ++copied) buffer[copied] = static_cast<WCHAR>(text[copied]);
        buffer[copied] = 0;
    }
    return length;
}
