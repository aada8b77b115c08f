// A uuencoded (or XXencoded) text file: the "begin" line names the output,
// the data lines after it, up to the "end" line, are decoded into that file.
// The parts of a multi-part post joined into one file decode as one: blank
// lines and remarks between them are passed over. The probe only looks at
// files whose extension starts with the handler's two alphabet letters
// ("uu", "uue" in any case; "xx", "xxe" for XX).
#pragma once

#include "core/format_handler.h"

class UuDecodeHandler : public FormatHandler {
public:
    UuDecodeHandler() : FormatHandler("UUDecode") {}
    UuDecodeHandler(const char* handlerName, unsigned char lower, unsigned char upper)
        : FormatHandler(handlerName), letterLower(lower), letterUpper(upper) {}

    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
    // Fills decodeTable and inAlphabet: ' ' to '_' stand for 0 to 63, every
    // other code for 0 ('`' among them, the usual zero-count character).
    virtual void buildDecodeTable();

protected:
    unsigned char letterLower = 'u';
    unsigned char letterUpper = 'U';
    // Value of each character code 0 to 127; only a character's low seven
    // bits are looked up.
    unsigned char decodeTable[128] = {};
    // The codes a data line may hold: what a line must be made of to start
    // a new section after a break.
    bool inAlphabet[128] = {};
};

// XXencode: the same line structure over the alphabet "+-0-9A-Za-z", each
// character standing for its position in it. Its zero-count character is
// '+', and the 'e' of "end" is a data character, so only the "end" line
// itself ends the data.
class XxDecodeHandler : public UuDecodeHandler {
public:
    XxDecodeHandler() : UuDecodeHandler("XXDecode", 'x', 'X') {}
    void buildDecodeTable() override;
};
