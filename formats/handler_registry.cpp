#include "formats/handler_registry.h"

#include <new>

#include "core/format_handler.h"
#include "formats/arj/arj_handler.h"
#include "formats/cab/cab_handler.h"
#include "formats/lzh/lzh_handler.h"
#include "formats/stream/base64_handler.h"
#include "formats/stream/bzip2_handler.h"
#include "formats/stream/compress_handler.h"
#include "formats/stream/gzip_handler.h"
#include "formats/stream/uudecode_handler.h"
#include "formats/stream/yenc_handler.h"
#include "formats/tar/tar_stream_handler.h"
#include "formats/zip/zip_handler.h"

namespace {

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
    add(head, new (std::nothrow) TarStreamHandler());
    add(head, new (std::nothrow) TarGzipHandler());
    add(head, new (std::nothrow) TarBzip2Handler());
    add(head, new (std::nothrow) TarCompressHandler());
    add(head, new (std::nothrow) LzhHandler());
    add(head, new (std::nothrow) ZipHandler());
    add(head, new (std::nothrow) ArjHandler());
    add(head, new (std::nothrow) GzipHandler());
    add(head, new (std::nothrow) Bzip2Handler());
    add(head, new (std::nothrow) CompressHandler());
    add(head, new (std::nothrow) YencHandler());
    add(head, new (std::nothrow) CabHandler());
    add(head, new (std::nothrow) Base64Handler());
    add(head, new (std::nothrow) UuDecodeHandler());
    add(head, new (std::nothrow) XxDecodeHandler());
    return head;
}
