#include "core/format_handler.h"

#include "core/narrow_text.h"

FormatHandler::~FormatHandler() {
    // The list is short (fifteen handlers), so the recursion stays shallow.
    delete next;
}

bool FormatHandler::matchesExtension(const char*) { return false; }

void appendHandler(FormatHandler* list, FormatHandler* handler) {
    if (!list || !handler) return;
    FormatHandler* last = list;
    while (last->next) last = last->next;
    last->next = handler;
}

const char* extensionOf(const char* path) {
    const char* lastDot = nullptr;
    const char* p = path;
    while (*p) {
        if (*p == '\\' || *p == '/') {
            lastDot = nullptr;
        } else if (*p == '.') {
            lastDot = p;
        }
        p = nextChar(p);
    }
    return lastDot ? lastDot + 1 : p;
}

bool equalsIgnoreCase(const char* a, const char* b) {
    auto fold = [](unsigned char c) -> unsigned char {
        return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
    };
    while (*a && *b) {
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b))) return false;
        ++a;
        ++b;
    }
    return *a == *b;
}
