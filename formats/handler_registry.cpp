#include "formats/handler_registry.h"

#include <new>

#include "core/format_handler.h"
#include "formats/stream/bzip2_handler.h"
#include "formats/stream/compress_handler.h"
#include "formats/stream/gzip_handler.h"
#include "formats/unread_format_handler.h"

namespace {

// The TAR family's names end in the two Shift-JIS characters for
// "extraction" (93 57 8A 4A).
#define EXTRACTION_SUFFIX " \x93\x57\x8A\x4A"

void add(FormatHandler*& head, FormatHandler* handler) {
    if (!handler) return;
    if (!head) {
        head = handler;
    } else {
        appendHandler(head, handler);
    }
}

}  // namespace

FormatHandler* buildHandlerList() {
    FormatHandler* head = nullptr;
    add(head, new (std::nothrow) UnreadFormatHandler("Tar", {"tar"}));
    add(head, new (std::nothrow) UnreadFormatHandler("Tar+Gzip" EXTRACTION_SUFFIX, {"gz", "tgz"}));
    add(head, new (std::nothrow) UnreadFormatHandler("Tar+Bzip2" EXTRACTION_SUFFIX, {"bz2", "tbz"}));
    add(head, new (std::nothrow) UnreadFormatHandler("Tar+Compress" EXTRACTION_SUFFIX, {"Z", "taZ"},
                                                     ExtensionCase::Exact));
    add(head, new (std::nothrow) UnreadFormatHandler("Lzh", {"lzh"}));
    add(head, new (std::nothrow) UnreadFormatHandler("ZIP", {"zip"}));
    add(head, new (std::nothrow) UnreadFormatHandler("Arj", {"arj"}));
    add(head, new (std::nothrow) GzipHandler());
    add(head, new (std::nothrow) Bzip2Handler());
    add(head, new (std::nothrow) CompressHandler());
    add(head, new (std::nothrow) UnreadFormatHandler("yDecode", {"ntx"}));
    add(head, new (std::nothrow) UnreadFormatHandler("CAB", {"cab"}));
    add(head, new (std::nothrow) UnreadFormatHandler("Base64 Decode", {}));
    add(head, new (std::nothrow) UnreadFormatHandler("UUDecode", {}));
    return head;
}
