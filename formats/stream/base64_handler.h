// Base64 text: "begin-base64" files and MIME messages whose parts carry
// Base64 attachments. Every Base64 body found becomes one output file, named
// by the text (begin-base64 name, MIME name= / filename=) or else from the
// file's name. The probe only looks at files named .b64, .mim or .mime.
#pragma once

#include "core/format_handler.h"

class Base64Handler : public FormatHandler {
public:
    Base64Handler() : FormatHandler("Base64 Decode") {}

    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;
};
