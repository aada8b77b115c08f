// A format whose reader is not part of this build yet. It claims its
// extensions, so detection order and the extension pass already behave as
// they will, but it recognises no content and extracts nothing.
#pragma once

#include <initializer_list>

#include "core/format_handler.h"

enum class ExtensionCase { Ignore, Exact };

class UnreadFormatHandler : public FormatHandler {
public:
    UnreadFormatHandler(const char* handlerName, std::initializer_list<const char*> extensions,
                        ExtensionCase extensionCase = ExtensionCase::Ignore);

    bool matchesExtension(const char* ext) override;
    bool probe(const char* path, std::int32_t fileSize) override;
    int extract(const char* path, const char* destFolder) override;

private:
    static constexpr int kMaxExtensions = 2;
    const char* extensions_[kMaxExtensions] = {};
    int extensionCount_ = 0;
    ExtensionCase extensionCase_;
};
