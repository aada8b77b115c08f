#include "formats/unread_format_handler.h"

#include <cstring>

UnreadFormatHandler::UnreadFormatHandler(const char* handlerName,
                                         std::initializer_list<const char*> extensions,
                                         ExtensionCase extensionCase)
    : FormatHandler(handlerName), extensionCase_(extensionCase) {
    for (const char* extension : extensions) {
        if (extensionCount_ < kMaxExtensions) extensions_[extensionCount_++] = extension;
    }
}

bool UnreadFormatHandler::matchesExtension(const char* ext) {
    for (int i = 0; i < extensionCount_; ++i) {
        bool same = extensionCase_ == ExtensionCase::Exact ? std::strcmp(ext, extensions_[i]) == 0
                                                           : equalsIgnoreCase(ext, extensions_[i]);
        if (same) return true;
    }
    return false;
}

bool UnreadFormatHandler::probe(const char*, std::int32_t) { return false; }

int UnreadFormatHandler::extract(const char*, const char*) { return 0; }
